#include "script_site.h"

#include <oleauto.h>

#include <cwchar>

#include "automation/unique_bstr.h"
#include "console_text.h"

namespace tarn::host {
namespace {

// The system's text for an HRESULT, without its closing line break; empty when it has none.
std::wstring SystemMessage(HRESULT hr) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                          nullptr);
    std::wstring message(text ? text : L"", length);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

// Errors that engines raise as bare Automation codes, without a text of their
// own (Wine's VBScript does so for a division by zero, for example).
std::wstring AutomationMessage(HRESULT hr) {
    static const struct {
        HRESULT code;
        const wchar_t* text;
    } kMessages[] = {
        {DISP_E_DIVBYZERO, L"Division by zero"},
        {DISP_E_OVERFLOW, L"Overflow"},
        {DISP_E_TYPEMISMATCH, L"Type mismatch"},
        {DISP_E_BADINDEX, L"Subscript out of range"},
        {DISP_E_UNKNOWNNAME, L"Unknown name"},
        {DISP_E_MEMBERNOTFOUND, L"Object doesn't support this property or method"},
        {DISP_E_BADPARAMCOUNT, L"Wrong number of arguments or invalid property assignment"},
        {DISP_E_PARAMNOTFOUND, L"Argument not optional"},
    };
    for (const auto& message : kMessages)
        if (message.code == hr) return message.text;
    return {};
}

std::wstring TakeText(BSTR& text) {
    UniqueBstr owned(text);
    text = nullptr;
    return owned ? std::wstring(owned.get(), owned.length()) : std::wstring();
}

}  // namespace

std::wstring FormatScriptError(const ScriptErrorText& error) {
    wchar_t code[16];
    std::swprintf(code, 16, L"%08lX", static_cast<unsigned long>(error.code));
    std::wstring where = error.file;
    if (error.line > 0) where += L"(" + std::to_wstring(error.line) + L", " + std::to_wstring(error.column) + L")";
    return where + L" " + error.source + L": " + error.description + L" (" + code + L")";
}

ScriptSite::ScriptSite(std::wstring file, std::wstring engine, IDispatch* wscript)
    : file_(std::move(file)), engine_(std::move(engine)), wscript_(wscript) {}

void ScriptSite::Report(ULONG line, LONG column, EXCEPINFO& exception, HRESULT fallback) {
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    ScriptErrorText error;
    error.file = file_;
    error.line = line;
    error.column = column;
    error.source = TakeText(exception.bstrSource);
    error.description = TakeText(exception.bstrDescription);
    TakeText(exception.bstrHelpFile);
    // Engines give either an HRESULT or a 16-bit error number of their own.
    error.code = exception.scode ? exception.scode
               : exception.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode)
                                 : fallback;
    if (error.source.empty()) error.source = engine_ + L" error";
    if (error.description.empty()) error.description = SystemMessage(error.code);
    if (error.description.empty()) error.description = AutomationMessage(error.code);
    if (error.description.empty()) error.description = L"Unknown error";
    WriteLine(Stream::Error, FormatScriptError(error));
    errorReported_ = true;
}

void ScriptSite::ReportUnreported(HRESULT hr, EXCEPINFO& exception) {
    Report(0, 0, exception, hr);
}

STDMETHODIMP ScriptSite::GetLCID(LCID* lcid) {
    if (!lcid) return E_POINTER;
    *lcid = ::GetUserDefaultLCID();
    return S_OK;
}

STDMETHODIMP ScriptSite::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) {
    if (item) *item = nullptr;
    if (info) *info = nullptr;
    if (!name || ::CompareStringOrdinal(name, -1, L"WScript", -1, TRUE) != CSTR_EQUAL || !wscript_)
        return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_IUNKNOWN) {
        if (!item) return E_POINTER;
        *item = wscript_.get();
        (*item)->AddRef();
    }
    return S_OK;  // the host's objects carry no type information; they are found by name
}

STDMETHODIMP ScriptSite::GetDocVersionString(BSTR* version) {
    if (version) *version = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ScriptSite::OnScriptTerminate(const VARIANT*, const EXCEPINFO*) { return S_OK; }
STDMETHODIMP ScriptSite::OnStateChange(SCRIPTSTATE) { return S_OK; }
STDMETHODIMP ScriptSite::OnEnterScript() { return S_OK; }
STDMETHODIMP ScriptSite::OnLeaveScript() { return S_OK; }

STDMETHODIMP ScriptSite::OnScriptError(IActiveScriptError* error) {
    if (!error) return E_POINTER;
    EXCEPINFO exception{};
    error->GetExceptionInfo(&exception);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    if (SUCCEEDED(error->GetSourcePosition(&context, &line, &column))) Report(line + 1, column + 1, exception, E_FAIL);
    else Report(0, 0, exception, E_FAIL);
    return S_OK;
}

}  // namespace tarn::host
