#pragma once
// Tests on the null-modem stand-in: our object opens COM21 (or COM23), and the
// peer port COM22 (COM24) drives our inputs: its DTR is our DSR and DCD, its
// RTS our CTS.  The control device drives RI, faults and unplugging.
#include "nullmodem_test_support.h"
#include "automation/unique_bstr.h"
#include "common/com_test_support.h"
#include "digitalio/event_sink.h"

namespace tarn::test {

constexpr int kOurPort = 21, kPeerPort = 22, kOtherPort = 23, kOtherPeer = 24;

// COM10 and above are reached by their device path only (COM1 to COM9 alone
// are names the system maps); the name is passed to the system as it stands.
using nulltest::PortPath;
inline UniqueBstr PortName(int number) { return UniqueBstr(::SysAllocString(PortPath(number).c_str())); }

// The far end of the cable.  A fresh open raises its DTR and RTS.
class Peer {
public:
    explicit Peer(int number) : port_(nulltest::OpenSync(number)) {}
    bool valid() const { return port_.valid(); }
    void Dtr(bool on) { ::EscapeCommFunction(port_.get(), on ? SETDTR : CLRDTR); }
    void Rts(bool on) { ::EscapeCommFunction(port_.get(), on ? SETRTS : CLRRTS); }

private:
    nulltest::Handle port_;
};

// The client thread lives in the multithreaded apartment: it calls the object
// directly and its sinks are called on the monitor thread.
class PortTest : public nulltest::NullModemTest {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(apartment_.hr());
        nulltest::NullModemTest::SetUp();
        driver = CreateDriver();
        ASSERT_TRUE(driver);
    }
    void TearDown() override { driver.reset(); }
    bool Open(int number = kOurPort) {
        VARIANT_BOOL ok = 0;
        return driver->Open(PortName(number).get(), &ok) == S_OK && ok == 1;
    }
    // The stand-in handles a close after CloseHandle has returned.
    bool PortClosed(int number) {
        return WaitUntil([&] { return control.State(number).is_open == 0; }, 2000);
    }
    ComPtr<IRs232DigitalIoDriver> driver;

private:
    ApartmentScope apartment_{COINIT_MULTITHREADED};  // left after the members above
};

// The events of one line, in arrival order.
inline std::vector<Event> Only(const std::vector<Event>& events, DISPID id) {
    std::vector<Event> result;
    for (const Event& e : events)
        if (e.id == id) result.push_back(e);
    return result;
}

}  // namespace tarn::test
