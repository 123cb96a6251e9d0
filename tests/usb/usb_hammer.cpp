// A second process for the serialisation test: N vendor writes to LUMO0 through
// its own UsbDriver object.  Exits with the number of failed calls.
#include <windows.h>

#include <cstdlib>

#include "TarnDriver.h"

int wmain(int argc, wchar_t** argv) {
    const int requests = argc > 1 ? _wtoi(argv[1]) : 10;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return requests;
    int failures = requests;
    CLSID clsid;
    IUsbDriver* usb = nullptr;
    if (SUCCEEDED(::CLSIDFromProgID(L"TarnDriver.UsbDriver", &clsid)) &&
        SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUsbDriver,
                                     reinterpret_cast<void**>(&usb)))) {
        VARIANT_BOOL opened = 0;
        if (usb->Open(etndevLumo, 0, &opened) == S_OK) {
            VARIANT none;
            none.vt = VT_ERROR;
            none.scode = DISP_E_PARAMNOTFOUND;
            failures = 0;
            for (int i = 0; i < requests; ++i)
                if (usb->VendorRequestWrite(static_cast<BYTE>(i), 1, 2, none) != S_OK) ++failures;
        }
        usb->Release();
    }
    ::CoUninitialize();
    return failures;
}
