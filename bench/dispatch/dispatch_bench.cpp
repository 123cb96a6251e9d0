// What late binding costs a client of a closed Rs232Driver (so no device time
// is measured): GetIDsOfNames through the object, which answers from its name
// cache, against ITypeInfo::GetIDsOfNames on the same type information; and
// Invoke by DISPID against the same call through the vtable.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "TarnDriver.h"
#include "common/bench_timing.h"

namespace {

using tarn::bench::BestOf;

constexpr int kCalls = 200000;

}  // namespace

int main() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    CLSID clsid;
    IRs232Driver* serial = nullptr;
    if (FAILED(::CLSIDFromProgID(L"TarnDriver.Rs232Driver", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRs232Driver,
                                  reinterpret_cast<void**>(&serial)))) {
        std::printf("dispatch bench: TarnDriver.Rs232Driver cannot be created (is it registered?)\n");
        return 1;
    }
    ITypeInfo* info = nullptr;
    if (FAILED(serial->GetTypeInfo(0, 0, &info))) return 1;

    // Names as scripts write them: the library's spelling and another case.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"PortNumber"), const_cast<LPOLESTR>(L"baudrate")};
    volatile DISPID sink = 0;
    double cached = 0, typeInfo = 0;
    BestOf(
        [&] {
            for (int i = 0; i < kCalls; ++i) {
                DISPID id = 0;
                serial->GetIDsOfNames(IID_NULL, &names[i & 1], 1, 0, &id);
                sink = id;
            }
        },
        [&] {
            for (int i = 0; i < kCalls; ++i) {
                DISPID id = 0;
                info->GetIDsOfNames(&names[i & 1], 1, &id);
                sink = id;
            }
        },
        cached, typeInfo);
    std::printf("%-40s %8.0f ns   ITypeInfo::GetIDsOfNames %8.0f ns   %.1fx faster\n",
                "GetIDsOfNames through the name cache", cached * 1e9 / kCalls, typeInfo * 1e9 / kCalls,
                typeInfo / cached);

    // PortNumber of a closed port: the method's own work is a few instructions.
    DISPID portNumber = 0;
    serial->GetIDsOfNames(IID_NULL, &names[0], 1, 0, &portNumber);
    double byDispid = 0, byVtable = 0;
    BestOf(
        [&] {
            DISPPARAMS none{};
            for (int i = 0; i < kCalls; ++i) {
                VARIANT result;
                ::VariantInit(&result);
                serial->Invoke(portNumber, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
                sink = result.lVal;
            }
        },
        [&] {
            for (int i = 0; i < kCalls; ++i) {
                long number = 0;
                serial->get_PortNumber(&number);
                sink = number;
            }
        },
        byDispid, byVtable);
    std::printf("%-40s %8.0f ns   through the vtable %8.1f ns   overhead %.0f ns a call\n",
                "Invoke by DISPID (PortNumber)", byDispid * 1e9 / kCalls, byVtable * 1e9 / kCalls,
                (byDispid - byVtable) * 1e9 / kCalls);

    info->Release();
    serial->Release();
    ::CoUninitialize();
    return 0;
}
