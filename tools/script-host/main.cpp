// tarnscript: the project's console script host.  Runs a .vbs or .js on the
// system's Active Scripting engines with a WScript object of its own, and
// fails loudly: a missing file, a syntax error and a runtime error each print
// where and why to stderr and end the run with exit code 1.  Otherwise the
// exit code is WScript.Quit's, or 0.
#include <windows.h>
#include <activscp.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "console_text.h"
#include "platform/unique_handle.h"
#include "script_file.h"
#include "script_site.h"
#include "wscript.h"

namespace tarn::host {
namespace {

constexpr int kFailed = ScriptSite::kFailedExitCode;

class ApartmentScope {
public:
    ApartmentScope() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ApartmentScope() { if (SUCCEEDED(hr_)) ::CoUninitialize(); }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;
    HRESULT Result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

int InputError(const std::wstring& message) {
    WriteLine(Stream::Error, L"Input Error: " + message);
    return kFailed;
}

std::wstring FullPathOf(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    return length == 0 || length >= MAX_PATH * 4 ? path : std::wstring(full, length);
}

std::wstring HostPath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length < MAX_PATH * 4 ? length : 0);
}

// //T:nn: a script still running after its time is stopped, the whole process with it.
class Watchdog {
public:
    Watchdog(unsigned long seconds, std::wstring script) : script_(std::move(script)), seconds_(seconds) {
        if (seconds_ == 0) return;
        stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (stop_) thread_.reset(::CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr));
    }
    ~Watchdog() {
        if (!thread_) return;
        ::SetEvent(stop_.get());
        ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(void* self) {
        auto* watchdog = static_cast<Watchdog*>(self);
        if (::WaitForSingleObject(watchdog->stop_.get(), watchdog->seconds_ * 1000) == WAIT_TIMEOUT) {
            WriteLine(Stream::Error, L"Script execution time was exceeded on script \"" + watchdog->script_ +
                                         L"\".\r\nScript execution was terminated.");
            ::TerminateProcess(::GetCurrentProcess(), kFailed);
        }
        return 0;
    }

    const std::wstring script_;
    const unsigned long seconds_;
    UniqueHandle stop_;
    UniqueHandle thread_;
};

int RunScript(const CommandLine& line) {
    const std::wstring path = FullPathOf(line.script);
    const std::wstring engineName = line.engine.empty() ? EngineForFile(path) : line.engine;
    if (engineName.empty())
        return InputError(L"There is no script engine for the file \"" + path + L"\" (.vbs or .js, or //E:).");
    std::wstring text;
    if (!ReadScriptFile(path, text)) return InputError(L"Can not find script file \"" + path + L"\".");

    ApartmentScope apartment;
    if (FAILED(apartment.Result())) return InputError(L"COM could not be initialized on the script's thread.");
    CLSID engineClass;
    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parser;
    HRESULT hr = ::CLSIDFromProgID(engineName.c_str(), &engineClass);
    if (SUCCEEDED(hr)) hr = ::CoCreateInstance(engineClass, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                               engine.put_void());
    if (SUCCEEDED(hr)) hr = engine.As(parser);
    if (FAILED(hr)) return InputError(L"The " + engineName + L" engine could not be started.");

    auto arguments = std::make_shared<const std::vector<std::wstring>>(line.arguments);
    ComPtr<WScript> wscript(new ComObject<WScript>(path, HostPath(), arguments));
    ComPtr<ScriptSite> site(new ComObject<ScriptSite>(path, engineName, static_cast<IDispatch*>(wscript.get())));
    Watchdog watchdog(line.timeoutSeconds, path);

    EXCEPINFO exception{};
    hr = engine->SetScriptSite(site.get());
    if (SUCCEEDED(hr)) hr = parser->InitNew();
    if (SUCCEEDED(hr)) hr = engine->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) {
        wscript->Attach(engine.get(), site.get());
        // Parsed before the engine starts, the script runs when it starts.
        hr = parser->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr,
                                     &exception);
    }
    if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_STARTED);
    // Some failures come back from the engine without reaching the site.
    if (FAILED(hr) && !site->ErrorReported()) site->ReportUnreported(hr, exception);
    const int exitCode = site->ErrorReported() ? kFailed : 0;

    wscript->Detach();
    engine->Close();
    site->Detach();
    return exitCode;
}

}  // namespace
}  // namespace tarn::host

int wmain(int argc, wchar_t** argv) {
    using namespace tarn::host;
    const CommandLine line = ParseCommandLine(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!line.error.empty()) return InputError(line.error);
    if (line.logo) WriteLine(Stream::Out, L"TarnDriver script host\r\n");
    if (line.help || line.script.empty()) {
        WriteText(line.help ? Stream::Out : Stream::Error, Usage());
        return line.help ? 0 : kFailed;
    }
    return RunScript(line);
}
