// Writes the Markdown reference of a type library, with the hand-written notes
// merged in:
//
//   reference_generator TYPELIB NOTES-FOLDER OUTPUT-FOLDER [COMPANION-TYPELIB...]
//
// The first library gets the index, a page per class and the enumerations;
// each companion library (the scripting kit) a page of its own.
// Exits 1 when the library cannot be read, a page cannot be written, or a note
// names nothing in the library (a member was renamed or removed).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <vector>

#include "notes.h"
#include "platform/com_ptr.h"
#include "platform/unique_handle.h"
#include "reference_writer.h"
#include "type_library_model.h"

namespace {

HRESULT ReadTypeLibrary(const wchar_t* path, tarn::docs::Library& library) {
    tarn::ComPtr<ITypeLib> typeLibrary;
    HRESULT hr = ::LoadTypeLibEx(path, REGKIND_NONE, typeLibrary.put());
    if (SUCCEEDED(hr)) hr = tarn::docs::ReadLibrary(typeLibrary.get(), library);
    if (FAILED(hr))
        std::fwprintf(stderr, L"reference_generator: cannot read %ls: 0x%08lX\n", path, static_cast<unsigned long>(hr));
    return hr;
}

bool WritePage(const std::wstring& path, const std::string& text) {
    tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fwprintf(stderr, L"usage: reference_generator TYPELIB NOTES-FOLDER OUTPUT-FOLDER [COMPANION-TYPELIB...]\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int exitCode = 0;
    {
        tarn::docs::Library library;
        HRESULT hr = ReadTypeLibrary(argv[1], library);
        std::vector<tarn::docs::Library> companions(static_cast<size_t>(argc - 4));
        for (int i = 4; i < argc && SUCCEEDED(hr); ++i)
            hr = ReadTypeLibrary(argv[i], companions[static_cast<size_t>(i - 4)]);
        tarn::docs::Notes notes;
        if (FAILED(hr)) {
            exitCode = 1;
        } else if (!notes.Load(argv[2])) {
            std::fwprintf(stderr, L"reference_generator: cannot read the notes in %ls\n", argv[2]);
            exitCode = 1;
        } else {
            const tarn::docs::WriteOutcome outcome = tarn::docs::WriteReference(library, companions, notes);
            for (const auto& [name, text] : outcome.pages) {
                const std::wstring path = std::wstring(argv[3]) + L"\\" + name;
                if (!WritePage(path, text)) {
                    std::fwprintf(stderr, L"reference_generator: cannot write %ls\n", path.c_str());
                    exitCode = 1;
                }
            }
            for (const std::wstring& key : notes.Untaken()) {
                std::fwprintf(stderr, L"reference_generator: docs/notes/%ls.md names nothing in the type library\n",
                              key.c_str());
                exitCode = 1;
            }
            std::wprintf(L"%zu pages, %d members without notes\n", outcome.pages.size(), outcome.membersWithoutNotes);
        }
    }
    ::CoUninitialize();
    return exitCode;
}
