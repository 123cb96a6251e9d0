// Vendor requests per second and main-endpoint throughput through UsbDriver,
// beside the same requests made raw on a device handle, and the cost of the
// pieces the library adds to each request (device mutex turn, priority raise
// and restore, array data access, the vendor-write buffer).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <functional>
#include <vector>

#include "TarnDriver.h"
#include "common/bench_timing.h"

namespace {

using tarn::bench::BestOf;
using tarn::bench::kRoundsEach;
using tarn::bench::Seconds;

struct Pair {
    const char* what;
    const char* unit;
    double library;  // per second
    double raw;
};

void Print(const Pair& p) {
    std::printf("%-34s library %10.0f %s   raw %10.0f %s   ratio %.2f\n", p.what, p.library, p.unit, p.raw, p.unit,
                p.library / p.raw);
}

constexpr DWORD kVendorWrite = 0x222000, kVendorRead = 0x222004;

}  // namespace

int main() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    CLSID clsid;
    IUsbDriver* usb = nullptr;
    VARIANT_BOOL opened = 0;
    if (FAILED(::CLSIDFromProgID(L"TarnDriver.UsbDriver", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUsbDriver, reinterpret_cast<void**>(&usb))) ||
        usb->Open(etndevLumo, 0, &opened) != S_OK) {
        std::printf("usb_bench: cannot open LUMO0 through UsbDriver (is the stand-in running?)\n");
        return 1;
    }
    HANDLE raw = ::CreateFileW(L"\\\\.\\LUMO0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        std::printf("usb_bench: cannot open \\\\.\\LUMO0 raw\n");
        return 1;
    }

    const int kRequests = 1000;
    std::vector<Pair> pairs;

    // Vendor writes with 8 data bytes.
    SAFEARRAYBOUND eight{8, 0};
    VARIANT data;
    data.vt = VT_ARRAY | VT_UI1;
    data.parray = ::SafeArrayCreate(VT_UI1, 1, &eight);
    const BYTE block[14] = {0x20, 0, 1, 0, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    DWORD returned = 0;
    double lib = 0, bare = 0;
    BestOf([&] { for (int i = 0; i < kRequests; ++i) usb->VendorRequestWrite(0x20, 1, 2, data); },
           [&] {
               for (int i = 0; i < kRequests; ++i)
                   ::DeviceIoControl(raw, kVendorWrite, const_cast<BYTE*>(block), sizeof block, nullptr, 0,
                                     &returned, nullptr);
           },
           lib, bare);
    pairs.push_back({"vendor write, 8 bytes", "req/s", kRequests / lib, kRequests / bare});

    // Vendor reads of 8 bytes.
    BYTE answer[8];
    BestOf(
        [&] {
            for (int i = 0; i < kRequests; ++i) {
                VARIANT out;
                ::VariantInit(&out);
                usb->VendorRequestRead(0x20, 0, 0, 8, &out);
                ::VariantClear(&out);
            }
        },
        [&] {
            for (int i = 0; i < kRequests; ++i)
                ::DeviceIoControl(raw, kVendorRead, const_cast<BYTE*>(block), 6, answer, sizeof answer, &returned,
                                  nullptr);
        },
        lib, bare);
    pairs.push_back({"vendor read, 8 bytes", "req/s", kRequests / lib, kRequests / bare});

    // Main endpoint: 4096-byte writes, each read back through the loopback.
    const int kTransfers = 300;
    const DWORD kChunk = 4096;
    SAFEARRAYBOUND chunk{kChunk, 0};
    SAFEARRAY* buffer = ::SafeArrayCreate(VT_UI1, 1, &chunk);
    std::vector<BYTE> plain(kChunk);
    BestOf(
        [&] {
            for (int i = 0; i < kTransfers; ++i) {
                usb->WriteMainEndpoint(kChunk, &buffer);
                usb->ReadMainEndpoint(kChunk, &buffer);
            }
        },
        [&] {
            DWORD moved = 0;
            for (int i = 0; i < kTransfers; ++i) {
                ::WriteFile(raw, plain.data(), kChunk, &moved, nullptr);
                ::ReadFile(raw, plain.data(), kChunk, &moved, nullptr);
            }
        },
        lib, bare);
    const double megabytes = 2.0 * kTransfers * kChunk / 1e6;
    pairs.push_back({"main endpoint, 4 KiB write+read", "MB/s ", megabytes / lib, megabytes / bare});

    std::printf("UsbDriver against the USB stand-in (LUMO0), one thread, uncontended, best of %d rounds:\n", kRoundsEach);
    for (const Pair& p : pairs) Print(p);

    // What the library adds per request, measured alone.
    const int kRounds = 100000;
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"LumoUsbIF__Mutex_LUMO0");
    const double mutexTurn = Seconds([&] {
        for (int i = 0; i < kRounds; ++i) {
            ::WaitForSingleObjectEx(mutex, 1000, FALSE);
            ::ReleaseMutex(mutex);
        }
    }) / kRounds;
    const double priority = Seconds([&] {
        for (int i = 0; i < kRounds; ++i) {
            const int previous = ::GetThreadPriority(::GetCurrentThread());
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
            ::SetThreadPriority(::GetCurrentThread(), previous);
        }
    }) / kRounds;
    const double access = Seconds([&] {
        void* p = nullptr;
        for (int i = 0; i < kRounds; ++i) {
            ::SafeArrayAccessData(buffer, &p);
            ::SafeArrayUnaccessData(buffer);
        }
    }) / kRounds;
    const double copy = Seconds([&] {
        for (int i = 0; i < kRounds; ++i) {
            BYTE* b = new BYTE[sizeof block];
            std::memcpy(b, block, sizeof block);
            delete[] b;
        }
    }) / kRounds;
    const double rawVendor = 1.0 / pairs[0].raw, libVendor = 1.0 / pairs[0].library;
    std::printf("\nPer request (microseconds): raw vendor write %.1f, through UsbDriver %.1f, difference %.1f\n",
                rawVendor * 1e6, libVendor * 1e6, (libVendor - rawVendor) * 1e6);
    std::printf("  device mutex wait+release %.1f, priority raise+restore %.1f, array access %.2f,"
                " request buffer %.2f\n",
                mutexTurn * 1e6, priority * 1e6, access * 1e6, copy * 1e6);

    ::CloseHandle(mutex);
    ::SafeArrayDestroy(buffer);
    ::VariantClear(&data);
    ::CloseHandle(raw);
    usb->Release();
    ::CoUninitialize();
    return 0;
}
