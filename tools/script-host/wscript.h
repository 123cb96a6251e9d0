#pragma once
// The WScript object scripts see: output, arguments, waiting, objects and
// their events, the script's own names, and Quit.
#include <activscp.h>

#include <string>

#include "arguments.h"
#include "com/com_object.h"
#include "event_connections.h"
#include "host_dispatch.h"
#include "script_site.h"

namespace tarn::host {

class WScript : public TableDispatch<WScript> {
public:
    using Interfaces = InterfaceTable<Entry<IDispatch>>;
    static constexpr bool kAtomicRefCount = false;  // lives in the script's apartment
    static const Member<WScript> kMembers[];
    static const size_t kMemberCount;

    // `scriptPath` is the script's full path; `hostPath` this program's.
    WScript(std::wstring scriptPath, std::wstring hostPath, ArgumentList arguments);

    // The engine whose procedures handle events, and its site; neither owned,
    // both dropped by Detach before the engine closes.
    void Attach(IActiveScript* engine, ScriptSite* site) noexcept {
        engine_ = engine;
        site_ = site;
    }
    void Detach() noexcept;

    HRESULT Echo(const Call& call);
    HRESULT Quit(const Call& call);
    HRESULT GetArguments(const Call& call);
    HRESULT Sleep(const Call& call);
    HRESULT CreateObject(const Call& call);
    HRESULT GetObject(const Call& call);
    HRESULT ConnectObject(const Call& call);
    HRESULT DisconnectObject(const Call& call);
    HRESULT ScriptName(const Call& call);
    HRESULT ScriptFullName(const Call& call);
    HRESULT StdOut(const Call& call);
    HRESULT StdErr(const Call& call);
    HRESULT Name(const Call& call);
    HRESULT Version(const Call& call);
    HRESULT FullName(const Call& call);
    HRESULT Path(const Call& call);
    HRESULT Interactive(const Call& call);

private:
    // Connects `object`'s events to the script's procedures named prefix + event.
    HRESULT Connect(const Call& call, const wchar_t* member, IDispatch* object, const std::wstring& prefix);

    const std::wstring scriptPath_;
    const std::wstring hostPath_;
    ComPtr<IDispatch> arguments_;
    ComPtr<IDispatch> stdOut_;
    ComPtr<IDispatch> stdErr_;
    // Ends the process with `code` now, the script's events disconnected first.
    [[noreturn]] void End(UINT code) noexcept;

    IActiveScript* engine_ = nullptr;
    ScriptSite* site_ = nullptr;
    EventConnections connections_;
};

}  // namespace tarn::host
