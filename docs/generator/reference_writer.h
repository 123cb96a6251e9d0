#pragma once
// Writes the reference as Markdown: an index, one page per class (its members
// in vtable order, its events) and one page of enumerations, each member with
// its generated facts followed by its hand-written note, or a marker that it
// has none yet.  Companion libraries (the scripting kit) get one page each,
// all their classes on it, linked from the index.
#include <map>
#include <string>
#include <vector>

#include "notes.h"
#include "type_library_model.h"

namespace tarn::docs {

// File name (relative to the reference folder) -> UTF-8 content.
using Pages = std::map<std::wstring, std::string>;

struct WriteOutcome {
    Pages pages;
    int membersWithoutNotes = 0;
};

WriteOutcome WriteReference(const Library& library, const std::vector<Library>& companions, Notes& notes);

}  // namespace tarn::docs
