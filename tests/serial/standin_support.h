#pragma once
// The null-modem stand-in's pair COM21<->COM22 and its control device, for the
// cases a pty cannot show: exclusive open, pacing, fault injection, lines.
#include "nullmodem_test_support.h"
#include "serial/serial_test_support.h"

namespace tarn::test {

inline PortPair StandinPair() { return PortPair{"standin", nulltest::kPortA, nulltest::kPortB}; }

// Clears faults, pacing and counters, and waits until no handle of an earlier
// test is still being closed.
inline void ResetStandinPair(const PortPair& pair) {
    nulltest::Control control;
    ASSERT_TRUE(control.valid()) << "the TarnNullModem service is not running (standins/service.sh start)";
    for (long port : {pair.near_, pair.far_}) {
        ASSERT_TRUE(control.Reset(port));
        for (int i = 0; i < 100 && control.State(port).is_open; ++i) ::Sleep(10);
        ASSERT_EQ(0u, control.State(port).is_open) << "COM" << port << " is still open";
    }
}

}  // namespace tarn::test
