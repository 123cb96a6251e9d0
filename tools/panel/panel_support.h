// What the three pages share: the page frame (a child dialog with its own
// message handler), the call queue that keeps long calls off the window's
// thread, the time-stamped log, hex text, failure texts and the per-user
// settings.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/critical_section.h"
#include "platform/unique_handle.h"

namespace panel {

// A log list box: each line starts with the time of day to the millisecond.
class Log {
public:
    void Attach(HWND list) { list_ = list; }
    void Add(const std::wstring& line) const;
    void Clear() const;
    // Copies every line, one per text line, to the clipboard.
    void Copy(HWND owner) const;

private:
    HWND list_ = nullptr;
};

// One worker thread in the multithreaded apartment that runs calls in order.
// Each call's `work` runs there; its `done` then runs on the window's thread
// (the page forwards WM_PANEL_CALL_DONE to Finish), so the window never waits
// for a device.
class CallQueue {
public:
    explicit CallQueue(HWND notify);
    ~CallQueue();  // runs what is queued, then ends the thread (waits at most a few seconds)
    CallQueue(const CallQueue&) = delete;
    CallQueue& operator=(const CallQueue&) = delete;

    void Run(std::function<void()> work, std::function<void()> done = {});
    // Calls queued or running, for a page that must not pile up polls.
    int pending() const { return pending_; }
    // On the window's thread: the `done` of a finished call.
    void Finish(LPARAM call);

private:
    struct Call {
        std::function<void()> work, done;
    };
    static DWORD WINAPI Thread(void* self);
    void Loop();

    HWND notify_;
    HANDLE activation_ = nullptr;  // the creating thread's activation context, for the objects made here
    tarn::CriticalSection lock_;
    std::deque<Call*> calls_;
    tarn::UniqueHandle wake_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    tarn::UniqueHandle thread_;
    bool stopping_ = false;
    volatile LONG pending_ = 0;
};

// The outcome of a device call, carried from the queue's thread to the window's.
struct Outcome {
    HRESULT hr = S_OK;
    std::wstring failure;  // DescribeFailure, taken on the thread that failed
    std::vector<uint8_t> bytes;
    long number = 0;
    bool flag = false;
};

// A page: a child dialog of the main window whose messages reach the
// object's virtual handlers.  The dialog's window ID is its resource ID.
class Page {
public:
    virtual ~Page() = default;
    HWND Create(HINSTANCE instance, int dialogId, HWND parent);
    HWND window() const { return window_; }
    // Saves what the page remembers for the next start (called before it closes).
    virtual void SaveSettings() {}

protected:
    virtual void OnInit() {}
    virtual void OnCommand(int id, int code) = 0;
    virtual bool OnDrawItem(const DRAWITEMSTRUCT&) { return false; }
    virtual void OnTimer(UINT_PTR) {}
    virtual void OnDestroy() {}

    HWND Item(int id) const { return ::GetDlgItem(window_, id); }
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const { ::SetDlgItemTextW(window_, id, text.c_str()); }
    // A number typed as decimal or as 0x-hex; `fallback` when the field holds neither.
    long Number(int id, long fallback) const;
    bool Checked(int id) const { return ::IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    void Enable(std::initializer_list<int> ids, bool on) const;

    // The page's calls that may wait on a device (pages that make none leave it empty).
    std::unique_ptr<CallQueue> queue_;

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
};

// "0x80004005 "not all bytes received" (TarnDriver.Rs232Driver.1)": the HRESULT
// with the error information the failed call left on this thread, or the
// system's text for it when it left none.
std::wstring DescribeFailure(HRESULT hr);

// Runs `work` with the driver on the queue; `done` gets its outcome on the
// window's thread.  The driver is read on the queue's thread only, where the
// page makes and releases it.
template <class Driver>
void CallDriver(CallQueue& queue, tarn::ComPtr<Driver>& driver, std::function<HRESULT(Driver*, Outcome*)> work,
                std::function<void(const Outcome&)> done) {
    auto outcome = std::make_shared<Outcome>();
    queue.Run(
        [&driver, work, outcome] {
            if (!driver) {
                outcome->hr = E_POINTER;
                outcome->failure = L"the object could not be created (the line above the pages says why)";
                return;
            }
            outcome->hr = work(driver.get(), outcome.get());
            if (FAILED(outcome->hr)) outcome->failure = DescribeFailure(outcome->hr);
        },
        [done, outcome] { done(*outcome); });
}

// Creates the page's object on the queue's thread, so that it lives in the
// multithreaded apartment and the queue calls it directly.
template <class Driver>
void CreateOnQueue(CallQueue& queue, tarn::ComPtr<Driver>& driver, REFCLSID type, REFIID iid,
                   std::function<void(HRESULT)> done) {
    auto hr = std::make_shared<HRESULT>(S_OK);
    queue.Run([&driver, &type, &iid, hr] {
        *hr = ::CoCreateInstance(type, nullptr, CLSCTX_INPROC_SERVER, iid, driver.put_void());
    },
              [done, hr] { done(*hr); });
}

// "48 65 6C 6C 6F"; and the bytes of such a text (spaces, commas optional, 0x allowed).
std::wstring ToHex(const std::vector<uint8_t>& bytes);
bool ParseHex(const std::wstring& text, std::vector<uint8_t>* bytes);
// A byte array's bytes (VT_ARRAY|VT_UI1), or none.
std::vector<uint8_t> BytesOf(const VARIANT& value);
// A one-dimensional SAFEARRAY of bytes holding `bytes`; the caller owns it.
SAFEARRAY* NewByteArray(const std::vector<uint8_t>& bytes);
// Each byte as the character it is, '.' for what does not print.
std::wstring Printable(const std::vector<uint8_t>& bytes);

// HKEY_CURRENT_USER\Software\TarnDriver\Panel: what the panel remembers.
namespace settings {
std::wstring Text(const wchar_t* name, const std::wstring& fallback);
DWORD Number(const wchar_t* name, DWORD fallback);
void SetText(const wchar_t* name, const std::wstring& value);
void SetNumber(const wchar_t* name, DWORD value);
}  // namespace settings

}  // namespace panel
