// A client process for the mixed-architecture tests: creates every class by
// ProgID, as a script would, and prints the full path of the module file that
// serves them.  Exits with the number of classes it could not create.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

int wmain() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 100;
    const wchar_t* const progIds[] = {L"TarnDriver.Rs232Driver", L"TarnDriver.UsbDriver",
                                      L"TarnDriver.Rs232DigitalIoDriver", L"TarnDriver.DriverEnumerator"};
    int missing = 0;
    for (const wchar_t* progId : progIds) {
        CLSID clsid;
        IDispatch* object = nullptr;
        if (FAILED(::CLSIDFromProgID(progId, &clsid)) ||
            FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&object)))) {
            ++missing;
            continue;
        }
        wchar_t path[MAX_PATH] = L"(not loaded)";
        if (HMODULE module = ::GetModuleHandleW(L"TarnDriver.DLL")) ::GetModuleFileNameW(module, path, MAX_PATH);
        std::printf("%ls\n", path);
        object->Release();
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return missing;
}
