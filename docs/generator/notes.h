#pragma once
// The hand-written behaviour notes beside the generated reference: one
// Markdown file per class, member, event or enumeration (<Class>.md,
// <Class>.<Member>.md, <Enumeration>.md).  Each note is taken once; a note
// that nothing takes names something the type library no longer has.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarn::docs {

class Notes {
public:
    // Reads every *.md file of `folder`; false if the folder cannot be read.
    bool Load(const std::wstring& folder);

    std::optional<std::string> Take(const std::wstring& key);
    std::vector<std::wstring> Untaken() const;

private:
    std::map<std::wstring, std::string> texts_;
    std::map<std::wstring, bool> taken_;
};

}  // namespace tarn::docs
