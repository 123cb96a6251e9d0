#include "platform/trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "platform/unique_handle.h"

namespace tarn {
namespace {

constexpr wchar_t kKeyPath[] = L"Software\\TarnDriver\\Trace";
constexpr DWORD kDefaultMaxKilobytes = 16 * 1024;
constexpr size_t kPathChars = 1024;
constexpr size_t kLineOnStack = 1024;

struct Settings {
    int level = 0;
    wchar_t file[kPathChars] = {};
    DWORD maxKilobytes = kDefaultMaxKilobytes;
};

// The user's key, then the machine's: both modules read the 64-bit view, so
// one machine key serves 32-bit and 64-bit clients alike.
bool ReadRegistry(const wchar_t* name, DWORD type, void* out, DWORD size) noexcept {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) continue;
        DWORD bytes = size;
        const LSTATUS status = ::RegGetValueW(key, nullptr, name, type, nullptr, out, &bytes);
        ::RegCloseKey(key);
        if (status == ERROR_SUCCESS) return true;
    }
    return false;
}

// A developer's variable wins over the registry, value by value.
bool ReadNumber(const wchar_t* variable, const wchar_t* value, DWORD& out) noexcept {
    wchar_t text[32];
    const DWORD length = ::GetEnvironmentVariableW(variable, text, 32);
    if (length > 0 && length < 32) {
        wchar_t* end = nullptr;
        const unsigned long number = wcstoul(text, &end, 10);
        if (end != text && *end == L'\0') {
            out = static_cast<DWORD>(number);
            return true;
        }
    }
    return ReadRegistry(value, RRF_RT_REG_DWORD, &out, sizeof out);
}

Settings ReadSettings() noexcept {
    Settings settings;
    const DWORD length = ::GetEnvironmentVariableW(L"TARN_TRACE", settings.file, kPathChars);
    if (length == 0 || length >= kPathChars) {
        settings.file[0] = L'\0';
        // Asked for a string, RegGetValue expands REG_EXPAND_SZ too, so %TEMP%\tarn.log works.
        if (!ReadRegistry(L"File", RRF_RT_REG_SZ, settings.file, sizeof settings.file))
            settings.file[0] = L'\0';
    }
    DWORD level = settings.file[0] ? 2 : 0;  // a file named without a level: every call
    ReadNumber(L"TARN_TRACE_LEVEL", L"Level", level);
    settings.level = level > 3 ? 3 : static_cast<int>(level);
    DWORD maxKilobytes = 0;
    if (ReadNumber(L"TARN_TRACE_MAX_KB", L"MaxKilobytes", maxKilobytes) && maxKilobytes > 0)
        settings.maxKilobytes = maxKilobytes;
    return settings;
}

// Appends only, and lets other processes append, read, and rotate it away.
HANDLE OpenForAppend(const wchar_t* path) noexcept {
    return ::CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool SameFile(HANDLE a, HANDLE b) noexcept {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// The one record of the trace in a process: its file and settings.
class TraceFile {
public:
    void Reload() noexcept {
        const Settings settings = ReadSettings();
        ::AcquireSRWLockExclusive(&lock_);
        const bool samePath = wcscmp(settings.file, path_) == 0;
        if (settings.level == 0 || settings.file[0] == L'\0') {
            file_.reset();
            path_[0] = L'\0';
        } else if (!samePath || !file_) {
            wcscpy(path_, settings.file);
            file_.reset(OpenForAppend(path_));  // a file that cannot be written: as if off
        }
        maxBytes_ = static_cast<ULONGLONG>(settings.maxKilobytes) * 1024;
        // A level without a file: the lines go to the debug output only.
        const bool debugOutputOnly = settings.level > 0 && settings.file[0] == L'\0';
        debugOutputOnly_.store(debugOutputOnly, std::memory_order_relaxed);
        trace_detail::level.store(file_ || debugOutputOnly ? settings.level : 0, std::memory_order_relaxed);
        ::ReleaseSRWLockExclusive(&lock_);
    }

    void Append(const char* line, DWORD length) noexcept {
        ::AcquireSRWLockExclusive(&lock_);
        if (file_) {
            DWORD written = 0;
            ::WriteFile(file_.get(), line, length, &written, nullptr);
            RotateIfFull();
        }
        ::ReleaseSRWLockExclusive(&lock_);
    }

    // The debug output costs a lot per line (about 80 us under Wine), so a
    // traced file gets it only while a debugger is attached.
    bool DebugOutputWanted() const noexcept {
        return debugOutputOnly_.load(std::memory_order_relaxed) || ::IsDebuggerPresent();
    }

private:
    // One older generation is kept as "<file>.1".  Another process may have
    // rotated already: then this one only follows to the new file.
    void RotateIfFull() noexcept {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) < maxBytes_) return;
        UniqueFileHandle current(::CreateFileW(path_, FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        if (current && SameFile(current.get(), file_.get())) {
            wchar_t older[kPathChars + 2];
            _snwprintf(older, kPathChars + 2, L"%ls.1", path_);
            older[kPathChars + 1] = L'\0';
            current.reset();
            ::MoveFileExW(path_, older, MOVEFILE_REPLACE_EXISTING);
        }
        file_.reset(OpenForAppend(path_));
        if (!file_) trace_detail::level.store(0, std::memory_order_relaxed);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    UniqueFileHandle file_;
    wchar_t path_[kPathChars] = {};
    ULONGLONG maxBytes_ = static_cast<ULONGLONG>(kDefaultMaxKilobytes) * 1024;
    std::atomic<bool> debugOutputOnly_{false};
};

TraceFile& File() noexcept {
    static TraceFile file;
    return file;
}

// The last two parts of a source path: "serial/rs232_driver.cpp".
const char* ShortSourcePath(const char* path) noexcept {
    const char* shortest = path;
    int separators = 0;
    for (const char* p = path + strlen(path); p > path; --p) {
        if (p[-1] == '/' || p[-1] == '\\') {
            shortest = p;
            if (++separators == 2) break;
        }
    }
    return shortest;
}

// The same line for a debugger or a debug-output viewer.
void SendToDebugOutput(const char* line, size_t length) noexcept {
    const int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, line, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0) return;
    auto* wide = static_cast<wchar_t*>(
        ::HeapAlloc(::GetProcessHeap(), 0, (static_cast<size_t>(wideLength) + 1) * sizeof(wchar_t)));
    if (!wide) return;
    ::MultiByteToWideChar(CP_UTF8, 0, line, static_cast<int>(length), wide, wideLength);
    wide[wideLength] = L'\0';
    ::OutputDebugStringW(wide);
    ::HeapFree(::GetProcessHeap(), 0, wide);
}

}  // namespace

void ReloadTraceSettings() noexcept {
    LastErrorKept kept;
    File().Reload();
}

void WriteTraceLine(const char* text, size_t length) noexcept {
    if (!TraceWants(TraceLevel::Failures)) return;
    LastErrorKept kept;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char prefix[96];
    const int prefixResult = snprintf(prefix, sizeof prefix, "%04u-%02u-%02u %02u:%02u:%02u.%03u %lu %lu ",
                                       now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                       now.wMilliseconds, ::GetCurrentProcessId(), ::GetCurrentThreadId());
    const size_t prefixLength = FormattedLength(prefixResult, sizeof prefix);
    if (prefixLength == 0) return;
    const size_t total = prefixLength + length + 2;
    if (total > 0x7fffffff) return;
    char onStack[kLineOnStack];
    char* line = total <= sizeof onStack ? onStack : static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, total));
    if (!line) return;
    memcpy(line, prefix, prefixLength);
    memcpy(line + prefixLength, text, length);
    memcpy(line + prefixLength + length, "\r\n", 2);
    File().Append(line, static_cast<DWORD>(total));

    if (File().DebugOutputWanted()) SendToDebugOutput(line, total);
    if (line != onStack) ::HeapFree(::GetProcessHeap(), 0, line);
}

void DescribeErrorCode(DWORD code, char* out, size_t capacity) noexcept {
    if (capacity == 0) return;
    out[0] = '\0';
    wchar_t text[256];
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                    text, 256, nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        --length;
    if (length == 0) return;
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out,
                                            static_cast<int>(capacity - 1), nullptr, nullptr);
    out[bytes > 0 ? bytes : 0] = '\0';
}

void TraceFailedResult(const char* file, int line, const char* expression, HRESULT hr) noexcept {
    LastErrorKept kept;
    char meaning[256], text[768];
    DescribeErrorCode(static_cast<DWORD>(hr), meaning, sizeof meaning);
    const int length = snprintf(text, sizeof text, "failed at %s:%d: %s -> 0x%08lX \"%s\"", ShortSourcePath(file),
                                 line, expression, static_cast<unsigned long>(hr), meaning);
    WriteTraceLine(text, FormattedLength(length, sizeof text));
}

void TraceFailedSystemCall(const char* file, int line, const char* call, DWORD error) noexcept {
    LastErrorKept kept;
    char meaning[256], text[768];
    DescribeErrorCode(error, meaning, sizeof meaning);
    const int length = snprintf(text, sizeof text, "failed at %s:%d: %s -> error %lu \"%s\"", ShortSourcePath(file),
                                 line, call, static_cast<unsigned long>(error), meaning);
    WriteTraceLine(text, FormattedLength(length, sizeof text));
}

}  // namespace tarn
