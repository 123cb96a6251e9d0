// The page frame, the call queue, the log and the small text helpers.
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

// --- Texts --------------------------------------------------------------------------
std::wstring DescribeFailure(HRESULT hr) {
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = code;
    tarn::ComPtr<IErrorInfo> info;
    BSTR description = nullptr, source = nullptr;
    if (::GetErrorInfo(0, info.put()) == S_OK && info) {
        info->GetDescription(&description);
        info->GetSource(&source);
    }
    if (description && *description) {
        text += L" \"" + std::wstring(description) + L"\"";
        if (source && *source) text += L" (" + std::wstring(source) + L")";
    } else {
        wchar_t* system = nullptr;
        if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr)) {
            std::wstring message = system;
            while (!message.empty() && std::iswspace(message.back())) message.pop_back();
            text += L" (" + message + L")";
            ::LocalFree(system);
        }
    }
    ::SysFreeString(description);
    ::SysFreeString(source);
    return text;
}

std::wstring ToHex(const std::vector<uint8_t>& bytes) {
    std::wstring text;
    wchar_t two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::swprintf(two, 4, L"%02X", bytes[i]);
        if (i) text += L' ';
        text += two;
    }
    return text;
}

bool ParseHex(const std::wstring& text, std::vector<uint8_t>* bytes) {
    bytes->clear();
    size_t i = 0;
    while (i < text.size()) {
        if (std::iswspace(text[i]) || text[i] == L',') { ++i; continue; }
        if (text.compare(i, 2, L"0x") == 0 || text.compare(i, 2, L"0X") == 0) i += 2;
        size_t digits = 0;
        unsigned value = 0;
        while (i < text.size() && std::iswxdigit(text[i]) && digits < 2) {
            value = value * 16 + static_cast<unsigned>(std::iswdigit(text[i]) ? text[i] - L'0' : (text[i] | 0x20) - L'a' + 10);
            ++i, ++digits;
        }
        if (digits == 0) return false;
        bytes->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

std::vector<uint8_t> BytesOf(const VARIANT& value) {
    std::vector<uint8_t> bytes;
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray || ::SafeArrayGetDim(value.parray) != 1) return bytes;
    LONG low = 0, high = -1;
    ::SafeArrayGetLBound(value.parray, 1, &low);
    ::SafeArrayGetUBound(value.parray, 1, &high);
    void* data = nullptr;
    if (high >= low && SUCCEEDED(::SafeArrayAccessData(value.parray, &data))) {
        const auto* first = static_cast<const uint8_t*>(data);
        bytes.assign(first, first + (high - low + 1));
        ::SafeArrayUnaccessData(value.parray);
    }
    return bytes;
}

SAFEARRAY* NewByteArray(const std::vector<uint8_t>& bytes) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (array && !bytes.empty() && SUCCEEDED(::SafeArrayAccessData(array, &data))) {
        std::memcpy(data, bytes.data(), bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    return array;
}

std::wstring Printable(const std::vector<uint8_t>& bytes) {
    std::wstring text;
    for (uint8_t b : bytes) text += (b >= 0x20 && b < 0x7F) ? static_cast<wchar_t>(b) : L'.';
    return text;
}

// --- Settings -----------------------------------------------------------------------
namespace settings {
namespace {
constexpr const wchar_t* kKey = L"Software\\TarnDriver\\Panel";
}

std::wstring Text(const wchar_t* name, const std::wstring& fallback) {
    wchar_t value[260];
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

DWORD Number(const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

void SetText(const wchar_t* name, const std::wstring& value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, value.c_str(),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(const wchar_t* name, DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_DWORD, &value, sizeof value);
}
}  // namespace settings

}  // namespace panel
