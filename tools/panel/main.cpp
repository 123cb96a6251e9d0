// TarnPanel: one window with a page per driver class, a client of the
// library's public interfaces only, as a user's program is.  Its thread is a
// single-threaded apartment with a message loop, so events reach it as they
// reach a VBA form.
//
//   TarnPanel.exe [--page lines|serial|usb]
//   TarnPanel.exe --describe    prints the status line (which TarnDriver it would use) and ends
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "activation_context.h"
#include "library_info.h"
#include "pages.h"
#include "panel_ids.h"

namespace panel {
namespace {

struct PageEntry {
    const wchar_t* title;
    const wchar_t* name;  // for --page
    int dialog;
    std::unique_ptr<Page> (*make)();
};
const PageEntry kPages[] = {{L"Lines", L"lines", IDD_LINES, MakeLinesPage},
                            {L"Serial", L"serial", IDD_SERIAL, MakeSerialPage},
                            {L"USB", L"usb", IDD_USB, MakeUsbPage}};
constexpr int kPageCount = 3;

class MainWindow {
public:
    int Run(HINSTANCE instance, int firstPage);

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInit(HWND window);
    void ShowPage(int index);
    void Close();

    HINSTANCE instance_ = nullptr;
    HWND window_ = nullptr;
    std::unique_ptr<Page> pages_[kPageCount];
    int firstPage_ = 0;
};

int MainWindow::Run(HINSTANCE instance, int firstPage) {
    instance_ = instance;
    firstPage_ = firstPage;
    ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, Proc, reinterpret_cast<LPARAM>(this));
    if (!window_) {
        // No window means no display: say so where it was started from.
        const char text[] = "TarnPanel: cannot create its window (is there a display?)\n";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &written, nullptr);
        return 1;
    }
    ::ShowWindow(window_, SW_SHOW);
    HACCEL accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::TranslateAcceleratorW(window_, accelerators, &message)) continue;
        if (::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

INT_PTR CALLBACK MainWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<MainWindow*>(lParam)->OnInit(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    switch (message) {
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->idFrom == IDC_PAGES && reinterpret_cast<NMHDR*>(lParam)->code == TCN_SELCHANGE)
            self->ShowPage(TabCtrl_GetCurSel(::GetDlgItem(window, IDC_PAGES)));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) >= IDM_SHOW_PAGE && LOWORD(wParam) < IDM_SHOW_PAGE + kPageCount)
            self->ShowPage(LOWORD(wParam) - IDM_SHOW_PAGE);
        else if (LOWORD(wParam) == IDCANCEL)
            self->Close();
        return TRUE;
    case WM_CLOSE:
        self->Close();
        return TRUE;
    default:
        return FALSE;
    }
}

void MainWindow::OnInit(HWND window) {
    window_ = window;
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(::LoadIconW(nullptr, IDI_APPLICATION)));
    ::SetDlgItemTextW(window, IDC_LIBRARY_INFO, DescribeLibrary().c_str());
    HWND tabs = ::GetDlgItem(window, IDC_PAGES);
    RECT area;
    ::GetClientRect(tabs, &area);
    for (int i = 0; i < kPageCount; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kPages[i].title);
        TabCtrl_InsertItem(tabs, i, &item);
    }
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    ::MapWindowPoints(tabs, window, reinterpret_cast<POINT*>(&area), 2);
    for (int i = 0; i < kPageCount; ++i) {
        pages_[i] = kPages[i].make();
        HWND page = pages_[i]->Create(instance_, kPages[i].dialog, window);
        // After the tab control in the tab order, so Tab goes from the tabs into the page.
        ::SetWindowPos(page, tabs, area.left, area.top, area.right - area.left, area.bottom - area.top, SWP_HIDEWINDOW);
    }
    // The library's status line now names the module the pages loaded.
    ::SetDlgItemTextW(window, IDC_LIBRARY_INFO, DescribeLibrary().c_str());
    ShowPage(firstPage_ >= 0 ? firstPage_ : static_cast<int>(settings::Number(L"Page", 0) % kPageCount));
}

void MainWindow::ShowPage(int index) {
    TabCtrl_SetCurSel(::GetDlgItem(window_, IDC_PAGES), index);
    for (int i = 0; i < kPageCount; ++i) ::ShowWindow(pages_[i]->window(), i == index ? SW_SHOW : SW_HIDE);
}

void MainWindow::Close() {
    settings::SetNumber(L"Page", static_cast<DWORD>(TabCtrl_GetCurSel(::GetDlgItem(window_, IDC_PAGES))));
    for (auto& page : pages_) {
        page->SaveSettings();
        ::DestroyWindow(page->window());
    }
    ::DestroyWindow(window_);
    ::PostQuitMessage(0);
}

// The portable package's folder: TarnDriver.DLL with its assembly manifest,
// unregistered.  The panel then finds the classes through that manifest; a
// registered library (the installed packages) is used as registered.
std::wstring ManifestBesideProgram() {
    CLSID registered;
    if (SUCCEEDED(::CLSIDFromProgID(L"TarnDriver.DriverEnumerator", &registered))) return std::wstring();
    wchar_t path[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring manifest = path;
    manifest = manifest.substr(0, manifest.find_last_of(L'\\') + 1) + L"TarnDriver.manifest";
    return ::GetFileAttributesW(manifest.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : manifest;
}

int PageNamed(const wchar_t* name) {
    for (int i = 0; i < kPageCount; ++i)
        if (::lstrcmpiW(name, kPages[i].name) == 0) return i;
    return -1;
}

}  // namespace
}  // namespace panel

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    int firstPage = -1;
    bool describe = false;
    for (int i = 1; argv && i < argc; ++i) {
        if (::lstrcmpiW(argv[i], L"--page") == 0 && i + 1 < argc) firstPage = panel::PageNamed(argv[i + 1]);
        describe |= ::lstrcmpiW(argv[i], L"--describe") == 0;
    }
    ::LocalFree(argv);

    const ManifestActivation activation(panel::ManifestBesideProgram());
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    if (describe) {
        const std::wstring text = panel::DescribeLibrary() + L"\r\n";
        std::string bytes;  // paths and versions; what is not ASCII shows as '?'
        for (wchar_t c : text) bytes += c < 0x80 ? static_cast<char>(c) : '?';
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CoUninitialize();
        return 0;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    const int rc = panel::MainWindow().Run(instance, firstPage);
    ::CoUninitialize();
    return rc;
}
