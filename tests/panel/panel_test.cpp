// TarnPanel against the stand-in devices, driven from outside as a person
// drives it: two panels (A and B) side by side, each step of the table done
// through window messages, then waited for in what the window shows, with
// the stand-ins' own view of the cable as the other witness.
//
// Prints two figures: stand-in line change to lit indicator (median), and the
// window's answer time while a 2 s Read runs.  TARN_PANEL_SHOTS (a folder)
// receives a picture of each page.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "nullmodem_test_support.h"
#include "panel_window.h"

namespace paneltest {
namespace {

constexpr int kLinesPort = 21, kLinesPeer = 22, kSerialA = 23, kSerialB = 24;

struct Bench {
    nulltest::Control cable;
    std::unique_ptr<PanelWindow> a, b;
    std::vector<double> indicatorMs;  // stand-in change to indicator shown
    std::vector<double> answerMs;     // the window's answer times during a 2 s Read
};

struct Step {
    std::string name;
    std::function<void(Bench&)> act;
    std::function<std::string(Bench&)> unmet;  // "" once the window (and the stand-in) show the step done
    double boundMs;
};

std::string Expect(bool met, const std::string& what) { return met ? "" : what; }

// The four inputs: the stand-in line, the indicator, the event's name.
struct Input {
    TARN_NULLMODEM_LINE line;
    int indicator;
    const wchar_t* name;
};
const Input kInputs[] = {{TARN_NULLMODEM_LINE_CTS, IDC_LINES_CTS, L"CTS"},
                         {TARN_NULLMODEM_LINE_DSR, IDC_LINES_DSR, L"DSR"},
                         {TARN_NULLMODEM_LINE_RI, IDC_LINES_RI, L"RI"},
                         {TARN_NULLMODEM_LINE_DCD, IDC_LINES_DCD, L"DCD"}};

// A stand-in change of one input lights (or darkens) its indicator and adds exactly one log line.
Step LineChange(const Input& input, bool on) {
    auto before = std::make_shared<size_t>(0);
    auto clock = std::make_shared<tarn::test::Stopwatch>();
    auto shownAt = std::make_shared<double>(-1);
    const std::wstring shown = std::wstring(input.name) + (on ? L" on" : L" off");
    const std::wstring logged = std::wstring(L"On") + input.name + (on ? L"(1)" : L"(0)");
    return {"stand-in " + Narrow(shown) + " shows on its indicator and in one log line",
            [=](Bench& bench) {
                *before = bench.a->Lines(IDD_LINES, IDC_LINES_LOG).size();
                *shownAt = -1;
                *clock = tarn::test::Stopwatch();
                bench.cable.SetLine(kLinesPort, input.line, on ? TARN_NULLMODEM_LINE_FORCED_ON : TARN_NULLMODEM_LINE_FORCED_OFF);
            },
            [=](Bench& bench) {
                if (bench.a->Text(IDD_LINES, input.indicator) != shown) return "indicator reads \"" + Narrow(bench.a->Text(IDD_LINES, input.indicator)) + "\"";
                if (*shownAt < 0) *shownAt = clock->Ms();
                const auto lines = bench.a->Lines(IDD_LINES, IDC_LINES_LOG);
                if (lines.size() != *before + 1) return "log grew by " + std::to_string(lines.size() - *before) + " lines";
                if (lines.back().find(logged) == std::wstring::npos) return "last line \"" + Narrow(lines.back()) + "\"";
                bench.indicatorMs.push_back(*shownAt);
                return std::string();
            },
            2000};
}

// An output toggle reaches the stand-in port and, through the cable, the peer's input.
Step OutputToggle(const char* name, int button, uint32_t TarnNullModemPortState::*output, uint32_t peerBit, bool on) {
    return {std::string(name) + (on ? " on" : " off") + " reaches the port and the peer",
            [=](Bench& bench) { bench.a->Click(IDD_LINES, button); },
            [=](Bench& bench) {
                const uint32_t level = bench.cable.State(kLinesPort).*output;
                const bool peerSees = (bench.cable.State(kLinesPeer).modem_status & peerBit) != 0;
                return Expect(level == (on ? 1u : 0u) && (peerBit == 0 || peerSees == on),
                              "port output " + std::to_string(level) + ", peer input " + std::to_string(peerSees));
            },
            2000};
}

// Clicks `button` on a page of panel `which`, then waits for `part` in that page's log.
using Panel = std::unique_ptr<PanelWindow> Bench::*;
Step Logs(std::string name, Panel which, int page, std::function<void(PanelWindow&)> fill, int button,
          int log, std::wstring part, double boundMs = 5000) {
    return {std::move(name),
            [=](Bench& bench) {
                if (fill) fill(*(bench.*which));
                (bench.*which)->Click(page, button);
            },
            [=](Bench& bench) { return (bench.*which)->LogHas(page, log, part); }, boundMs};
}

// Keeps asking the window for an answer (WM_NULL round trips) while a Read of
// 450 bytes waits its 200 + 4 * 450 ms on B's call queue, until its result is logged.
Step ReadKeepsWindowAnswering() {
    return {"a 2 s Read leaves the window answering",
            [](Bench& bench) {
                bench.b->Type(IDD_SERIAL, IDC_SERIAL_READ_COUNT, L"450");
                bench.b->Click(IDD_SERIAL, IDC_SERIAL_READ);
                tarn::test::Stopwatch clock;
                while (!bench.b->LogHas(IDD_SERIAL, IDC_SERIAL_LOG, L"Read(450) failed").empty() && clock.Ms() < 4000) {
                    tarn::test::Stopwatch trip;
                    DWORD_PTR ignored = 0;
                    const bool answered = ::SendMessageTimeoutW(bench.b->window(), WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored) != 0;
                    bench.answerMs.push_back(answered ? trip.Ms() : 1e9);
                    ::Sleep(20);
                }
            },
            [](Bench& bench) {
                const double slowest = bench.answerMs.empty() ? 1e9 : *std::max_element(bench.answerMs.begin(), bench.answerMs.end());
                if (bench.answerMs.size() < 20) return "only " + std::to_string(bench.answerMs.size()) + " answers during the Read";
                return Expect(slowest < 1e9, "the window did not answer within 1 s during the Read");
            },
            100};
}

// Puts a picture of one page of a panel in TARN_PANEL_SHOTS, when it is set.
Step Picture(const char* file, Panel which, int page) {
    return {std::string("picture ") + file,
            [=](Bench& bench) {
                const char* folder = std::getenv("TARN_PANEL_SHOTS");
                if (!folder || !*folder) return;
                (bench.*which)->ShowPage(page);
                std::string path = std::string(folder) + "\\" + file;
                EXPECT_TRUE((bench.*which)->SaveScreenshot(std::wstring(path.begin(), path.end()))) << path;
            },
            [](Bench&) { return std::string(); }, 0};
}

std::vector<Step> Steps() {
    std::vector<Step> steps;
    auto add = [&steps](Step step) { steps.push_back(std::move(step)); };
    const std::wstring lines = L"\\\\.\\COM" + std::to_wstring(kLinesPort);
    add({"the status line names the module loaded and its bitness", [](Bench&) {},
         [](Bench& bench) {
             const std::wstring info = bench.a->Text(0, IDC_LIBRARY_INFO);
             const std::wstring bitness = sizeof(void*) == 8 ? L"64-bit: " : L"32-bit: ";
             return Expect(info.find(L"TarnDriver 5.") != std::wstring::npos && info.find(bitness) != std::wstring::npos &&
                               info.find(L"\\TarnDriver.DLL") != std::wstring::npos,
                           "status line \"" + Narrow(info) + "\"");
         },
         2000});
    add(Logs("Lines opens the port typed", &Bench::a, IDD_LINES,
             [](PanelWindow& p) { p.Type(IDD_LINES, IDC_LINES_PORT, L"COM21"); }, IDC_LINES_OPEN, IDC_LINES_LOG,
             L"opened " + lines));
    // Repeated, for the median of the event-to-indicator time.
    for (int round = 0; round < 5; ++round)
        for (const Input& input : kInputs)
            for (bool on : {true, false}) add(LineChange(input, on));
    add({"the cable gives the lines back", [](Bench& bench) {
             for (const Input& input : kInputs) bench.cable.SetLine(kLinesPort, input.line, TARN_NULLMODEM_LINE_WIRED);
         },
         [](Bench&) { return std::string(); }, 0});
    // Open leaves DTR and RTS low: the first click raises them.
    for (bool on : {true, false}) add(OutputToggle("DTR", IDC_LINES_DTR, &TarnNullModemPortState::dtr, 0x20, on));
    for (bool on : {true, false}) add(OutputToggle("RTS", IDC_LINES_RTS, &TarnNullModemPortState::rts, 0x10, on));
    for (bool on : {true, false}) add(OutputToggle("Break", IDC_LINES_BREAK, &TarnNullModemPortState::break_on, 0, on));
    add(LineChange(kInputs[0], true));
    add(LineChange(kInputs[3], true));
    add(Picture("lines.bmp", &Bench::a, 0));
    add({"the lines are wired again", [](Bench& bench) {
             for (const Input& input : kInputs) bench.cable.SetLine(kLinesPort, input.line, TARN_NULLMODEM_LINE_WIRED);
         },
         [](Bench&) { return std::string(); }, 0});

    // Serial: A on one end of the second cable, B on the other.
    for (auto [panel, port] : {std::pair<Panel, int>{&Bench::a, kSerialA}, {&Bench::b, kSerialB}})
        add(Logs("Serial opens COM" + std::to_string(port), panel, IDD_SERIAL,
                 [port = port](PanelWindow& p) {
                     p.Type(IDD_SERIAL, IDC_SERIAL_PORT, std::to_wstring(port));
                     p.Type(IDD_SERIAL, IDC_SERIAL_BAUD, L"115200");
                 },
                 IDC_SERIAL_OPEN, IDC_SERIAL_LOG, L"opened COM" + std::to_wstring(port) + L" at 115200 baud"));
    add({"text with CR LF sent by A arrives in B's page as hex and text",
         [](Bench& bench) {
             bench.a->Type(IDD_SERIAL, IDC_SERIAL_SEND_TEXT, L"Hello panel");
             bench.a->Choose(IDD_SERIAL, IDC_SERIAL_ENDING, 3);
             bench.a->Click(IDD_SERIAL, IDC_SERIAL_SEND);
         },
         [](Bench& bench) {
             const std::wstring shown = bench.b->Text(IDD_SERIAL, IDC_SERIAL_RECEIVED);
             return Expect(shown.find(L"48 65 6C 6C 6F 20 70 61 6E 65 6C 0D 0A") != std::wstring::npos &&
                               shown.find(L"| Hello panel..") != std::wstring::npos,
                           "B shows \"" + Narrow(shown) + "\"");
         },
         3000});
    add({"hex sent by A arrives as those bytes",
         [](Bench& bench) {
             bench.a->Click(IDD_SERIAL, IDC_SERIAL_AS_HEX);
             bench.a->Choose(IDD_SERIAL, IDC_SERIAL_ENDING, 0);
             bench.a->Type(IDD_SERIAL, IDC_SERIAL_SEND_TEXT, L"00 ff,7E");
             bench.a->Click(IDD_SERIAL, IDC_SERIAL_SEND);
         },
         [](Bench& bench) {
             const std::wstring shown = bench.b->Text(IDD_SERIAL, IDC_SERIAL_RECEIVED);
             return Expect(shown.find(L"0D 0A 00 FF 7E") != std::wstring::npos, "B shows \"" + Narrow(shown) + "\"");
         },
         3000});
    add(Logs("a Read that times out logs the library's text", &Bench::b, IDD_SERIAL,
             [](PanelWindow& p) { p.Type(IDD_SERIAL, IDC_SERIAL_READ_COUNT, L"10"); }, IDC_SERIAL_READ, IDC_SERIAL_LOG,
             L"Read(10) failed: 0x80004005 \"not all bytes received\" (TarnDriver.Rs232Driver.1)"));
    add(ReadKeepsWindowAnswering());
    add(Picture("serial.bmp", &Bench::b, 1));

    // USB: A and B on the same device.
    for (Panel panel : {&Bench::a, &Bench::b})
        add(Logs("USB opens Lumo 0", panel, IDD_USB, [](PanelWindow& p) { p.Choose(IDD_USB, IDC_USB_DEVICE, 0); },
                 IDC_USB_OPEN, IDC_USB_LOG, L"Open(0, 0) = True"));
    add(Logs("a vendor register written", &Bench::a, IDD_USB,
             [](PanelWindow& p) {
                 p.Type(IDD_USB, IDC_USB_REQUEST, L"0x37");
                 p.Type(IDD_USB, IDC_USB_DATA, L"A5 5A 01 02");
                 p.Type(IDD_USB, IDC_USB_LENGTH, L"4");
             },
             IDC_USB_VENDOR_WRITE, IDC_USB_LOG, L"VendorRequestWrite(0x37, 0, 0, A5 5A 01 02) done"));
    add(Logs("reads back from B", &Bench::b, IDD_USB,
             [](PanelWindow& p) {
                 p.Type(IDD_USB, IDC_USB_REQUEST, L"0x37");
                 p.Type(IDD_USB, IDC_USB_LENGTH, L"4");
             },
             IDC_USB_VENDOR_READ, IDC_USB_LOG, L"VendorRequestRead(0x37, 0, 0, 4) = A5 5A 01 02"));
    add(Logs("a receive waits for the bytes", &Bench::a, IDD_USB, [](PanelWindow& p) { p.Type(IDD_USB, IDC_USB_BULK_COUNT, L"3"); },
             IDC_USB_BULK_RECEIVE, IDC_USB_LOG, L"ReadMainEndpoint(3) waiting"));
    add(Logs("and ends when B sends them", &Bench::b, IDD_USB, [](PanelWindow& p) { p.Type(IDD_USB, IDC_USB_BULK_DATA, L"10 20 30"); },
             IDC_USB_BULK_SEND, IDC_USB_LOG, L"WriteMainEndpoint(3, 10 20 30) done"));
    add({"A's log shows the bytes", [](Bench&) {},
         [](Bench& bench) { return bench.a->LogHas(IDD_USB, IDC_USB_LOG, L"ReadMainEndpoint(3) = 10 20 30"); }, 3000});
    add(Logs("A locks etnltPlayback", &Bench::a, IDD_USB, [](PanelWindow& p) { p.Choose(IDD_USB, IDC_USB_LOCK_TYPE, 4); },
             IDC_USB_LOCK, IDC_USB_LOG, L"LockDevice(etnltPlayback) = key "));
    add(Logs("B's lock of it is refused", &Bench::b, IDD_USB, [](PanelWindow& p) { p.Choose(IDD_USB, IDC_USB_LOCK_TYPE, 4); },
             IDC_USB_LOCK, IDC_USB_LOG, L"LockDevice(etnltPlayback) failed: 0x"));
    add(Picture("usb.bmp", &Bench::b, 2));
    add(Logs("A unlocks it", &Bench::a, IDD_USB, nullptr, IDC_USB_UNLOCK, IDC_USB_LOG, L") done"));
    add(Logs("then B's lock is granted", &Bench::b, IDD_USB, nullptr, IDC_USB_LOCK, IDC_USB_LOG,
             L"LockDevice(etnltPlayback) = key "));

    add({"a new panel starts with the port and settings the last one closed with",
         [](Bench& bench) {
             bench.a->Close();
             bench.a = std::make_unique<PanelWindow>();
         },
         [](Bench& bench) {
             return Expect(bench.a->Text(IDD_LINES, IDC_LINES_PORT) == L"COM21" &&
                               bench.a->Text(IDD_SERIAL, IDC_SERIAL_PORT) == std::to_wstring(kSerialA) &&
                               bench.a->Text(IDD_SERIAL, IDC_SERIAL_BAUD) == L"115200",
                           "shows port \"" + Narrow(bench.a->Text(IDD_LINES, IDC_LINES_PORT)) + "\", serial port \"" +
                               Narrow(bench.a->Text(IDD_SERIAL, IDC_SERIAL_PORT)) + "\"");
         },
         5000});
    return steps;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

TEST(PanelTest, EveryStepShowsInTheWindow) {
    Bench bench;
    ASSERT_TRUE(bench.cable.valid()) << "the TarnNullModem service is not running";
    for (int port : {kLinesPort, kLinesPeer, kSerialA, kSerialB}) ASSERT_TRUE(bench.cable.Reset(port));
    // The settings step needs a panel that starts with nothing remembered.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnDriver\\Panel");
    bench.a = std::make_unique<PanelWindow>(L"--page lines");
    bench.b = std::make_unique<PanelWindow>(L"--page serial");
    ASSERT_TRUE(bench.a->window() && bench.b->window()) << "a panel did not show its window";
    bench.a->MoveTo(0, 0);
    bench.b->MoveTo(760, 0);
    for (Step& step : Steps()) {
        step.act(bench);
        const std::string unmet = WaitUntil([&] { return step.unmet(bench); }, step.boundMs);
        EXPECT_EQ(unmet, "") << step.name;
    }
    std::printf("event to indicator: median %.1f ms, slowest %.1f ms over %zu stand-in line changes\n",
                Median(bench.indicatorMs), bench.indicatorMs.empty() ? 0.0 : *std::max_element(bench.indicatorMs.begin(), bench.indicatorMs.end()),
                bench.indicatorMs.size());
    std::printf("window answers during a 2 s Read: %zu round trips, median %.2f ms, slowest %.2f ms\n", bench.answerMs.size(),
                Median(bench.answerMs), bench.answerMs.empty() ? 0.0 : *std::max_element(bench.answerMs.begin(), bench.answerMs.end()));
}

}  // namespace
}  // namespace paneltest
