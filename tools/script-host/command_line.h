#pragma once
// The host's command line, read as Windows' console script host reads it:
// arguments that begin with "//" are the host's own options wherever they
// stand; the first other argument names the script, and the rest are its own.
#include <string>
#include <vector>

namespace tarn::host {

struct CommandLine {
    std::wstring script;                  // as given; empty when none was
    std::vector<std::wstring> arguments;  // the script's own
    std::wstring engine;                  // "VBScript", "JScript", or empty: by the script's extension
    bool logo = true;
    unsigned long timeoutSeconds = 0;     // 0: no limit
    bool help = false;
    std::wstring error;                   // why the command line cannot run; empty when it can
};

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments);

// The engine's ProgID for a script file ("VBScript", "JScript"), or empty when
// its extension names none.
std::wstring EngineForFile(const std::wstring& script);

// The usage text printed for //? and for a command line without a script.
const wchar_t* Usage() noexcept;

}  // namespace tarn::host
