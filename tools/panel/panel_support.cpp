// The page frame, the call queue and the log.
#include "panel_support.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

#include "activation_context.h"
#include "panel_ids.h"
#include "platform/com_ptr.h"

namespace panel {

// --- Page -------------------------------------------------------------------------
HWND Page::Create(HINSTANCE instance, int dialogId, HWND parent) {
    ::CreateDialogParamW(instance, MAKEINTRESOURCEW(dialogId), parent, Proc, reinterpret_cast<LPARAM>(this));
    if (window_) ::SetWindowLongPtrW(window_, GWLP_ID, dialogId);
    return window_;
}

INT_PTR CALLBACK Page::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* page = reinterpret_cast<Page*>(lParam);
        page->window_ = window;
        page->OnInit();
        return TRUE;
    }
    auto* page = reinterpret_cast<Page*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!page) return FALSE;
    switch (message) {
    case WM_COMMAND:
        page->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DRAWITEM:
        return page->OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_TIMER:
        page->OnTimer(wParam);
        return TRUE;
    case WM_PANEL_CALL_DONE:
        if (page->queue_) page->queue_->Finish(lParam);
        return TRUE;
    case WM_DESTROY:
        page->OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

std::wstring Page::Text(int id) const {
    const int length = ::GetWindowTextLengthW(Item(id));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetDlgItemTextW(window_, id, &text[0], length + 1)));
    return text;
}

long Page::Number(int id, long fallback) const {
    const std::wstring text = Text(id);
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 0);  // base 0: 0x.. is hex
    return (text.empty() || *end != L'\0') ? fallback : value;
}

void Page::Enable(std::initializer_list<int> ids, bool on) const {
    for (int id : ids) ::EnableWindow(Item(id), on);
}

// --- Log --------------------------------------------------------------------------
void Log::Add(const std::wstring& line) const {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t stamp[16];
    std::swprintf(stamp, 16, L"%02u:%02u:%02u.%03u  ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    // A long session keeps the newest lines.
    constexpr LRESULT kMostLines = 5000;
    if (::SendMessageW(list_, LB_GETCOUNT, 0, 0) >= kMostLines) ::SendMessageW(list_, LB_DELETESTRING, 0, 0);
    const LRESULT index = ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>((stamp + line).c_str()));
    ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void Log::Clear() const { ::SendMessageW(list_, LB_RESETCONTENT, 0, 0); }

void Log::Copy(HWND owner) const {
    std::wstring all;
    const LRESULT count = ::SendMessageW(list_, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring line(static_cast<size_t>(::SendMessageW(list_, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        line.resize(static_cast<size_t>(::SendMessageW(list_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]))));
        all += line + L"\r\n";
    }
    if (!::OpenClipboard(owner)) return;
    ::EmptyClipboard();
    const SIZE_T bytes = (all.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        std::memcpy(::GlobalLock(memory), all.c_str(), bytes);
        ::GlobalUnlock(memory);
        // The clipboard owns the memory once it has taken it.
        if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
}

// --- CallQueue ----------------------------------------------------------------------
CallQueue::CallQueue(HWND notify) : notify_(notify) {
    if (!::GetCurrentActCtx(&activation_)) activation_ = nullptr;
    thread_.reset(::CreateThread(nullptr, 0, Thread, this, 0, nullptr));
}

CallQueue::~CallQueue() {
    {
        tarn::Lock hold(lock_);
        stopping_ = true;
    }
    ::SetEvent(wake_.get());
    // A call still waiting on a device after this long is left to the process's end.
    if (::WaitForSingleObject(thread_.get(), 5000) != WAIT_OBJECT_0) {
        thread_.release();
        return;  // the thread still uses the activation context
    }
    if (activation_) ::ReleaseActCtx(activation_);
}

void CallQueue::Run(std::function<void()> work, std::function<void()> done) {
    ::InterlockedIncrement(&pending_);
    {
        tarn::Lock hold(lock_);
        calls_.push_back(new Call{std::move(work), std::move(done)});
    }
    ::SetEvent(wake_.get());
}

void CallQueue::Finish(LPARAM finished) {
    auto* call = reinterpret_cast<Call*>(finished);
    ::InterlockedDecrement(&pending_);
    if (call->done) call->done();
    delete call;
}

DWORD WINAPI CallQueue::Thread(void* self) {
    // The objects made here live in the multithreaded apartment, so this
    // thread calls them directly and no message loop is needed.
    auto* queue = static_cast<CallQueue*>(self);
    const ActivationOnThread activation(queue->activation_);
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    queue->Loop();
    ::CoUninitialize();
    return 0;
}

void CallQueue::Loop() {
    for (;;) {
        Call* call = nullptr;
        bool stop = false;
        {
            tarn::Lock hold(lock_);
            if (!calls_.empty()) {
                call = calls_.front();
                calls_.pop_front();
            }
            stop = stopping_;
        }
        if (!call) {
            if (stop) return;
            ::WaitForSingleObject(wake_.get(), INFINITE);
            continue;
        }
        call->work();
        if (stop || !::PostMessageW(notify_, WM_PANEL_CALL_DONE, 0, reinterpret_cast<LPARAM>(call))) delete call;
    }
}

}  // namespace panel
