// An early-bound C++ client of TarnDriver: the interfaces come from the header
// that the IDL compiler writes from the type library's source (TarnDriver.h,
// with the GUIDs in TarnDriver_i.c), objects from CoCreateInstance, and a
// failed call's message from the error information the object attaches.
//
//   early_bound.exe [--manifest PATH] [PORT PEER]   two wired serial ports, by number (default 21 22)
//   --manifest PATH: without registration, from TarnDriver.manifest (activation_context.h)
//
// It lists the serial ports, sends a line from PORT to PEER, reads it there,
// and then shows what a Read that times out reports.  Exit code 0 when every
// step did what it should.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TarnDriver.h"
#include "activation_context.h"

using Microsoft::WRL::ComPtr;

namespace {

// Owners for what Automation hands out: the caller frees BSTRs, VARIANTs and arrays.
struct Bstr {
    BSTR value = nullptr;
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : value(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

struct Variant : VARIANT {
    Variant() { ::VariantInit(this); }
    ~Variant() { ::VariantClear(this); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// Prints a failed call: its HRESULT and, when the interface supports error
// information (ISupportErrorInfo), the message and source the object attached.
void PrintFailure(const char* call, HRESULT hr, IUnknown* object, REFIID iid) {
    std::printf("%s failed: 0x%08lX", call, static_cast<unsigned long>(hr));
    ComPtr<ISupportErrorInfo> support;
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&support))) &&
        support->InterfaceSupportsErrorInfo(iid) == S_OK && ::GetErrorInfo(0, &info) == S_OK && info) {
        Bstr description, source;
        info->GetDescription(&description.value);
        info->GetSource(&source.value);
        std::printf(" \"%ls\" from %ls", description.value ? description.value : L"",
                    source.value ? source.value : L"");
    }
    std::printf("\n");
}

// A VARIANT holding a new array of unsigned bytes (type 0x2011), as Write takes it.
HRESULT MakeByteArray(const void* bytes, ULONG count, VARIANT* out) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, count);
    if (!array) return E_OUTOFMEMORY;
    void* data = nullptr;
    if (SUCCEEDED(::SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes, count);
        ::SafeArrayUnaccessData(array);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = array;
    return S_OK;
}

std::string BytesAsText(const VARIANT& bytes) {
    std::string text;
    if (bytes.vt != (VT_ARRAY | VT_UI1)) return text;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(bytes.parray, 1, &lower);
    ::SafeArrayGetUBound(bytes.parray, 1, &upper);
    void* data = nullptr;
    if (SUCCEEDED(::SafeArrayAccessData(bytes.parray, &data))) {
        text.assign(static_cast<const char*>(data), static_cast<size_t>(upper - lower + 1));
        ::SafeArrayUnaccessData(bytes.parray);
    }
    return text;
}

bool ListSerialPorts() {
    ComPtr<IDriverEnumerator> enumerator;
    HRESULT hr = ::CoCreateInstance(CLSID_DriverEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&enumerator));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance(DriverEnumerator) failed: 0x%08lX (is TarnDriver.DLL registered?)\n",
                    static_cast<unsigned long>(hr));
        return false;
    }
    // Early-bound callers pass every argument: the defaults of the type library
    // are for Automation clients.  A missing VARIANT is VT_ERROR with DISP_E_PARAMNOTFOUND.
    Bstr family(L"serial"), option(L"");
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    SAFEARRAY* ports = nullptr;  // the method creates the array
    hr = enumerator->EnumeratePorts(family.value, &ports, option.value, missing, missing);
    if (FAILED(hr)) {
        PrintFailure("EnumeratePorts", hr, enumerator.Get(), IID_IDriverEnumerator);
        return false;
    }
    LONG upper = -1;
    ::SafeArrayGetUBound(ports, 1, &upper);
    std::printf("serial ports:");
    for (LONG i = 0; i <= upper; ++i) {
        BSTR name = nullptr;
        if (SUCCEEDED(::SafeArrayGetElement(ports, &i, &name))) std::printf(" %ls", name);  // a copy for us
        ::SysFreeString(name);
    }
    std::printf("\n");
    ::SafeArrayDestroy(ports);
    return true;
}

ComPtr<IRs232Driver> OpenPort(long number) {
    ComPtr<IRs232Driver> port;
    HRESULT hr = ::CoCreateInstance(CLSID_Rs232Driver, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&port));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance(Rs232Driver) failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return nullptr;
    }
    port->put_BaudRate(115200);  // applied by Open; 8 data bits, no parity, one stop bit
    VARIANT_BOOL opened = 0;
    hr = port->Open(number, &opened);
    // The flag is 1 on success, not VARIANT_TRUE (-1): test it for non-zero.
    if (FAILED(hr) || !opened) {
        std::printf("Open(%ld) failed: 0x%08lX (a missing or busy port reports no message)\n", number,
                    static_cast<unsigned long>(hr));
        return nullptr;
    }
    Bstr name;
    port->get_PortName(&name.value);
    std::printf("%ls open\n", name.value);
    return port;
}

}  // namespace

int main(int argc, char** argv) {
    const ManifestActivation activation(TakeManifestArgument(argc, argv));
    if (activation.failed()) return 1;
    const long portNumber = argc > 2 ? std::atol(argv[1]) : 21;
    const long peerNumber = argc > 2 ? std::atol(argv[2]) : 22;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    bool ok = ListSerialPorts();
    {
        ComPtr<IRs232Driver> port = OpenPort(portNumber);
        ComPtr<IRs232Driver> peer = port ? OpenPort(peerNumber) : nullptr;
        ok = ok && port && peer;
        if (ok) {
            const char line[] = "Hello over the cable";
            const ULONG length = sizeof line - 1;
            Variant sent, received;
            HRESULT hr = MakeByteArray(line, length, &sent);
            if (SUCCEEDED(hr)) hr = port->Write(sent);
            if (FAILED(hr)) PrintFailure("Write", hr, port.Get(), IID_IRs232Driver);
            // Read waits for exactly this many bytes, at most 200 ms + 4 ms a byte.
            if (SUCCEEDED(hr)) hr = peer->Read(length, &received);
            if (FAILED(hr)) PrintFailure("Read", hr, peer.Get(), IID_IRs232Driver);
            ok = SUCCEEDED(hr) && BytesAsText(received) == line;
            std::printf("received \"%s\"\n", BytesAsText(received).c_str());
        }
        if (ok) {
            // Nothing more comes: the Read times out and says why.
            Variant nothing;
            const HRESULT hr = peer->Read(4, &nothing);
            if (SUCCEEDED(hr)) {
                std::printf("Read(4) succeeded where nothing was sent\n");
                ok = false;
            } else {
                PrintFailure("Read(4)", hr, peer.Get(), IID_IRs232Driver);
            }
        }
        if (port) port->Close();
        if (peer) peer->Close();
    }
    ::CoUninitialize();
    std::printf(ok ? "done\n" : "stopped\n");
    return ok ? 0 : 1;
}
