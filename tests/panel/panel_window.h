// A running TarnPanel.exe seen from outside, as a person at the screen sees it:
// its controls found by their IDs, driven with window messages, read back
// through their texts, and the window's picture taken from the screen.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../tools/panel/panel_ids.h"
#include "common/stopwatch.h"
#include "platform/unique_handle.h"

namespace paneltest {

// Calls `met` until it returns "" or `ms` have passed; returns its last answer.
template <class Condition>
std::string WaitUntil(Condition met, double ms) {
    tarn::test::Stopwatch clock;
    std::string unmet;
    while (!(unmet = met()).empty() && clock.Ms() < ms) ::Sleep(1);
    return unmet;
}

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

class PanelWindow {
public:
    // Starts the panel beside this program and waits for its window.  Wine's
    // desktop process of a run without a display lingers a few seconds after
    // its last client (an earlier test), and a window made meanwhile finds no
    // display driver: the panel then ends at once, and is started again.
    explicit PanelWindow(const std::wstring& arguments = L"") {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring program = self;
        program = program.substr(0, program.find_last_of(L'\\') + 1) + L"TarnPanel.exe";
        tarn::test::Stopwatch clock;
        while (!window_ && clock.Ms() < 30000) {
            std::wstring line = L"\"" + program + L"\" " + arguments;
            STARTUPINFOW startup{sizeof startup};
            PROCESS_INFORMATION process{};
            if (!::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
                return;
            process_.reset(process.hProcess);
            ::CloseHandle(process.hThread);
            id_ = process.dwProcessId;
            WaitUntil([this] {
                if ((window_ = Find())) return "";
                return ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0 ? "" : "no window yet";
            }, 20000);
            if (!window_) ::Sleep(500);
        }
    }
    ~PanelWindow() { Close(); }
    PanelWindow(const PanelWindow&) = delete;
    PanelWindow& operator=(const PanelWindow&) = delete;

    HWND window() const { return window_; }
    // Closes the window as its close box does, and waits for the process to end.
    void Close() {
        if (!process_) return;
        if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
        if (::WaitForSingleObject(process_.get(), 15000) != WAIT_OBJECT_0) ::TerminateProcess(process_.get(), 9);
        process_.reset();
        window_ = nullptr;
    }

    HWND Control(int page, int id) const { return page ? ::GetDlgItem(::GetDlgItem(window_, page), id) : ::GetDlgItem(window_, id); }
    void Click(int page, int id) const { ::SendMessageW(Control(page, id), BM_CLICK, 0, 0); }
    void Type(int page, int id, const std::wstring& text) const {
        ::SendMessageW(Control(page, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void Choose(int page, int id, int index) const { ::SendMessageW(Control(page, id), CB_SETCURSEL, index, 0); }
    void ShowPage(int index) const { ::SendMessageW(window_, WM_COMMAND, IDM_SHOW_PAGE + index, 0); }
    void MoveTo(int x, int y) const { ::SetWindowPos(window_, HWND_TOP, x, y, 0, 0, SWP_NOSIZE); }

    std::wstring Text(int page, int id) const {
        wchar_t text[8192] = L"";
        ::SendMessageW(Control(page, id), WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(text));
        return text;
    }
    std::vector<std::wstring> Lines(int page, int id) const {
        std::vector<std::wstring> lines;
        const HWND list = Control(page, id);
        const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t line[1024] = L"";
            ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            lines.push_back(line);
        }
        return lines;
    }
    // "" when some line of the log holds `part`, else the log's last line.
    std::string LogHas(int page, int id, const std::wstring& part) const {
        const auto lines = Lines(page, id);
        for (const auto& line : lines)
            if (line.find(part) != std::wstring::npos) return "";
        return "log has no \"" + Narrow(part) + "\"; last: \"" + (lines.empty() ? "" : Narrow(lines.back())) + "\"";
    }

    // The window's picture as the screen shows it, as a 24-bit BMP file.
    // Taken at the screen's corner, above every other window, and put back after.
    bool SaveScreenshot(const std::wstring& path) const {
        RECT was;
        ::GetWindowRect(window_, &was);
        ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        ::Sleep(300);
        RECT box;
        ::GetWindowRect(window_, &box);
        const int width = box.right - box.left, height = box.bottom - box.top;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB};
        void* bits = nullptr;
        HDC screen = ::GetDC(nullptr);
        HDC memory = ::CreateCompatibleDC(screen);
        HBITMAP picture = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = ::SelectObject(memory, picture);
        const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY) != FALSE;
        ::SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u, size = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0, 0,
                              sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
        bool written = false;
        if (FILE* out = copied ? ::_wfopen(path.c_str(), L"wb") : nullptr) {
            written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                      std::fwrite(bits, size, 1, out) == 1;
            std::fclose(out);
        }
        ::DeleteObject(picture);
        ::DeleteDC(memory);
        ::ReleaseDC(nullptr, screen);
        ::SetWindowPos(window_, nullptr, was.left, was.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        return written;
    }

private:
    struct Search {
        DWORD process;
        HWND found;
    };
    // A lambda is no WNDENUMPROC on x86 (stdcall), so the callback is a function of its own.
    static BOOL CALLBACK Match(HWND window, LPARAM context) {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        wchar_t title[64] = L"";
        ::GetWindowTextW(window, title, 64);
        if (owner != search->process || std::wstring(title) != L"TarnDriver Panel" || !::IsWindowVisible(window)) return TRUE;
        search->found = window;
        return FALSE;
    }
    HWND Find() const {
        Search search{id_, nullptr};
        ::EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    tarn::UniqueHandle process_;
    DWORD id_ = 0;
    HWND window_ = nullptr;
};

}  // namespace paneltest
