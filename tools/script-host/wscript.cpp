#include "wscript.h"

#include <objbase.h>
#include <oleauto.h>

#include "console_text.h"
#include "message_pump.h"
#include "text_stream.h"

namespace tarn::host {
namespace {

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

}  // namespace

const Member<WScript> WScript::kMembers[] = {
    {L"Name", DISPID_VALUE, &WScript::Name},
    {L"Echo", 1, &WScript::Echo},
    {L"Quit", 2, &WScript::Quit},
    {L"Arguments", 3, &WScript::GetArguments},
    {L"Sleep", 4, &WScript::Sleep},
    {L"CreateObject", 5, &WScript::CreateObject},
    {L"GetObject", 6, &WScript::GetObject},
    {L"ConnectObject", 7, &WScript::ConnectObject},
    {L"DisconnectObject", 8, &WScript::DisconnectObject},
    {L"ScriptName", 9, &WScript::ScriptName},
    {L"ScriptFullName", 10, &WScript::ScriptFullName},
    {L"StdOut", 11, &WScript::StdOut},
    {L"StdErr", 12, &WScript::StdErr},
    {L"Version", 13, &WScript::Version},
    {L"FullName", 14, &WScript::FullName},
    {L"Path", 15, &WScript::Path},
    {L"Interactive", 16, &WScript::Interactive},
};
const size_t WScript::kMemberCount = sizeof(kMembers) / sizeof(kMembers[0]);

WScript::WScript(std::wstring scriptPath, std::wstring hostPath, ArgumentList arguments)
    : scriptPath_(std::move(scriptPath)),
      hostPath_(std::move(hostPath)),
      arguments_(new ComObject<Arguments>(std::move(arguments))),
      stdOut_(new ComObject<TextStream>(Stream::Out)),
      stdErr_(new ComObject<TextStream>(Stream::Error)) {}

void WScript::Detach() noexcept {
    connections_.DisconnectAll();
    engine_ = nullptr;
    site_ = nullptr;
}

void WScript::End(UINT code) noexcept {
    connections_.DisconnectAll();
    ::ExitProcess(code);
}

HRESULT WScript::Echo(const Call& call) {
    std::wstring line, text;
    for (UINT i = 0; i < call.Count(); ++i) {
        if (FAILED(call.Text(i, text))) return call.Fail(L"WScript.Echo", L"Type mismatch", DISP_E_TYPEMISMATCH);
        line += (i ? L" " : L"") + text;
    }
    WriteLine(Stream::Out, line);
    return S_OK;
}

HRESULT WScript::Quit(const Call& call) {
    LONG code = 0;
    if (call.Has(0) && FAILED(call.Long(0, code))) return call.Fail(L"WScript.Quit", L"Type mismatch", DISP_E_TYPEMISMATCH);
    // The script ends here, whatever calls are still on the stack: no
    // statement after Quit runs, not even under On Error Resume Next.
    End(static_cast<UINT>(code));
}

HRESULT WScript::GetArguments(const Call& call) {
    // WScript.Arguments(0) comes as one call of Arguments with an index: the
    // index goes to the collection's default member, as a type library's
    // Invoke would pass it on.
    if (call.Count() > 0) return call.Forward(arguments_.get(), DISPID_VALUE);
    return call.ReturnObject(arguments_.get());
}

HRESULT WScript::Sleep(const Call& call) {
    LONG milliseconds = 0;
    if (FAILED(call.Long(0, milliseconds)) || milliseconds < 0)
        return call.Fail(L"WScript.Sleep", L"Sleep needs a time in milliseconds, 0 or more", E_INVALIDARG);
    // Calls marshalled to this thread (the events of objects in other
    // apartments) arrive while the script waits.  An event procedure that
    // fails has had its error printed by the site; the script stops there.
    const bool failed = kit::PumpMessagesUntil(static_cast<DWORD>(milliseconds),
                                               [this] { return site_ && site_->ErrorReported(); });
    if (failed) End(ScriptSite::kFailedExitCode);
    return S_OK;
}

HRESULT WScript::CreateObject(const Call& call) {
    std::wstring progId, prefix;
    RETURN_IF_FAILED(call.Text(0, progId));
    if (call.Has(1)) RETURN_IF_FAILED(call.Text(1, prefix));
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr))
        return call.Fail(L"WScript.CreateObject", L"Could not locate automation class named " + Quoted(progId) + L".", hr);
    ComPtr<IDispatch> object;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.put_void());
    if (FAILED(hr))
        return call.Fail(L"WScript.CreateObject", L"Could not create object named " + Quoted(progId) + L".", hr);
    if (!prefix.empty()) RETURN_IF_FAILED(Connect(call, L"WScript.CreateObject", object.get(), prefix));
    return call.ReturnObject(object.get());
}

HRESULT WScript::GetObject(const Call& call) {
    std::wstring path, progId, prefix;
    if (call.Has(0)) RETURN_IF_FAILED(call.Text(0, path));
    if (call.Has(1)) RETURN_IF_FAILED(call.Text(1, progId));
    if (call.Has(2)) RETURN_IF_FAILED(call.Text(2, prefix));
    ComPtr<IDispatch> object;
    HRESULT hr = S_OK;
    if (progId.empty()) {
        hr = ::CoGetObject(path.c_str(), nullptr, IID_IDispatch, object.put_void());
    } else {
        CLSID clsid;
        hr = ::CLSIDFromProgID(progId.c_str(), &clsid);
        if (SUCCEEDED(hr) && path.empty()) {
            ComPtr<IUnknown> running;
            hr = ::GetActiveObject(clsid, nullptr, running.put());
            if (SUCCEEDED(hr)) hr = running.As(object);
        } else if (SUCCEEDED(hr)) {
            ComPtr<IPersistFile> file;
            hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IPersistFile, file.put_void());
            if (SUCCEEDED(hr)) hr = file->Load(path.c_str(), STGM_READ);
            if (SUCCEEDED(hr)) hr = file.As(object);
        }
    }
    if (FAILED(hr)) return call.Fail(L"WScript.GetObject", L"Could not get object " + Quoted(path) + L".", hr);
    if (!prefix.empty()) RETURN_IF_FAILED(Connect(call, L"WScript.GetObject", object.get(), prefix));
    return call.ReturnObject(object.get());
}

HRESULT WScript::ConnectObject(const Call& call) {
    IDispatch* object = nullptr;
    std::wstring prefix;
    if (FAILED(call.Object(0, object)))
        return call.Fail(L"WScript.ConnectObject", L"The first argument must be an object", DISP_E_TYPEMISMATCH);
    RETURN_IF_FAILED(call.Text(1, prefix));
    return Connect(call, L"WScript.ConnectObject", object, prefix);
}

HRESULT WScript::DisconnectObject(const Call& call) {
    IDispatch* object = nullptr;
    if (FAILED(call.Object(0, object)))
        return call.Fail(L"WScript.DisconnectObject", L"The argument must be an object", DISP_E_TYPEMISMATCH);
    connections_.Disconnect(object);  // one that was never connected is no error
    return S_OK;
}

HRESULT WScript::Connect(const Call& call, const wchar_t* member, IDispatch* object, const std::wstring& prefix) {
    ComPtr<IDispatch> handlers;
    HRESULT hr = engine_ ? engine_->GetScriptDispatch(nullptr, handlers.put()) : E_UNEXPECTED;
    if (FAILED(hr)) return call.Fail(member, L"The script's procedures cannot be reached", hr);
    std::wstring problem;
    hr = connections_.Connect(object, prefix, handlers.get(), problem);
    if (FAILED(hr)) return call.Fail(member, L"Could not connect object: " + problem, hr);
    return S_OK;
}

HRESULT WScript::ScriptName(const Call& call) { return call.ReturnText(FileNameOf(scriptPath_)); }
HRESULT WScript::ScriptFullName(const Call& call) { return call.ReturnText(scriptPath_); }
HRESULT WScript::StdOut(const Call& call) { return call.ReturnObject(stdOut_.get()); }
HRESULT WScript::StdErr(const Call& call) { return call.ReturnObject(stdErr_.get()); }
HRESULT WScript::Name(const Call& call) { return call.ReturnText(L"Windows Script Host"); }
HRESULT WScript::Version(const Call& call) { return call.ReturnText(L"5.8"); }
HRESULT WScript::FullName(const Call& call) { return call.ReturnText(hostPath_); }
HRESULT WScript::Path(const Call& call) { return call.ReturnText(FolderOf(hostPath_)); }

HRESULT WScript::Interactive(const Call& call) {
    if (!call.Result()) return S_OK;
    V_VT(call.Result()) = VT_BOOL;
    V_BOOL(call.Result()) = VARIANT_FALSE;
    return S_OK;
}

}  // namespace tarn::host
