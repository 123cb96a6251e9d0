#include "test_source.h"

#include "automation/hresult.h"
#include "automation/unique_bstr.h"
#include "platform/com_ptr.h"
#include "platform/unique_handle.h"

namespace tarn::kit_test {
namespace {

// The events' DISPIDs, as the type library declares them.
enum : DISPID { kOnText = 1, kOnNumber = 2, kOnPair = 3 };

// One delayed firing: owns a reference to the source and to this module, so
// neither goes away while the thread runs.
struct FireJob {
    ComPtr<ITestSource> source;
    std::wstring eventName;
    std::wstring text;
    LONG number;
    DWORD delayMs;
    HMODULE module;
};

DWORD WINAPI FireThread(void* parameter) {
    FireJob* job = static_cast<FireJob*>(parameter);
    const HMODULE module = job->module;
    if (SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        ::Sleep(job->delayMs);
        static_cast<TestSource*>(job->source.get())->Fire(job->eventName, job->text, job->number);
        delete job;
        ::CoUninitialize();
    } else {
        delete job;
    }
    ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace

TestSource::TestSource() noexcept
    : connectionPoint_(static_cast<ITestSource*>(this), DIID__ITestSourceEvents, sinks_) {}

STDMETHODIMP TestSource::FireLater(BSTR eventName, BSTR text, LONG number, LONG delayMs) {
    if (delayMs < 0) return E_INVALIDARG;
    return NoThrow([&] {
        HMODULE module = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&FireThread),
                                  &module))
            return HRESULT_FROM_WIN32(::GetLastError());
        auto* job = new FireJob{static_cast<ITestSource*>(this), std::wstring(eventName, ::SysStringLen(eventName)),
                                std::wstring(text, ::SysStringLen(text)), number, static_cast<DWORD>(delayMs), module};
        UniqueHandle thread(::CreateThread(nullptr, 0, FireThread, job, 0, nullptr));
        if (!thread) {
            const HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
            delete job;
            ::FreeLibrary(module);
            return hr;
        }
        return S_OK;
    });
}

void TestSource::Fire(const std::wstring& eventName, const std::wstring& text, LONG number) {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier;
    const bool mta = SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
    {
        Lock lock(lock_);
        firedFromMta_ = mta;
    }

    // DISPPARAMS hold the arguments last first.
    UniqueBstr textArgument = UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
    VARIANT textValue, numberValue;
    textValue.vt = VT_BSTR;
    textValue.bstrVal = textArgument.get();
    numberValue.vt = VT_I4;
    numberValue.lVal = number;
    if (eventName == L"OnText") {
        sinks_.Fire(kOnText, &textValue, 1);
    } else if (eventName == L"OnNumber") {
        sinks_.Fire(kOnNumber, &numberValue, 1);
    } else if (eventName == L"OnPair") {
        VARIANT pair[] = {numberValue, textValue};
        sinks_.Fire(kOnPair, pair, 2);
    }
}

STDMETHODIMP TestSource::get_ConnectionCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(sinks_.ConnectionCount());
    return S_OK;
}

STDMETHODIMP TestSource::get_FiredFromMta(VARIANT_BOOL* mta) {
    if (!mta) return E_POINTER;
    Lock lock(lock_);
    *mta = firedFromMta_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP TestSource::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return connectionPoint_.EnumerateAsContainer(points);
}

STDMETHODIMP TestSource::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    return connectionPoint_.FindAsContainer(iid, point);
}

STDMETHODIMP TestSourceClassInfoOnly::GetClassInfo(ITypeInfo** out) {
    return Module().TypeInfo(CLSID_TestSourceClassInfoOnly).GetTypeInfo(0, out);
}

}  // namespace tarn::kit_test
