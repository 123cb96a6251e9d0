// The Lines page: Rs232DigitalIoDriver's inputs as live indicators, its
// outputs as toggles, and its events in a time-stamped log.
//
// The driver lives in the multithreaded apartment; this page's thread is a
// single-threaded apartment, so COM hands it a proxy and marshals the events
// fired on the driver's monitor thread to the sink here: they arrive through
// the window's own message loop, on the window's thread, as they would in a
// VBA form.  The calls themselves are short (no call here waits on a device).
#include <windows.h>
#include <ocidl.h>

#include <string>

#include "TarnDriver.h"
#include "line_event_sink.h"
#include "pages.h"
#include "panel_ids.h"
#include "platform/com_ptr.h"

namespace panel {
namespace {

struct Indicator {
    DISPID event;
    int control;
    const wchar_t* name;
};
// DISPIDs of _IRs232DigitalIoDriverEvents, and the indicator each one lights.
constexpr DISPID kOnText = 1;
constexpr Indicator kIndicators[] = {
    {3, IDC_LINES_CTS, L"CTS"}, {2, IDC_LINES_DSR, L"DSR"}, {5, IDC_LINES_RI, L"RI"}, {4, IDC_LINES_DCD, L"DCD"}};

class LinesPage final : public Page {
public:
    void OnEvent(DISPID id, const VARIANT& argument);
    void SaveSettings() override {
        settings::SetText(L"LinesPort", Text(IDC_LINES_PORT));
        settings::SetNumber(L"DebounceTime", static_cast<DWORD>(Number(IDC_LINES_DEBOUNCE, 0)));
    }

private:
    void OnInit() override;
    void OnCommand(int id, int code) override;
    bool OnDrawItem(const DRAWITEMSTRUCT& item) override;
    void OnDestroy() override;

    void RefreshPorts();
    void Open();
    void Close();
    void SetOutput(int control, HRESULT (STDMETHODCALLTYPE IRs232DigitalIoDriver::*set)(long), const wchar_t* name);
    void ShowLevel(int control, const wchar_t* name, long level);
    void ShowConnected(bool open);
    // Logs a failed call with its error information; true when `hr` succeeded.
    bool Check(HRESULT hr, const wchar_t* what) {
        if (FAILED(hr)) log_.Add(std::wstring(what) + L" failed: " + DescribeFailure(hr));
        return SUCCEEDED(hr);
    }

    Log log_;
    tarn::ComPtr<IRs232DigitalIoDriver> driver_;
    tarn::ComPtr<IConnectionPoint> point_;
    LineEventSink* sink_ = nullptr;  // the page's reference; Advise adds the connection's
    DWORD cookie_ = 0;
};

void LinesPage::OnInit() {
    log_.Attach(Item(IDC_LINES_LOG));
    SetText(IDC_LINES_DEBOUNCE, std::to_wstring(settings::Number(L"DebounceTime", 0)));
    RefreshPorts();
    const std::wstring last = settings::Text(L"LinesPort", L"");
    if (!last.empty()) SetText(IDC_LINES_PORT, last);
    ShowConnected(false);
    if (FAILED(::CoCreateInstance(CLSID_Rs232DigitalIoDriver, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IRs232DigitalIoDriver, driver_.put_void()))) {
        log_.Add(L"TarnDriver.Rs232DigitalIoDriver cannot be created: see the line above the pages");
        Enable({IDC_LINES_OPEN}, false);
        return;
    }
    tarn::ComPtr<IConnectionPointContainer> container;
    sink_ = new LineEventSink([this](DISPID id, const VARIANT& argument) { OnEvent(id, argument); });
    if (Check(driver_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), L"QueryInterface") &&
        Check(container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, point_.put()), L"FindConnectionPoint"))
        Check(point_->Advise(sink_, &cookie_), L"Advise");
}

void LinesPage::OnDestroy() {
    if (driver_) driver_->Close();
    if (point_ && cookie_) point_->Unadvise(cookie_);
    if (sink_) {
        sink_->Detach();
        sink_->Release();
    }
    point_.reset();
    driver_.reset();
}

void LinesPage::OnCommand(int id, int code) {
    const bool needsDriver = id != IDC_LINES_REFRESH && id != IDC_LINES_COPY && id != IDC_LINES_CLEAR;
    if (needsDriver && !driver_) return;  // not created: the log and the status line said why
    switch (id) {
    case IDC_LINES_REFRESH: RefreshPorts(); break;
    case IDC_LINES_OPEN: Open(); break;
    case IDC_LINES_CLOSE: Close(); break;
    case IDC_LINES_DTR: SetOutput(id, &IRs232DigitalIoDriver::SetDTR, L"DTR"); break;
    case IDC_LINES_RTS: SetOutput(id, &IRs232DigitalIoDriver::SetRTS, L"RTS"); break;
    case IDC_LINES_BREAK: SetOutput(id, &IRs232DigitalIoDriver::SetBreak, L"Break"); break;
    case IDC_LINES_DEBOUNCE_SET:
        if (Check(driver_->put_DebounceTime(Number(IDC_LINES_DEBOUNCE, 0)), L"DebounceTime"))
            log_.Add(L"debounce time " + std::to_wstring(Number(IDC_LINES_DEBOUNCE, 0)) + L" ms");
        break;
    case IDC_LINES_COPY: log_.Copy(window()); break;
    case IDC_LINES_CLEAR: log_.Clear(); break;
    default: (void)code; break;
    }
}

void LinesPage::RefreshPorts() {
    const std::wstring typed = Text(IDC_LINES_PORT);
    ::SendMessageW(Item(IDC_LINES_PORT), CB_RESETCONTENT, 0, 0);
    tarn::ComPtr<IDriverEnumerator> enumerator;
    if (FAILED(::CoCreateInstance(CLSID_DriverEnumerator, nullptr, CLSCTX_INPROC_SERVER, IID_IDriverEnumerator,
                                  enumerator.put_void())))
        return;
    SAFEARRAY* ports = nullptr;
    BSTR family = ::SysAllocString(L"serial"), option = ::SysAllocString(L"");
    VARIANT none;
    none.vt = VT_ERROR;
    none.scode = DISP_E_PARAMNOTFOUND;
    const HRESULT hr = enumerator->EnumeratePorts(family, &ports, option, none, none);
    ::SysFreeString(family);
    ::SysFreeString(option);
    if (Check(hr, L"EnumeratePorts") && ports) {
        BSTR* names = nullptr;
        LONG low = 0, high = -1;
        ::SafeArrayGetLBound(ports, 1, &low);
        ::SafeArrayGetUBound(ports, 1, &high);
        if (SUCCEEDED(::SafeArrayAccessData(ports, reinterpret_cast<void**>(&names)))) {
            for (LONG i = 0; i <= high - low; ++i)
                ::SendMessageW(Item(IDC_LINES_PORT), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(names[i]));
            ::SafeArrayUnaccessData(ports);
        }
        log_.Add(std::to_wstring(high - low + 1) + L" serial port(s) listed");
    }
    if (ports) ::SafeArrayDestroy(ports);
    SetText(IDC_LINES_PORT, typed);
}

void LinesPage::Open() {
    // The list shows "COM21"; the system opens ports above COM9 only by their device name.
    std::wstring name = Text(IDC_LINES_PORT);
    if (name.rfind(L"\\\\.\\", 0) != 0) name = L"\\\\.\\" + name;
    BSTR port = ::SysAllocString(name.c_str());
    VARIANT_BOOL opened = VARIANT_FALSE;
    const HRESULT hr = driver_->Open(port, &opened);
    ::SysFreeString(port);
    if (!Check(hr, (L"Open(" + name + L")").c_str())) return;
    if (!opened) {
        log_.Add(L"Open(" + name + L") = False: the port is missing or in use");
        return;
    }
    log_.Add(L"opened " + name);
    driver_->put_DebounceTime(Number(IDC_LINES_DEBOUNCE, 0));
    // The monitor reports changes only, so the levels at the start are read once.
    HRESULT (STDMETHODCALLTYPE IRs232DigitalIoDriver::*getters[])(long*) = {
        &IRs232DigitalIoDriver::GetCTS, &IRs232DigitalIoDriver::GetDSR, &IRs232DigitalIoDriver::GetRI,
        &IRs232DigitalIoDriver::GetDCD};
    for (size_t i = 0; i < 4; ++i) {
        long level = 0;
        (driver_.get()->*getters[i])(&level);
        ShowLevel(kIndicators[i].control, kIndicators[i].name, level);
    }
    long dtr = 0, rts = 0;
    driver_->GetDTR(&dtr);
    driver_->GetRTS(&rts);
    ::CheckDlgButton(window(), IDC_LINES_DTR, dtr ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(window(), IDC_LINES_RTS, rts ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(window(), IDC_LINES_BREAK, BST_UNCHECKED);
    ShowConnected(true);
}

void LinesPage::Close() {
    Check(driver_->Close(), L"Close");
    log_.Add(L"closed");
    for (const Indicator& indicator : kIndicators) ShowLevel(indicator.control, indicator.name, -1);
    ShowConnected(false);
}

void LinesPage::SetOutput(int control, HRESULT (STDMETHODCALLTYPE IRs232DigitalIoDriver::*set)(long),
                          const wchar_t* name) {
    const long level = Checked(control) ? 1 : 0;
    if (Check((driver_.get()->*set)(level), name)) log_.Add(std::wstring(name) + (level ? L" on" : L" off"));
}

void LinesPage::OnEvent(DISPID id, const VARIANT& argument) {
    if (id == kOnText && argument.vt == VT_BSTR) {
        log_.Add(L"OnText \"" + std::wstring(argument.bstrVal ? argument.bstrVal : L"") + L"\"");
        return;
    }
    for (const Indicator& indicator : kIndicators) {
        if (indicator.event != id || argument.vt != VT_I4) continue;
        ShowLevel(indicator.control, indicator.name, argument.lVal);
        log_.Add(std::wstring(L"On") + indicator.name + L"(" + std::to_wstring(argument.lVal) + L")");
    }
}

// The indicator's text says its state ("CTS on"), for screen readers and the tests alike.
void LinesPage::ShowLevel(int control, const wchar_t* name, long level) {
    const std::wstring text = std::wstring(name) + (level < 0 ? L" -" : level ? L" on" : L" off");
    SetText(control, text);
    ::RedrawWindow(Item(control), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

bool LinesPage::OnDrawItem(const DRAWITEMSTRUCT& item) {
    wchar_t text[32] = L"";
    ::GetWindowTextW(item.hwndItem, text, 32);
    const bool on = std::wstring(text).find(L" on") != std::wstring::npos;
    RECT box = item.rcItem;
    ::FillRect(item.hDC, &box, ::GetSysColorBrush(COLOR_BTNFACE));
    const int size = box.bottom - box.top - 4;
    HBRUSH lamp = ::CreateSolidBrush(on ? RGB(40, 200, 60) : RGB(150, 150, 150));
    HGDIOBJ old = ::SelectObject(item.hDC, lamp);
    ::Ellipse(item.hDC, box.left + 2, box.top + 2, box.left + 2 + size, box.top + 2 + size);
    ::SelectObject(item.hDC, old);
    ::DeleteObject(lamp);
    box.left += size + 8;
    ::SetBkMode(item.hDC, TRANSPARENT);
    HGDIOBJ font = ::SelectObject(item.hDC, reinterpret_cast<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    ::DrawTextW(item.hDC, text, -1, &box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    ::SelectObject(item.hDC, font);
    return true;
}

void LinesPage::ShowConnected(bool open) {
    Enable({IDC_LINES_OPEN, IDC_LINES_PORT, IDC_LINES_REFRESH}, !open);
    Enable({IDC_LINES_CLOSE, IDC_LINES_DTR, IDC_LINES_RTS, IDC_LINES_BREAK}, open);
}

}  // namespace

std::unique_ptr<Page> MakeLinesPage() { return std::make_unique<LinesPage>(); }

}  // namespace panel
