#pragma once
// The engine's site: hands the engine the WScript object, and prints each
// error the engine reports, where and why, the way Windows' console host does:
//   FILE(LINE, COLUMN) SOURCE: DESCRIPTION (CODE)
#include <windows.h>
#include <activscp.h>

#include <string>

#include "com/com_object.h"
#include "platform/com_ptr.h"

namespace tarn::host {

// What an error line says; `line` and `column` count from 1, 0 when unknown.
struct ScriptErrorText {
    std::wstring file;
    ULONG line = 0;
    LONG column = 0;
    std::wstring source;
    std::wstring description;
    HRESULT code = S_OK;
};
std::wstring FormatScriptError(const ScriptErrorText& error);

class ScriptSite : public IActiveScriptSite {
public:
    using Interfaces = InterfaceTable<Entry<IActiveScriptSite>>;
    static constexpr bool kAtomicRefCount = false;

    // `file` names the script in error lines; `engine` ("VBScript") names
    // errors that come without a source.
    ScriptSite(std::wstring file, std::wstring engine, IDispatch* wscript);

    // The exit code of a script that stopped on an error.
    static constexpr UINT kFailedExitCode = 1;

    bool ErrorReported() const noexcept { return errorReported_; }
    // Prints an error the engine failed with but did not report to the site.
    void ReportUnreported(HRESULT hr, EXCEPINFO& exception);
    void Detach() noexcept { wscript_.reset(); }

    STDMETHODIMP GetLCID(LCID* lcid) override;
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override;
    STDMETHODIMP GetDocVersionString(BSTR* version) override;
    STDMETHODIMP OnScriptTerminate(const VARIANT* result, const EXCEPINFO* exception) override;
    STDMETHODIMP OnStateChange(SCRIPTSTATE state) override;
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override;
    STDMETHODIMP OnLeaveScript() override;

private:
    void Report(ULONG line, LONG column, EXCEPINFO& exception, HRESULT fallback);

    const std::wstring file_;
    const std::wstring engine_;
    ComPtr<IDispatch> wscript_;
    bool errorReported_ = false;
};

}  // namespace tarn::host
