// The Serial page: Rs232Driver on a worker thread.  A `Read` waits up to
// 200 + 4 ms a byte, so every call runs on the page's call queue and the
// window stays free; while the port is open a timer fetches what has arrived
// (ReadAvailableBytes, which never waits).  Failures go to the log with the
// library's own text, never into a message box that stops the work.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "TarnDriver.h"
#include "pages.h"
#include "panel_ids.h"
#include "platform/com_ptr.h"

namespace panel {
namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 50;
constexpr size_t kMostShownBytes = 16 * 1024;
const wchar_t* const kBaudRates[] = {L"1200", L"2400", L"4800", L"9600", L"19200", L"38400", L"57600", L"115200"};
const wchar_t* const kEndings[] = {L"no ending", L"CR", L"LF", L"CR LF"};
const char* const kEndingBytes[] = {"", "\r", "\n", "\r\n"};

class SerialPage final : public Page {
public:
    void SaveSettings() override {
        settings::SetNumber(L"SerialPort", static_cast<DWORD>(Number(IDC_SERIAL_PORT, 0)));
        settings::SetNumber(L"BaudRate", static_cast<DWORD>(Number(IDC_SERIAL_BAUD, 9600)));
    }

private:
    void OnInit() override;
    void OnCommand(int id, int code) override;
    void OnTimer(UINT_PTR) override;
    void OnDestroy() override;

    // Runs `work` on the queue with the driver; `done` gets its outcome on the window's thread.
    void Call(std::function<HRESULT(IRs232Driver*, Outcome*)> work, std::function<void(const Outcome&)> done);
    void Open();
    void Send();
    void Read();
    void Received(const std::vector<uint8_t>& bytes);
    void ShowConnected(bool open);

    Log log_;
    tarn::ComPtr<IRs232Driver> driver_;  // made, used and released on the queue's thread only
    std::vector<uint8_t> received_;
    bool open_ = false;
};

void SerialPage::OnInit() {
    log_.Attach(Item(IDC_SERIAL_LOG));
    for (const wchar_t* rate : kBaudRates) ::SendDlgItemMessageW(window(), IDC_SERIAL_BAUD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
    for (const wchar_t* ending : kEndings) ::SendDlgItemMessageW(window(), IDC_SERIAL_ENDING, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ending));
    ::SendDlgItemMessageW(window(), IDC_SERIAL_ENDING, CB_SETCURSEL, 0, 0);
    ::CheckRadioButton(window(), IDC_SERIAL_AS_TEXT, IDC_SERIAL_AS_HEX, IDC_SERIAL_AS_TEXT);
    SetText(IDC_SERIAL_PORT, std::to_wstring(settings::Number(L"SerialPort", 1)));
    SetText(IDC_SERIAL_BAUD, std::to_wstring(settings::Number(L"BaudRate", 9600)));
    SetText(IDC_SERIAL_READ_COUNT, L"16");
    ::SendMessageW(Item(IDC_SERIAL_RECEIVED), WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(ANSI_FIXED_FONT)), 0);
    ShowConnected(false);
    queue_ = std::make_unique<CallQueue>(window());
    CreateOnQueue(*queue_, driver_, CLSID_Rs232Driver, IID_IRs232Driver, [this](HRESULT hr) {
        if (FAILED(hr)) log_.Add(L"TarnDriver.Rs232Driver cannot be created: " + DescribeFailure(hr));
    });
}

void SerialPage::OnDestroy() {
    ::KillTimer(window(), kPollTimer);
    queue_->Run([this] {
        if (driver_) driver_->Close();
        driver_.reset();
    });
    queue_.reset();
}

void SerialPage::Call(std::function<HRESULT(IRs232Driver*, Outcome*)> work, std::function<void(const Outcome&)> done) {
    CallDriver(*queue_, driver_, std::move(work), std::move(done));
}

void SerialPage::OnCommand(int id, int) {
    switch (id) {
    case IDC_SERIAL_OPEN: Open(); break;
    case IDC_SERIAL_CLOSE:
        ShowConnected(false);
        Call([](IRs232Driver* driver, Outcome*) { return driver->Close(); },
             [this](const Outcome& outcome) { log_.Add(FAILED(outcome.hr) ? L"Close failed: " + outcome.failure : L"closed"); });
        break;
    case IDC_SERIAL_SEND: Send(); break;
    case IDC_SERIAL_READ: Read(); break;
    case IDC_SERIAL_CLEAR:
        received_.clear();
        SetText(IDC_SERIAL_RECEIVED, L"");
        log_.Clear();
        break;
    case IDC_SERIAL_COPY: log_.Copy(window()); break;
    default: break;
    }
}

void SerialPage::Open() {
    const long port = Number(IDC_SERIAL_PORT, 0), baud = Number(IDC_SERIAL_BAUD, 9600);
    Call([port, baud](IRs232Driver* driver, Outcome* outcome) {
             VARIANT_BOOL opened = VARIANT_FALSE;
             HRESULT hr = driver->Open(port, &opened);
             outcome->flag = SUCCEEDED(hr) && opened;
             if (outcome->flag) hr = driver->put_BaudRate(baud);
             return hr;
         },
         [this, port, baud](const Outcome& outcome) {
             const std::wstring what = L"Open(" + std::to_wstring(port) + L")";
             if (FAILED(outcome.hr)) return log_.Add(what + L" failed: " + outcome.failure);
             if (!outcome.flag) return log_.Add(what + L" = False: the port is missing or in use");
             log_.Add(L"opened COM" + std::to_wstring(port) + L" at " + std::to_wstring(baud) + L" baud");
             ShowConnected(true);
         });
}

void SerialPage::Send() {
    std::vector<uint8_t> bytes;
    const std::wstring text = Text(IDC_SERIAL_SEND_TEXT);
    if (Checked(IDC_SERIAL_AS_HEX)) {
        if (!ParseHex(text, &bytes)) return log_.Add(L"not hex bytes: \"" + text + L"\"");
    } else {
        // Each character as one byte (Latin-1): what the device sees is what was typed.
        for (wchar_t c : text) bytes.push_back(static_cast<uint8_t>(c <= 0xFF ? c : '?'));
    }
    const LRESULT ending = ::SendDlgItemMessageW(window(), IDC_SERIAL_ENDING, CB_GETCURSEL, 0, 0);
    if (ending > 0 && ending < 4) for (const char* c = kEndingBytes[ending]; *c; ++c) bytes.push_back(static_cast<uint8_t>(*c));
    Call([bytes](IRs232Driver* driver, Outcome*) {
             VARIANT data;
             ::VariantInit(&data);
             data.vt = VT_ARRAY | VT_UI1;
             data.parray = NewByteArray(bytes);
             const HRESULT hr = driver->Write(data);
             ::VariantClear(&data);
             return hr;
         },
         [this, bytes](const Outcome& outcome) {
             log_.Add(FAILED(outcome.hr) ? L"Write failed: " + outcome.failure
                                         : L"sent " + std::to_wstring(bytes.size()) + L" byte(s): " + ToHex(bytes));
         });
}

// A Read of n bytes waits for them (up to 200 + 4n ms) on the queue's thread.
void SerialPage::Read() {
    const long count = Number(IDC_SERIAL_READ_COUNT, 0);
    log_.Add(L"Read(" + std::to_wstring(count) + L") waiting");
    Call([count](IRs232Driver* driver, Outcome* outcome) {
             VARIANT data;
             ::VariantInit(&data);
             const HRESULT hr = driver->Read(count, &data);
             outcome->bytes = BytesOf(data);
             ::VariantClear(&data);
             return hr;
         },
         [this, count](const Outcome& outcome) {
             const std::wstring what = L"Read(" + std::to_wstring(count) + L")";
             if (FAILED(outcome.hr)) return log_.Add(what + L" failed: " + outcome.failure);
             log_.Add(what + L" = " + std::to_wstring(outcome.bytes.size()) + L" byte(s)");
             Received(outcome.bytes);
         });
}

void SerialPage::OnTimer(UINT_PTR) {
    if (!open_ || queue_->pending() > 0) return;  // one poll at a time, and none behind a waiting Read
    Call([](IRs232Driver* driver, Outcome* outcome) {
             VARIANT data;
             ::VariantInit(&data);
             const HRESULT hr = driver->ReadAvailableBytes(&data);
             outcome->bytes = BytesOf(data);
             ::VariantClear(&data);
             return hr;
         },
         [this](const Outcome& outcome) {
             if (FAILED(outcome.hr) && open_) {
                 log_.Add(L"ReadAvailableBytes failed: " + outcome.failure + L"; stopped fetching");
                 ::KillTimer(window(), kPollTimer);
             }
             if (!outcome.bytes.empty()) Received(outcome.bytes);
         });
}

// Shows every byte received: 16 to a line, hex on the left, text on the right.
void SerialPage::Received(const std::vector<uint8_t>& bytes) {
    log_.Add(L"received " + std::to_wstring(bytes.size()) + L" byte(s)");
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    if (received_.size() > kMostShownBytes) received_.erase(received_.begin(), received_.end() - kMostShownBytes);
    std::wstring dump;
    for (size_t at = 0; at < received_.size(); at += 16) {
        const std::vector<uint8_t> line(received_.begin() + at, received_.begin() + std::min(at + 16, received_.size()));
        std::wstring hex = ToHex(line);
        hex.resize(16 * 3, L' ');
        dump += hex + L"| " + Printable(line) + L"\r\n";
    }
    SetText(IDC_SERIAL_RECEIVED, dump);
    ::SendMessageW(Item(IDC_SERIAL_RECEIVED), EM_LINESCROLL, 0, 0xFFFF);
}

void SerialPage::ShowConnected(bool open) {
    open_ = open;
    Enable({IDC_SERIAL_OPEN, IDC_SERIAL_PORT, IDC_SERIAL_BAUD}, !open);
    Enable({IDC_SERIAL_CLOSE, IDC_SERIAL_SEND, IDC_SERIAL_READ}, open);
    if (open) ::SetTimer(window(), kPollTimer, kPollMs, nullptr);
    else ::KillTimer(window(), kPollTimer);
}

}  // namespace

std::unique_ptr<Page> MakeSerialPage() { return std::make_unique<SerialPage>(); }

}  // namespace panel
