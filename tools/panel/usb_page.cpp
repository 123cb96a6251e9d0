// The USB page: UsbDriver's vendor requests, main endpoint and device locks.
// Every call runs on the page's call queue: a vendor request can be held by
// the device, and a main-endpoint receive waits until its bytes are there.
// "Reset in" ends such a wait; it runs on a thread of its own, since the
// queue is busy with the wait it ends.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "TarnDriver.h"
#include "pages.h"
#include "panel_ids.h"
#include "platform/com_ptr.h"

namespace panel {
namespace {

const wchar_t* const kDevices[] = {L"Lumo (etndevLumo)", L"Pira (etndevPira)"};
const wchar_t* const kLockTypes[] = {L"etnltRemoteControl", L"etnltRecorderRC", L"etnltPlayAndRec", L"etnltRecording",
                                     L"etnltPlayback",      L"etnltSyncPlayRec", L"etnltOrsa",      L"etnltFrontend"};
constexpr int kLockTypeCount = 8;

class UsbPage final : public Page {
public:
    void SaveSettings() override {
        settings::SetNumber(L"UsbDevice", static_cast<DWORD>(Selected(IDC_USB_DEVICE)));
        settings::SetNumber(L"UsbNumber", static_cast<DWORD>(Number(IDC_USB_NUMBER, 0)));
    }

private:
    void OnInit() override;
    void OnCommand(int id, int code) override;
    void OnDestroy() override;

    using Work = std::function<HRESULT(IUsbDriver*, Outcome*)>;
    // Runs `work` on the queue and logs "what = result" or "what failed: why".
    void Call(const std::wstring& what, Work work, std::function<std::wstring(const Outcome&)> result = {});
    void VendorWrite();
    void VendorRead();
    void BulkSend();
    void BulkReceive();
    void ResetIn();
    long Selected(int id) const { return static_cast<long>(::SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    void ShowConnected(bool open);

    Log log_;
    tarn::ComPtr<IUsbDriver> driver_;  // made, used and released on the queue's thread (and by ResetIn's)
    long keys_[kLockTypeCount] = {};    // the key of each lock this page holds
};

void UsbPage::OnInit() {
    log_.Attach(Item(IDC_USB_LOG));
    for (const wchar_t* name : kDevices) ::SendDlgItemMessageW(window(), IDC_USB_DEVICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    for (const wchar_t* name : kLockTypes) ::SendDlgItemMessageW(window(), IDC_USB_LOCK_TYPE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    ::SendDlgItemMessageW(window(), IDC_USB_DEVICE, CB_SETCURSEL, settings::Number(L"UsbDevice", 0) % 2, 0);
    ::SendDlgItemMessageW(window(), IDC_USB_LOCK_TYPE, CB_SETCURSEL, 4, 0);
    SetText(IDC_USB_NUMBER, std::to_wstring(settings::Number(L"UsbNumber", 0)));
    for (auto [id, text] : {std::pair<int, const wchar_t*>{IDC_USB_REQUEST, L"0x42"}, {IDC_USB_PARAM1, L"0"},
                            {IDC_USB_PARAM2, L"0"}, {IDC_USB_LENGTH, L"4"}, {IDC_USB_DATA, L"54 41 52 4E"},
                            {IDC_USB_BULK_DATA, L"01 02 03 04"}, {IDC_USB_BULK_COUNT, L"4"}})
        SetText(id, text);
    ShowConnected(false);
    queue_ = std::make_unique<CallQueue>(window());
    CreateOnQueue(*queue_, driver_, CLSID_UsbDriver, IID_IUsbDriver, [this](HRESULT hr) {
        if (FAILED(hr)) log_.Add(L"TarnDriver.UsbDriver cannot be created: " + DescribeFailure(hr));
    });
}

void UsbPage::OnDestroy() {
    ResetIn();  // a receive still waiting would hold up the close
    queue_->Run([this] {
        if (driver_) driver_->Close();
        driver_.reset();
    });
    queue_.reset();
}

void UsbPage::Call(const std::wstring& what, Work work, std::function<std::wstring(const Outcome&)> result) {
    CallDriver<IUsbDriver>(*queue_, driver_, std::move(work), [this, what, result](const Outcome& outcome) {
        if (FAILED(outcome.hr)) log_.Add(what + L" failed: " + outcome.failure);
        else log_.Add(result ? what + L" = " + result(outcome) : what + L" done");
    });
}

void UsbPage::OnCommand(int id, int) {
    const long lockType = Selected(IDC_USB_LOCK_TYPE);
    const std::wstring lockName = lockType >= 0 ? kLockTypes[lockType] : L"?";
    switch (id) {
    case IDC_USB_OPEN: {
        const long device = Selected(IDC_USB_DEVICE), number = Number(IDC_USB_NUMBER, 0);
        Call(L"Open(" + std::to_wstring(device) + L", " + std::to_wstring(number) + L")",
             [device, number](IUsbDriver* driver, Outcome* outcome) {
                 VARIANT_BOOL opened = VARIANT_FALSE;
                 const HRESULT hr = driver->Open(static_cast<ETNDevice>(device), static_cast<short>(number), &opened);
                 outcome->flag = opened != VARIANT_FALSE;
                 return hr;
             },
             [this](const Outcome& outcome) {
                 ShowConnected(outcome.flag);
                 return std::wstring(outcome.flag ? L"True" : L"False: no such device, or it is unplugged");
             });
        break;
    }
    case IDC_USB_CLOSE:
        ShowConnected(false);
        for (long& key : keys_) key = 0;
        Call(L"Close", [](IUsbDriver* driver, Outcome*) { return driver->Close(); });
        break;
    case IDC_USB_VENDOR_WRITE: VendorWrite(); break;
    case IDC_USB_VENDOR_READ: VendorRead(); break;
    case IDC_USB_BULK_SEND: BulkSend(); break;
    case IDC_USB_BULK_RECEIVE: BulkReceive(); break;
    case IDC_USB_RESET_IN: ResetIn(); break;
    case IDC_USB_LOCK:
        Call(L"LockDevice(" + lockName + L")",
             [lockType](IUsbDriver* driver, Outcome* outcome) {
                 return driver->LockDevice(static_cast<ETNLockType>(lockType), &outcome->number);
             },
             [this, lockType](const Outcome& outcome) {
                 keys_[lockType] = outcome.number;
                 return L"key " + std::to_wstring(outcome.number);
             });
        break;
    case IDC_USB_UNLOCK: {
        const long key = lockType >= 0 ? keys_[lockType] : 0;
        Call(L"UnlockDevice(" + lockName + L", " + std::to_wstring(key) + L")",
             [lockType, key](IUsbDriver* driver, Outcome*) {
                 return driver->UnlockDevice(static_cast<ETNLockType>(lockType), key);
             });
        break;
    }
    case IDC_USB_HELD:
        Call(L"Lock(" + lockName + L")",
             [lockType](IUsbDriver* driver, Outcome* outcome) {
                 VARIANT_BOOL held = VARIANT_FALSE;
                 const HRESULT hr = driver->get_Lock(static_cast<ETNLockType>(lockType), &held);
                 outcome->flag = held != VARIANT_FALSE;
                 return hr;
             },
             [](const Outcome& outcome) { return std::wstring(outcome.flag ? L"True" : L"False"); });
        break;
    case IDC_USB_COPY: log_.Copy(window()); break;
    case IDC_USB_CLEAR: log_.Clear(); break;
    default: break;
    }
}

void UsbPage::VendorWrite() {
    const long request = Number(IDC_USB_REQUEST, 0), p1 = Number(IDC_USB_PARAM1, 0), p2 = Number(IDC_USB_PARAM2, 0);
    std::vector<uint8_t> bytes;
    if (!ParseHex(Text(IDC_USB_DATA), &bytes)) return log_.Add(L"the data are not hex bytes");
    Call(L"VendorRequestWrite(0x" + ToHex({static_cast<uint8_t>(request)}) + L", " + std::to_wstring(p1) + L", " +
             std::to_wstring(p2) + L", " + ToHex(bytes) + L")",
         [request, p1, p2, bytes](IUsbDriver* driver, Outcome*) {
             VARIANT data;
             ::VariantInit(&data);
             data.vt = VT_ARRAY | VT_UI1;
             data.parray = NewByteArray(bytes);
             const HRESULT hr = driver->VendorRequestWrite(static_cast<unsigned char>(request), static_cast<short>(p1),
                                                           static_cast<short>(p2), data);
             ::VariantClear(&data);
             return hr;
         });
}

void UsbPage::VendorRead() {
    const long request = Number(IDC_USB_REQUEST, 0), p1 = Number(IDC_USB_PARAM1, 0), p2 = Number(IDC_USB_PARAM2, 0);
    const long length = Number(IDC_USB_LENGTH, 0);
    Call(L"VendorRequestRead(0x" + ToHex({static_cast<uint8_t>(request)}) + L", " + std::to_wstring(p1) + L", " +
             std::to_wstring(p2) + L", " + std::to_wstring(length) + L")",
         [request, p1, p2, length](IUsbDriver* driver, Outcome* outcome) {
             VARIANT data;
             ::VariantInit(&data);
             const HRESULT hr = driver->VendorRequestRead(static_cast<unsigned char>(request), static_cast<short>(p1),
                                                          static_cast<short>(p2), length, &data);
             outcome->bytes = BytesOf(data);
             ::VariantClear(&data);
             return hr;
         },
         [](const Outcome& outcome) { return ToHex(outcome.bytes) + L"  \"" + Printable(outcome.bytes) + L"\""; });
}

void UsbPage::BulkSend() {
    std::vector<uint8_t> bytes;
    if (!ParseHex(Text(IDC_USB_BULK_DATA), &bytes)) return log_.Add(L"the bytes to send are not hex");
    Call(L"WriteMainEndpoint(" + std::to_wstring(bytes.size()) + L", " + ToHex(bytes) + L")",
         [bytes](IUsbDriver* driver, Outcome*) {
             SAFEARRAY* array = NewByteArray(bytes);
             const HRESULT hr = driver->WriteMainEndpoint(static_cast<long>(bytes.size()), &array);
             ::SafeArrayDestroy(array);
             return hr;
         });
}

// Waits on the queue until the bytes are there, or "Reset in" ends the wait.
void UsbPage::BulkReceive() {
    const long count = Number(IDC_USB_BULK_COUNT, 0);
    log_.Add(L"ReadMainEndpoint(" + std::to_wstring(count) + L") waiting; \"Reset in\" ends the wait");
    Call(L"ReadMainEndpoint(" + std::to_wstring(count) + L")",
         [count](IUsbDriver* driver, Outcome* outcome) {
             SAFEARRAY* array = NewByteArray(std::vector<uint8_t>(static_cast<size_t>(count > 0 ? count : 0)));
             const HRESULT hr = driver->ReadMainEndpoint(count, &array);
             VARIANT holder;
             holder.vt = VT_ARRAY | VT_UI1;
             holder.parray = array;
             outcome->bytes = BytesOf(holder);
             ::SafeArrayDestroy(array);
             return hr;
         },
         [](const Outcome& outcome) { return ToHex(outcome.bytes) + L"  \"" + Printable(outcome.bytes) + L"\""; });
}

// The driver object lives in the multithreaded apartment, so a second thread
// of it may call it while the queue waits in ReadMainEndpoint.
void UsbPage::ResetIn() {
    CallQueue* idle = queue_.get();
    if (!idle || idle->pending() == 0) {
        if (idle) Call(L"ResetMainEndpointIn", [](IUsbDriver* d, Outcome*) { return d ? d->ResetMainEndpointIn() : S_OK; });
        return;
    }
    IUsbDriver* driver = driver_.get();
    if (!driver) return;
    driver->AddRef();
    std::thread([driver] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        driver->ResetMainEndpointIn();
        driver->Release();
        ::CoUninitialize();
    }).detach();
    log_.Add(L"ResetMainEndpointIn sent beside the waiting call");
}

void UsbPage::ShowConnected(bool open) {
    Enable({IDC_USB_OPEN, IDC_USB_DEVICE, IDC_USB_NUMBER}, !open);
    Enable({IDC_USB_CLOSE, IDC_USB_VENDOR_WRITE, IDC_USB_VENDOR_READ, IDC_USB_BULK_SEND, IDC_USB_BULK_RECEIVE,
            IDC_USB_LOCK, IDC_USB_UNLOCK, IDC_USB_HELD},
           open);
}

}  // namespace

std::unique_ptr<Page> MakeUsbPage() { return std::make_unique<UsbPage>(); }

}  // namespace panel
