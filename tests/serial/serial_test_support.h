#pragma once
// Helpers for the Rs232Driver suites: drivers by ProgID in the multithreaded
// apartment, byte arrays in every VARIANT form, a stopwatch, and a look at the
// port through the driver's own handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/byte_arrays.h"
#include "common/com_test_support.h"
#include "common/stopwatch.h"

namespace tarn::test {

using Bytes = std::vector<BYTE>;

// Two COM numbers wired to each other.
struct PortPair {
    const char* kind;
    long near_;
    long far_;
};

// The pty pair that tools/pty-pair links for the test (TARN_SERIAL_PTY_PAIR="31:32").
inline PortPair PtyPair() {
    PortPair pair{"pty", 31, 32};
    if (const char* text = std::getenv("TARN_SERIAL_PTY_PAIR")) {
        std::string value(text);
        const auto colon = value.find(':');
        if (colon != std::string::npos) {
            pair.near_ = std::atol(value.substr(0, colon).c_str());
            pair.far_ = std::atol(value.substr(colon + 1).c_str());
        }
    }
    return pair;
}

// Every test thread joins the multithreaded apartment (MtaTest, ApartmentScope):
// the class is "Both", so its pointer may be used from any thread of it.

inline ComPtr<IRs232Driver> NewDriver() { return CreateByProgId<IRs232Driver>(L"TarnDriver.Rs232Driver"); }

// Opens `port` and expects success.
inline ComPtr<IRs232Driver> OpenDriver(long port) {
    ComPtr<IRs232Driver> driver = NewDriver();
    EXPECT_TRUE(driver);
    if (!driver) return driver;
    VARIANT_BOOL ok = 0;
    EXPECT_EQ(S_OK, driver->Open(port, &ok)) << "COM" << port;
    EXPECT_EQ(1, ok);
    return driver;
}

inline Bytes ArrayBytes(SAFEARRAY* array) {
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    Bytes bytes(static_cast<size_t>(upper - lower + 1));
    void* data = nullptr;
    if (!bytes.empty() && SUCCEEDED(::SafeArrayAccessData(array, &data))) {
        memcpy(bytes.data(), data, bytes.size());
        ::SafeArrayUnaccessData(array);
    }
    return bytes;
}

// What a read handed out; expects the one output form (0x2011, lower bound 0).
inline Bytes HandedOut(const VARIANT& value) {
    EXPECT_EQ(VT_ARRAY | VT_UI1, value.vt);
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) return {};
    LONG lower = -1;
    ::SafeArrayGetLBound(value.parray, 1, &lower);
    EXPECT_EQ(0, lower);
    EXPECT_EQ(1u, ::SafeArrayGetDim(value.parray));
    return ArrayBytes(value.parray);
}

inline Bytes Pattern(size_t count, BYTE seed = 0) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<BYTE>(seed + i * 7 + (i >> 8));
    return bytes;
}

inline HRESULT WriteBytes(IRs232Driver* driver, const Bytes& bytes) {
    Variant value;
    MakeArray(value, bytes);
    return driver->Write(value);
}

// Reads until `count` bytes came or `deadlineMs` passed, by ReadAvailableBytes.
inline Bytes Drain(IRs232Driver* driver, size_t count, DWORD deadlineMs = 5000) {
    Bytes all;
    const ULONGLONG end = ::GetTickCount64() + deadlineMs;
    while (all.size() < count && ::GetTickCount64() < end) {
        Variant got;
        if (driver->ReadAvailableBytes(&got) != S_OK) break;
        Bytes part = HandedOut(got);
        if (part.empty()) ::Sleep(10);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}


// The serial handles this process holds, found by asking each handle value for
// its line settings.  An in-process driver's port is among them, so a test
// that opened one port sees exactly what the driver configured.
inline std::vector<HANDLE> OpenCommHandles() {
    std::vector<HANDLE> found;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(handle, &dcb)) found.push_back(handle);
    }
    return found;
}

inline HANDLE TheCommHandle() {
    std::vector<HANDLE> handles = OpenCommHandles();
    EXPECT_EQ(1u, handles.size()) << "the test holds one port";
    return handles.size() == 1 ? handles[0] : INVALID_HANDLE_VALUE;
}

}  // namespace tarn::test

namespace tarn::test {

// Expects `hr` and, attached to this thread, the class's message record.
inline void ExpectReported(HRESULT expected, const wchar_t* message, HRESULT hr) {
    EXPECT_EQ(expected, hr);
    ErrorRecord record = TakeErrorInfo();
    EXPECT_TRUE(record.present) << "no error information for " << testing::PrintToString(std::wstring(message));
    EXPECT_EQ(std::wstring(message), record.description);
    EXPECT_EQ(L"TarnDriver.Rs232Driver.1", record.source);
    EXPECT_TRUE(::IsEqualGUID(GUID_NULL, record.iid));
}

// Expects `hr` and no error information on this thread.
inline void ExpectUnreported(HRESULT expected, HRESULT hr) {
    EXPECT_EQ(expected, hr);
    ErrorRecord record = TakeErrorInfo();
    EXPECT_FALSE(record.present) << "unexpected message: " << testing::PrintToString(record.description);
}

// The VARIANTs that look like byte arrays but are not ByteArrays: an array of
// VARIANTs, a two-dimensional byte array, a byte array by reference (0x6011),
// and 0x2011 without an array.
struct NotByteArrays {
    NotByteArrays() {
        SAFEARRAYBOUND bound{2, 0};
        variants.vt = VT_ARRAY | VT_VARIANT;
        variants.parray = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        square.vt = VT_ARRAY | VT_UI1;
        square.parray = ::SafeArrayCreate(VT_UI1, 2, bounds);
        MakeArray(referenced, {1, 2, 3});
        byReference.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
        byReference.pparray = &referenced.parray;
        missing.vt = VT_ARRAY | VT_UI1;
        missing.parray = nullptr;
    }
    std::vector<const VARIANT*> All() const { return {&variants, &square, &byReference, &missing}; }

    Variant variants, square, referenced;
    VARIANT byReference, missing;  // own nothing
};

// Each form is refused with the message, and the caller's arrays stay unlocked.
inline void ExpectAllRefused(IRs232Driver* driver) {
    NotByteArrays forms;
    for (const VARIANT* form : forms.All()) {
        ExpectReported(E_INVALIDARG, L"variant type mismatch", driver->Write(*form));
    }
    EXPECT_EQ(0u, forms.referenced.parray->cLocks);
    EXPECT_EQ(0u, forms.square.parray->cLocks);
}

inline void ClearErrorInfo() { ::SetErrorInfo(0, nullptr); }

// A VARIANT that a failing read must leave exactly as it was.
inline void MarkUntouched(Variant& value) {
    ::VariantClear(&value);
    value.vt = VT_I4;
    value.lVal = 0x5A5A;
}
inline bool Untouched(const Variant& value) { return value.vt == VT_I4 && value.lVal == 0x5A5A; }

}  // namespace tarn::test
