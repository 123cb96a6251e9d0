#include "command_line.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace tarn::host {
namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// One "//" option (already in lower case, without the slashes); false when unknown.
bool TakeOption(const std::wstring& option, CommandLine& line) {
    if (option == L"nologo") {
        line.logo = false;
    } else if (option == L"logo") {
        line.logo = true;
    } else if (option == L"?") {
        line.help = true;
    } else if (StartsWith(option, L"t:")) {
        const std::wstring digits = option.substr(2);
        wchar_t* end = nullptr;
        const unsigned long seconds = std::wcstoul(digits.c_str(), &end, 10);
        if (digits.empty() || *end != L'\0' || seconds > 32767) {
            line.error = L"Invalid timeout value \"" + digits + L"\" (1 to 32767 seconds).";
        }
        line.timeoutSeconds = seconds;
    } else if (StartsWith(option, L"e:")) {
        const std::wstring engine = option.substr(2);
        if (engine == L"vbscript" || engine == L"vbs") line.engine = L"VBScript";
        else if (engine == L"jscript" || engine == L"js" || engine == L"javascript") line.engine = L"JScript";
        else line.error = L"There is no script engine \"" + engine + L"\".";
    } else if (option == L"b" || option == L"i" || option == L"d" || option == L"x" || option == L"s" ||
               option == L"u" || StartsWith(option, L"h:") || StartsWith(option, L"job:")) {
        // Options of Windows' host that change nothing in a console run here.
    } else {
        return false;
    }
    return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLine line;
    for (const std::wstring& argument : arguments) {
        if (StartsWith(argument, L"//")) {
            if (!TakeOption(Lower(argument.substr(2)), line) && line.error.empty())
                line.error = L"Unknown option \"" + argument + L"\" specified.";
        } else if (line.script.empty()) {
            line.script = argument;
        } else {
            line.arguments.push_back(argument);
        }
    }
    return line;
}

std::wstring EngineForFile(const std::wstring& script) {
    const size_t dot = script.find_last_of(L'.');
    const size_t slash = script.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
    const std::wstring extension = Lower(script.substr(dot));
    if (extension == L".vbs") return L"VBScript";
    if (extension == L".js") return L"JScript";
    return {};
}

const wchar_t* Usage() noexcept {
    return L"Usage: tarnscript [//options] SCRIPT.vbs|SCRIPT.js [arguments]\r\n"
           L"  //nologo      no banner (//logo: the banner)\r\n"
           L"  //T:nn        stop the script after nn seconds\r\n"
           L"  //E:engine    VBScript or JScript, whatever the file's extension\r\n"
           L"  //?           this text\r\n"
           L"Windows' other host options (//B, //I, //H:, //S, //D, //X, //U, //Job:) are accepted and change nothing.\r\n";
}

}  // namespace tarn::host
