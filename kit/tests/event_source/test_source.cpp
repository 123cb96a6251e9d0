#include "test_source.h"

#include <new>

namespace tarnkit_test {
namespace {

// One delayed firing: owns a reference to the source and to this module, so
// neither goes away while the thread runs.
struct FireJob {
    ComPtr<TestSource> source;
    std::wstring eventName;
    std::wstring text;
    LONG number;
    DWORD delayMs;
    HMODULE module;
};

DWORD WINAPI FireThread(void* parameter)
{
    FireJob* job = static_cast<FireJob*>(parameter);
    const HMODULE module = job->module;
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        Sleep(job->delayMs);
        job->source->fire(job->eventName, job->text, job->number);
        delete job;
        CoUninitialize();
    } else {
        delete job;
    }
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

TestSource::TestSource(const CLSID& clsid, bool offersDefaultSourceGuid)
    : clsid_(clsid), offersDefaultSourceGuid_(offersDefaultSourceGuid)
{
}

STDMETHODIMP TestSource::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITestSource))
        *out = static_cast<ITestSource*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer))
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo))
        *out = static_cast<IProvideClassInfo*>(this);
    else if (IsEqualIID(iid, IID_IProvideClassInfo2) && offersDefaultSourceGuid_)
        *out = static_cast<IProvideClassInfo2*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP TestSource::FireLater(BSTR eventName, BSTR text, LONG number, LONG delayMs)
{
    if (delayMs < 0) return E_INVALIDARG;
    return tarnkit::NoThrow([&] {
        HMODULE module = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCWSTR>(&FireThread), &module))
            return HRESULT_FROM_WIN32(GetLastError());
        auto* job = new FireJob{this, std::wstring(eventName, SysStringLen(eventName)),
                                std::wstring(text, SysStringLen(text)), number, static_cast<DWORD>(delayMs), module};
        HANDLE thread = CreateThread(nullptr, 0, FireThread, job, 0, nullptr);
        if (!thread) {
            const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
            delete job;
            FreeLibrary(module);
            return hr;
        }
        CloseHandle(thread);
        return S_OK;
    });
}

void TestSource::fire(const std::wstring& eventName, const std::wstring& text, LONG number)
{
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier;
    const bool mta = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;

    std::vector<ComPtr<IDispatch>> sinks;
    {
        tarnkit::Lock lock(lock_);
        firedFromMta_ = mta;
        for (const auto& entry : sinks_) sinks.push_back(entry.second);
    }

    // DISPPARAMS hold the arguments last first.
    VARIANT args[2];
    UINT count = 1;
    DISPID id = 0;
    tarnkit::UniqueBstr textArg(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (eventName == L"OnText") {
        id = 1;
        args[0].vt = VT_BSTR;
        args[0].bstrVal = textArg.get();
    } else if (eventName == L"OnNumber") {
        id = 2;
        args[0].vt = VT_I4;
        args[0].lVal = number;
    } else if (eventName == L"OnPair") {
        id = 3;
        count = 2;
        args[0].vt = VT_I4;
        args[0].lVal = number;
        args[1].vt = VT_BSTR;
        args[1].bstrVal = textArg.get();
    } else {
        return;
    }
    for (const auto& sink : sinks) {
        DISPPARAMS params{args, nullptr, count, 0};
        tarnkit::UniqueVariant result;
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr);
    }
}

STDMETHODIMP TestSource::get_ConnectionCount(LONG* count)
{
    if (!count) return E_POINTER;
    tarnkit::Lock lock(lock_);
    *count = static_cast<LONG>(sinks_.size());
    return S_OK;
}

STDMETHODIMP TestSource::get_FiredFromMta(VARIANT_BOOL* mta)
{
    if (!mta) return E_POINTER;
    tarnkit::Lock lock(lock_);
    *mta = firedFromMta_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP TestSource::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points) *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TestSource::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__ITestSourceEvents)) return CONNECT_E_NOCONNECTION;
    *point = &point_;
    point_.AddRef();
    return S_OK;
}

STDMETHODIMP TestSource::GetClassInfo(ITypeInfo** info)
{
    return tarnkit::GetKitTypeInfo(clsid_, info);
}

STDMETHODIMP TestSource::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__ITestSourceEvents;
    return S_OK;
}

STDMETHODIMP TestSource::Point::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP TestSource::Point::GetConnectionInterface(IID* iid)
{
    if (!iid) return E_POINTER;
    *iid = DIID__ITestSourceEvents;
    return S_OK;
}

STDMETHODIMP TestSource::Point::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    return owner_.QueryInterface(IID_PPV_ARGS(container));
}

STDMETHODIMP TestSource::Point::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    ComPtr<IDispatch> events;
    const HRESULT hr = sink->QueryInterface(DIID__ITestSourceEvents, reinterpret_cast<void**>(events.put()));
    if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
    RETURN_IF_FAILED(hr);
    return tarnkit::NoThrow([&] {
        tarnkit::Lock lock(owner_.lock_);
        *cookie = owner_.nextCookie_++;
        owner_.sinks_.emplace_back(*cookie, events);
        return S_OK;
    });
}

STDMETHODIMP TestSource::Point::Unadvise(DWORD cookie)
{
    ComPtr<IDispatch> removed;
    {
        tarnkit::Lock lock(owner_.lock_);
        for (auto it = owner_.sinks_.begin(); it != owner_.sinks_.end(); ++it) {
            if (it->first == cookie) {
                removed = it->second;
                owner_.sinks_.erase(it);
                break;
            }
        }
    }
    return removed ? S_OK : CONNECT_E_NOCONNECTION;
}

STDMETHODIMP TestSource::Point::EnumConnections(IEnumConnections** connections)
{
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace tarnkit_test
