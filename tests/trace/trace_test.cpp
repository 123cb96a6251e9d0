// The trace, switched on through the registry as a support engineer does:
// every member called once by name leaves its line (member, arguments, result,
// the failing system call where there is one), and lines written by many
// threads at once never interleave.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/com_test_support.h"

namespace tarn::test {
namespace {

constexpr wchar_t kTraceKey[] = L"Software\\TarnDriver\\Trace";

std::wstring TraceFilePath() {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"tarn_trace_test.log";
}

// Switches the trace on for the objects created after it, off again at the end.
class TraceTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        SetTrace(path_.c_str(), 3);
        NewLines();  // what earlier tests left: the library may hold the file open still
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTraceKey);
        ComTest::TearDown();
    }

    static void SetTrace(const wchar_t* file, DWORD level) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kTraceKey, L"File", REG_SZ, file,
                                    static_cast<DWORD>((wcslen(file) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kTraceKey, L"Level", REG_DWORD, &level, sizeof level),
                  ERROR_SUCCESS);
    }

    // The lines written since the last call.
    std::vector<std::string> NewLines() {
        std::string all;
        HANDLE file = ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        char chunk[65536];
        DWORD read = 0;
        while (file != INVALID_HANDLE_VALUE && ::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
            all.append(chunk, read);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        std::vector<std::string> lines;
        std::istringstream stream(all.substr(consumed_ < all.size() ? consumed_ : all.size()));
        consumed_ = all.size();
        for (std::string line; std::getline(stream, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    std::wstring path_ = TraceFilePath();
    size_t consumed_ = 0;
};

// One argument of a call by name.
struct Argument {
    enum Kind { Number, Text, Bytes, BytesByRef, NamesByRef } kind;
    long number = 0;
    const wchar_t* text = nullptr;
};
Argument N(long value) { return {Argument::Number, value}; }
Argument S(const wchar_t* text) { return {Argument::Text, 0, text}; }
const Argument kBytes{Argument::Bytes};        // 01 02 03
const Argument kBytesByRef{Argument::BytesByRef};
const Argument kNamesByRef{Argument::NamesByRef};  // {"x"}

struct MemberCase {
    const wchar_t* progId;
    const wchar_t* member;
    WORD flags;
    std::vector<Argument> arguments;
    const char* expectedLine;    // what the member's line holds after "Class@object "
    const char* failureSite;     // a line of the failing system call, or null
};

constexpr WORD kCall = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT;
#define RS L"TarnDriver.Rs232Driver"
#define DIO L"TarnDriver.Rs232DigitalIoDriver"
#define USB L"TarnDriver.UsbDriver"
#define ENUM L"TarnDriver.DriverEnumerator"

// Each member once, in an order that lets one object per class serve the
// whole table: the stand-ins open (serial COM21, digital I/O COM23, USB Lumo 0).
const MemberCase kMembers[] = {
    {RS, L"Open", kCall, {N(99)}, "Open(99) -> 0x80004005", "CreateFileW -> error 2"},
    {RS, L"Write", kCall, {kBytes}, "Write(3 bytes: 01 02 03) -> 0x80004005 \"WriteFile failed\"", nullptr},
    {RS, L"Open", kCall, {N(21)}, "Open(21) = True -> S_OK", nullptr},
    {RS, L"Write", kCall, {kBytes}, "Write(3 bytes: 01 02 03) -> S_OK", nullptr},
    {RS, L"ReadAvailableBytes", kCall, {}, "ReadAvailableBytes() = 0 bytes -> S_OK", nullptr},
    {RS, L"Read", kCall, {N(2)}, "Read(2) -> 0x80004005 \"not all bytes received\"", nullptr},
    {RS, L"PortName", kGet, {}, "PortName() = \"COM21\" -> S_OK", nullptr},
    {RS, L"PortNumber", kGet, {}, "PortNumber() = 21 -> S_OK", nullptr},
    {RS, L"BaudRate", kPut, {N(19200)}, "BaudRate=(19200) -> S_OK", nullptr},
    {RS, L"BaudRate", kGet, {}, "BaudRate() = 19200 -> S_OK", nullptr},
    {RS, L"Close", kCall, {}, "Close() -> S_OK", nullptr},

    {DIO, L"Open", kCall, {S(L"COM98")}, "Open(\"COM98\") -> 0x80020009 \"Cannot open port\"", "CreateFileW -> error 2"},
    {DIO, L"SetDTR", kCall, {N(1)}, "SetDTR(1) -> 0x80020009 \"Device not open\"", nullptr},
    {DIO, L"Open", kCall, {S(L"COM23")}, "Open(\"COM23\") = True -> S_OK", "event 1 fired to 0 sinks"},
    {DIO, L"SetDTR", kCall, {N(1)}, "SetDTR(1) -> S_OK", nullptr},
    {DIO, L"GetDTR", kCall, {}, "GetDTR() = 1 -> S_OK", nullptr},
    {DIO, L"SetRTS", kCall, {N(0)}, "SetRTS(0) -> S_OK", nullptr},
    {DIO, L"GetRTS", kCall, {}, "GetRTS() = 0 -> S_OK", nullptr},
    {DIO, L"GetDSR", kCall, {}, "GetDSR() = ", nullptr},
    {DIO, L"GetCTS", kCall, {}, "GetCTS() = ", nullptr},
    {DIO, L"SetBreak", kCall, {N(0)}, "SetBreak(0) -> S_OK", nullptr},
    {DIO, L"GetRI", kCall, {}, "GetRI() = ", nullptr},
    {DIO, L"GetDCD", kCall, {}, "GetDCD() = ", nullptr},
    {DIO, L"PortName", kGet, {}, "PortName() = \"COM23\" -> S_OK", nullptr},
    {DIO, L"PortNumber", kGet, {}, "PortNumber() = 23 -> S_OK", nullptr},
    {DIO, L"DebounceTime", kPut, {N(5)}, "DebounceTime=(5) -> S_OK", nullptr},
    {DIO, L"DebounceTime", kGet, {}, "DebounceTime() = 5 -> S_OK", nullptr},
    {DIO, L"Close", kCall, {}, "Close() -> S_OK", nullptr},

    {USB, L"Open", kCall, {N(0), N(99)}, "Open(0, 99) -> 0x80004005", "CreateFileW -> error 2"},
    {USB, L"VendorRequestWrite", kCall, {N(1), N(0), N(0), kBytes}, "VendorRequestWrite(1, 0, 0, 3 bytes: 01 02 03) -> 0x80004005", nullptr},
    {USB, L"Open", kCall, {N(0), N(0)}, "Open(0, 0) = True -> S_OK", nullptr},
    {USB, L"VendorRequestWrite", kCall, {N(1), N(2), N(3), kBytes}, "VendorRequestWrite(1, 2, 3, 3 bytes: 01 02 03) -> S_OK", "device mutex obtained after"},
    {USB, L"VendorRequestRead", kCall, {N(1), N(0), N(0), N(2)}, "VendorRequestRead(1, 0, 0, 2) = 2 bytes: ", nullptr},
    {USB, L"WriteMainEndpoint", kCall, {N(3), kBytesByRef}, "WriteMainEndpoint(3, 3 bytes: 01 02 03) -> S_OK", nullptr},
    {USB, L"ReadMainEndpoint", kCall, {N(3), kBytesByRef}, "ReadMainEndpoint(3, 3 bytes: ", nullptr},
    {USB, L"ResetMainEndpointOut", kCall, {}, "ResetMainEndpointOut() -> S_OK", nullptr},
    {USB, L"ResetMainEndpointIn", kCall, {}, "ResetMainEndpointIn() -> S_OK", nullptr},
    {USB, L"LockDevice", kCall, {N(1)}, "LockDevice(1) = ", nullptr},
    {USB, L"Lock", kGet, {N(1)}, "Lock(1) = True -> S_OK", nullptr},
    {USB, L"UnlockDevice", kCall, {N(1), N(0)}, "UnlockDevice(1, 0) -> 0x80004005", nullptr},
    {USB, L"Close", kCall, {}, "Close() -> S_OK", nullptr},

    {ENUM, L"EnumeratePorts", kCall, {S(L"Bogus"), kNamesByRef}, "EnumeratePorts(\"Bogus\", {\"x\"}, \"\", missing, missing) -> 0x80020009 \"Unknown Port Family\"", nullptr},
};

// Converts the table's arguments, right to left as DISPPARAMS wants them.
class Arguments {
public:
    explicit Arguments(const std::vector<Argument>& arguments) {
        const BYTE bytes[] = {1, 2, 3};
        arrays_.reserve(arguments.size());
        for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
            VARIANT v;
            ::VariantInit(&v);
            if (it->kind == Argument::Number) {
                v.vt = VT_I4;
                v.lVal = it->number;
            } else if (it->kind == Argument::Text) {
                v.vt = VT_BSTR;
                v.bstrVal = ::SysAllocString(it->text);
            } else if (it->kind == Argument::NamesByRef) {
                arrays_.push_back(::SafeArrayCreateVector(VT_BSTR, 0, 1));
                static_cast<BSTR*>(arrays_.back()->pvData)[0] = ::SysAllocString(L"x");
                v.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
                v.pparray = &arrays_.back();
            } else {
                arrays_.push_back(::SafeArrayCreateVector(VT_UI1, 0, 3));
                memcpy(arrays_.back()->pvData, bytes, 3);
                if (it->kind == Argument::Bytes) {
                    v.vt = VT_ARRAY | VT_UI1;
                    v.parray = arrays_.back();
                } else {
                    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
                    v.pparray = &arrays_.back();
                }
            }
            values_.push_back(v);
        }
    }
    ~Arguments() {
        for (VARIANT& v : values_)
            if (v.vt == VT_BSTR) ::VariantClear(&v);
        for (SAFEARRAY* array : arrays_) ::SafeArrayDestroy(array);
    }
    std::vector<VARIANT>& values() { return values_; }

private:
    std::vector<VARIANT> values_;
    std::vector<SAFEARRAY*> arrays_;  // at most one per row, so a by-reference pointer stays put
};

std::string Narrow(const wchar_t* text) { return std::string(text, text + wcslen(text)); }

TEST_F(TraceTest, EveryMemberLeavesItsLineWithArgumentsAndResult) {
    std::vector<std::pair<std::wstring, ComPtr<IDispatch>>> objects;
    for (const MemberCase& row : kMembers) {
        SCOPED_TRACE(Narrow(row.progId) + "." + Narrow(row.member) + " -> " + row.expectedLine);
        auto found = std::find_if(objects.begin(), objects.end(), [&](auto& o) { return o.first == row.progId; });
        if (found == objects.end()) {
            objects.emplace_back(row.progId, CreateByProgId<IDispatch>(row.progId));
            found = objects.end() - 1;
            ASSERT_TRUE(found->second) << "not created";
            NewLines();
        }
        Arguments arguments(row.arguments);
        DISPID id = DISPID_UNKNOWN, put = DISPID_PROPERTYPUT;
        ASSERT_HRESULT_SUCCEEDED(DispIdOf(found->second.get(), row.member, id));
        DISPPARAMS params{arguments.values().data(), row.flags == kPut ? &put : nullptr,
                          static_cast<UINT>(arguments.values().size()), row.flags == kPut ? 1u : 0u};
        VARIANT result;
        ::VariantInit(&result);
        EXCEPINFO exception{};
        found->second->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, row.flags, &params, &result, &exception, nullptr);
        ::VariantClear(&result);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrHelpFile);

        const std::string className = Narrow(row.progId).substr(strlen("TarnDriver."));
        const std::vector<std::string> lines = NewLines();
        const auto memberLine = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(" " + className + "@") != std::string::npos && line.find(row.expectedLine) != std::string::npos;
        });
        std::string all;
        for (const std::string& line : lines) all += line + "\n";
        EXPECT_NE(memberLine, lines.end()) << all;
        if (memberLine != lines.end()) EXPECT_NE(memberLine->find(" ms"), std::string::npos) << *memberLine;
        if (row.failureSite) EXPECT_NE(all.find(row.failureSite), std::string::npos) << all;
    }
}

// Every line whole: the prefix, one call's text, the duration at its end.
TEST_F(TraceTest, LinesFromEightThreadsNeverInterleave) {
    constexpr int kThreads = 8, kCallsEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                ComPtr<IRs232Driver> port = CreateByProgId<IRs232Driver>(L"TarnDriver.Rs232Driver");
                for (int i = 0; port && i < kCallsEach; ++i) port->put_BaudRate(1000 * t + i);
            }
            ::CoUninitialize();
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::regex whole(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+ \d+ Rs232Driver@[0-9A-Fa-f]+ BaudRate=\(\d+\) -> S_OK \d+\.\d{3} ms$)");
    int calls = 0;
    for (const std::string& line : NewLines()) {
        if (line.find("BaudRate=") == std::string::npos) continue;
        ++calls;
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(calls, kThreads * kCallsEach);
}

// A file that cannot be written leaves the library as if the trace were off.
TEST_F(TraceTest, AnUnwritableFileChangesNoCall) {
    SetTrace(L"Z:\\no such folder\\at all\\trace.log", 3);
    ComPtr<IRs232Driver> port = CreateByProgId<IRs232Driver>(L"TarnDriver.Rs232Driver");
    ASSERT_TRUE(port);
    VARIANT_BOOL opened = VARIANT_TRUE;
    EXPECT_EQ(port->Open(99, &opened), E_FAIL);
    EXPECT_EQ(opened, VARIANT_FALSE);
    EXPECT_EQ(port->put_BaudRate(4800), S_OK);
    EXPECT_EQ(::GetFileAttributesW(L"Z:\\no such folder\\at all\\trace.log"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace tarn::test
