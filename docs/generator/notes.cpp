#include "notes.h"

#include <windows.h>

#include "platform/unique_handle.h"

namespace tarn::docs {
namespace {

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : handle_(h) {}
    ~FindHandle() { if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    return true;
}

}  // namespace

bool Notes::Load(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    FindHandle search(::FindFirstFileW((folder + L"\\*.md").c_str(), &found));
    if (!search.valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        std::wstring name = found.cFileName;
        std::string text;
        if (!ReadWholeFile(folder + L"\\" + name, text)) return false;
        // Notes are kept with Unix line ends; a stray CR would make the output differ by checkout.
        std::string clean;
        for (char c : text)
            if (c != '\r') clean += c;
        while (!clean.empty() && clean.back() == '\n') clean.pop_back();
        const std::wstring key = name.substr(0, name.size() - 3);
        texts_[key] = clean;
        taken_[key] = false;
    } while (::FindNextFileW(search.get(), &found));
    return true;
}

std::optional<std::string> Notes::Take(const std::wstring& key) {
    auto found = texts_.find(key);
    if (found == texts_.end()) return std::nullopt;
    taken_[key] = true;
    return found->second;
}

std::vector<std::wstring> Notes::Untaken() const {
    std::vector<std::wstring> keys;
    for (const auto& [key, taken] : taken_)
        if (!taken) keys.push_back(key);
    return keys;
}

}  // namespace tarn::docs
