#pragma once
// The COM apartment of a test's thread: for a scope (threads a test starts),
// or for each test of a fixture.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

namespace tarn::test {

class ApartmentScope {
public:
    explicit ApartmentScope(DWORD model = COINIT_MULTITHREADED) noexcept : hr_(::CoInitializeEx(nullptr, model)) {}
    ~ApartmentScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    HRESULT hr() const noexcept { return hr_; }
    ApartmentScope(const ApartmentScope&) = delete;
    ApartmentScope& operator=(const ApartmentScope&) = delete;

private:
    HRESULT hr_;
};

template <DWORD Model>
class ApartmentTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, Model)); }
    void TearDown() override { ::CoUninitialize(); }
};

// A single-threaded apartment, as a script or Visual Basic client has.
using ComTest = ApartmentTest<COINIT_APARTMENTTHREADED>;
// The multithreaded apartment: a "Both" or "Free" object's pointer may be used
// from any thread of it.
using MtaTest = ApartmentTest<COINIT_MULTITHREADED>;

}  // namespace tarn::test
