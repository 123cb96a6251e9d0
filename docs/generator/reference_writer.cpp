#include "reference_writer.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace tarn::docs {
namespace {

constexpr char kGeneratedBanner[] =
    "<!-- Generated from the type library by docs/generator, with the notes of docs/notes.\n"
    "     Edit the notes (or the IDL), then regenerate: tools/update-reference. -->\n";
constexpr char kNoNotes[] = "> **No notes yet.** Nothing has been written about this member's behaviour, "
                            "errors or timing; add `docs/notes/%s.md`.";

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                          nullptr);
    return result;
}

std::string Dispid(MEMBERID id) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld (0x%lX)", static_cast<long>(id), static_cast<unsigned long>(id));
    return text;
}

// GitHub-style anchors: lower case, blanks to dashes.
std::string Anchor(const std::wstring& heading) {
    std::string anchor;
    for (char c : Utf8(heading)) {
        if (c >= 'A' && c <= 'Z') anchor += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') anchor += c;
        else if (c == ' ') anchor += '-';
    }
    return anchor;
}

std::wstring ObjectVariable(const std::wstring& className) {
    std::wstring name = className;
    if (!name.empty()) name[0] = static_cast<wchar_t>(::towlower(name[0]));
    return name;
}

// A property's get and put share one entry.
struct Entry {
    std::wstring name;
    const Member* method = nullptr;
    const Member* get = nullptr;
    const Member* put = nullptr;
    const Member* first() const { return method ? method : get ? get : put; }
};

std::vector<Entry> EntriesOf(const Interface& iface) {
    std::vector<Entry> entries;
    for (const Member& member : iface.members) {
        Entry* entry = nullptr;
        if (member.kind == MemberKind::PropertyGet || member.kind == MemberKind::PropertyPut) {
            for (Entry& existing : entries)
                if (!existing.method && existing.name == member.name) entry = &existing;
        }
        if (!entry) {
            entries.push_back(Entry{member.name});
            entry = &entries.back();
        }
        if (member.kind == MemberKind::PropertyGet) entry->get = &member;
        else if (member.kind == MemberKind::PropertyPut) entry->put = &member;
        else entry->method = &member;
    }
    return entries;
}

std::string KindText(const Entry& entry) {
    if (entry.method) return entry.method->kind == MemberKind::Event ? "event" : "method";
    if (entry.get && entry.put) return "property, read and write";
    return entry.get ? "property, read only" : "property, write only";
}

const Parameter* ReturnValue(const Member& member) {
    for (const Parameter& parameter : member.parameters)
        if (parameter.retval) return &parameter;
    return nullptr;
}

// How a script or Visual Basic client writes the call.
std::wstring AutomationForm(const std::wstring& object, const Member& member) {
    std::wstring arguments;
    for (const Parameter& parameter : member.parameters) {
        if (parameter.retval || (member.kind == MemberKind::PropertyPut && &parameter == &member.parameters.back()))
            continue;
        const std::wstring piece = (arguments.empty() ? L"" : L", ") + parameter.name;
        arguments += parameter.optional ? L"[" + piece + L"]" : piece;
    }
    const std::wstring call = object + L"." + member.name;
    switch (member.kind) {
    case MemberKind::Event: return L"Sub " + member.name + L"(" + arguments + L")";
    case MemberKind::PropertyGet: return L"value = " + call + (arguments.empty() ? L"" : L"(" + arguments + L")");
    case MemberKind::PropertyPut: return call + (arguments.empty() ? L"" : L"(" + arguments + L")") + L" = value";
    default:
        if (ReturnValue(member)) return L"result = " + call + L"(" + arguments + L")";
        return call + (arguments.empty() ? L"" : L" " + arguments);
    }
}

// How a C++ client sees it in the header the IDL compiler writes.
std::wstring CppForm(const Member& member) {
    std::wstring name = member.name;
    if (member.kind == MemberKind::PropertyGet) name = L"get_" + name;
    if (member.kind == MemberKind::PropertyPut) name = L"put_" + name;
    std::wstring arguments;
    for (const Parameter& parameter : member.parameters)
        arguments += (arguments.empty() ? L"" : L", ") + parameter.type + L" " + parameter.name;
    return L"HRESULT " + name + L"(" + arguments + L");";
}

std::string DirectionText(const Parameter& parameter) {
    std::string text;
    if (parameter.in) text = "in";
    if (parameter.out) text += text.empty() ? "out" : ", out";
    if (parameter.retval) text += ", retval";
    return text;
}

std::string DefaultColumn(const Parameter& parameter) {
    if (parameter.retval) return "";
    if (!parameter.defaultValue.empty()) return "optional, default `" + Utf8(parameter.defaultValue) + "`";
    if (parameter.optional) return "optional, missing when omitted";
    return "required";
}

void WriteParameters(std::string& page, const Member& member) {
    bool any = false;
    for (const Parameter& parameter : member.parameters) {
        if (!any) page += "| Parameter | C++ type | Direction | When omitted |\n|---|---|---|---|\n";
        any = true;
        const std::string name = member.kind == MemberKind::PropertyPut && &parameter == &member.parameters.back()
                                     ? "(the new value)"
                                     : "`" + Utf8(parameter.name) + "`";
        page += "| " + name + " | `" + Utf8(parameter.type) + "` | " + DirectionText(parameter) + " | " +
                DefaultColumn(parameter) + " |\n";
    }
    if (any) page += "\n";
}

// Markdown heading marks: a class on a page of its own is a level-1 heading, a
// class on its library's page a level-2 one, and everything below it follows.
std::string Heading(int level) { return std::string(static_cast<size_t>(level), '#') + " "; }

void WriteEntry(std::string& page, int level, const std::wstring& className, const std::wstring& interfaceName,
                const Entry& entry, Notes& notes, int& withoutNotes) {
    page += Heading(level) + Utf8(entry.name) + "\n\n";
    std::string facts = KindText(entry);
    for (const Member* member : {entry.method, entry.get, entry.put}) {
        if (!member) continue;
        if (member == entry.first()) facts += " · DISPID " + Dispid(member->dispid);
        if (member->slot > 0) {
            const char* what = member->kind == MemberKind::PropertyGet   ? " (get)"
                               : member->kind == MemberKind::PropertyPut ? " (put)"
                                                                          : "";
            facts += " · slot " + std::to_string(member->slot) + what;
        }
    }
    facts += " · help string \"" + Utf8(entry.first()->help) + "\"";
    page += facts + "\n\n```\n";
    const std::wstring object = ObjectVariable(className);
    for (const Member* member : {entry.method, entry.get, entry.put}) {
        if (!member) continue;
        page += Utf8(AutomationForm(object, *member)) + "\n";
    }
    for (const Member* member : {entry.method, entry.get, entry.put}) {
        if (!member) continue;
        page += Utf8(CppForm(*member)) + (entry.method && entry.method->kind == MemberKind::Event
                                              ? "   // called through IDispatch::Invoke\n"
                                              : "   // " + Utf8(interfaceName) + "\n");
    }
    page += "```\n\n";
    for (const Member* member : {entry.method, entry.get, entry.put})
        if (member) WriteParameters(page, *member);

    const Member& shown = entry.method ? *entry.method : entry.get ? *entry.get : *entry.put;
    if (shown.kind != MemberKind::Event) {
        if (const Parameter* result = ReturnValue(shown))
            page += "Returns `" + Utf8(result->type.substr(0, result->type.size() - 1)) + "` (through `" +
                    Utf8(result->name) + "`).\n\n";
        else if (shown.kind != MemberKind::PropertyPut)
            page += "Returns nothing.\n\n";
    }

    const std::wstring key = className + L"." + entry.name;
    if (auto note = notes.Take(key)) {
        page += *note + "\n\n";
    } else {
        char marker[256];
        std::snprintf(marker, sizeof marker, kNoNotes, Utf8(key).c_str());
        page += std::string(marker) + "\n\n";
        ++withoutNotes;
    }
}

// A class: its identity, its note, its members in vtable order and its events,
// under a heading of `level`.
void WriteClass(std::string& page, int level, const Library& library, const Class& cls, Notes& notes,
                int& withoutNotes) {
    const std::string name = Utf8(cls.name);
    page += Heading(level) + name + "\n\n" + Utf8(cls.help) + ".\n\n";
    page += "| | |\n|---|---|\n";
    page += "| ProgID | `" + Utf8(library.name) + "." + name + "` (versioned: `" + Utf8(library.name) + "." + name +
            ".1`) |\n";
    page += "| CLSID | `" + Utf8(cls.clsid) + "` |\n";
    page += "| Default interface | `" + Utf8(cls.defaultInterface.name) + "` `" + Utf8(cls.defaultInterface.iid) +
            "`, dual |\n";
    if (cls.hasEvents)
        page += "| Events | `" + Utf8(cls.events.name) + "` `" + Utf8(cls.events.iid) +
                "`, dispatch interface (default source) |\n";
    page += "\n";
    if (auto note = notes.Take(cls.name)) page += *note + "\n\n";

    const std::vector<Entry> entries = EntriesOf(cls.defaultInterface);
    std::vector<Entry> events;
    if (cls.hasEvents) events = EntriesOf(cls.events);

    page += Heading(level + 1) + "Members\n\n| Member | Kind | DISPID |\n|---|---|---|\n";
    for (const std::vector<Entry>* list : {&entries, static_cast<const std::vector<Entry>*>(&events)})
        for (const Entry& entry : *list)
            page += "| [" + Utf8(entry.name) + "](#" + Anchor(entry.name) + ") | " + KindText(entry) + " | " +
                    std::to_string(entry.first()->dispid) + " |\n";
    page += "\nSlots count from the first entry after `IDispatch`'s seven.\n\n";

    page += Heading(level + 1) + "Methods and properties\n\n";
    for (const Entry& entry : entries)
        WriteEntry(page, level + 2, cls.name, cls.defaultInterface.name, entry, notes, withoutNotes);
    if (cls.hasEvents) {
        page += Heading(level + 1) + "Events\n\n";
        for (const Entry& entry : events)
            WriteEntry(page, level + 2, cls.name, cls.events.name, entry, notes, withoutNotes);
    }
}

std::string ClassPage(const Library& library, const Class& cls, Notes& notes, int& withoutNotes) {
    std::string page = std::string(kGeneratedBanner) + "\n";
    WriteClass(page, 1, library, cls, notes, withoutNotes);
    page.pop_back();  // one line end at the end of the file
    return page;
}

std::string LibraryIdentity(const Library& library) {
    return Utf8(library.help) + ", version " + std::to_string(library.major) + "." + std::to_string(library.minor) +
           ", LIBID `" + Utf8(library.libid) + "`.\n\n";
}

// The table of a library's classes, each linked to where `linkOf` says it is described.
template <typename LinkOf>
std::string ClassTable(const Library& library, LinkOf linkOf) {
    std::string table = "| Class | ProgID | |\n|---|---|---|\n";
    for (const Class& cls : library.classes)
        table += "| [" + Utf8(cls.name) + "](" + linkOf(cls) + ") | `" + Utf8(library.name) + "." + Utf8(cls.name) +
                 "` | " + Utf8(cls.help) + " |\n";
    return table;
}

// A library beside the main one, all its classes on one page.
std::string CompanionPage(const Library& library, Notes& notes, int& withoutNotes) {
    std::string page = kGeneratedBanner;
    page += "\n# " + Utf8(library.name) + "\n\n" + LibraryIdentity(library);
    if (auto note = notes.Take(library.name)) page += *note + "\n\n";
    page += ClassTable(library, [](const Class& cls) { return "#" + Anchor(cls.name); });
    page += "\n";
    for (const Class& cls : library.classes) WriteClass(page, 2, library, cls, notes, withoutNotes);
    page.pop_back();
    return page;
}

std::string EnumerationsPage(const Library& library, Notes& notes) {
    std::string page = kGeneratedBanner;
    page += "\n# Enumerations\n\n";
    for (const Enumeration& enumeration : library.enumerations) {
        page += "## " + Utf8(enumeration.name) + "\n\n";
        if (auto note = notes.Take(enumeration.name)) page += *note + "\n\n";
        page += "| Name | Value |\n|---|---|\n";
        for (const auto& [name, value] : enumeration.values)
            page += "| `" + Utf8(name) + "` | " + std::to_string(value) + " |\n";
        page += "\n";
    }
    page.pop_back();
    return page;
}

std::string IndexPage(const Library& library, const std::vector<Library>& companions, Notes& notes) {
    std::string page = kGeneratedBanner;
    page += "\n# " + Utf8(library.name) + " reference\n\n" + LibraryIdentity(library);
    if (auto note = notes.Take(library.name)) page += *note + "\n\n";
    page += ClassTable(library, [](const Class& cls) { return Utf8(cls.name) + ".md"; });
    page += "\n[Enumerations](enumerations.md):";
    for (const Enumeration& enumeration : library.enumerations) page += " `" + Utf8(enumeration.name) + "`";
    page += ".\n";
    for (const Library& companion : companions) {
        page += "\nCompanion library [" + Utf8(companion.name) + "](" + Utf8(companion.name) + ".md):";
        for (const Class& cls : companion.classes) page += " `" + Utf8(companion.name) + "." + Utf8(cls.name) + "`";
        page += " (" + Utf8(companion.help) + ").\n";
    }
    return page;
}

}  // namespace

WriteOutcome WriteReference(const Library& library, const std::vector<Library>& companions, Notes& notes) {
    WriteOutcome outcome;
    outcome.pages[L"README.md"] = IndexPage(library, companions, notes);
    for (const Library& companion : companions)
        outcome.pages[companion.name + L".md"] = CompanionPage(companion, notes, outcome.membersWithoutNotes);
    for (const Class& cls : library.classes)
        outcome.pages[cls.name + L".md"] = ClassPage(library, cls, notes, outcome.membersWithoutNotes);
    outcome.pages[L"enumerations.md"] = EnumerationsPage(library, notes);
    return outcome;
}

}  // namespace tarn::docs
