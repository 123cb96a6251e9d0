#pragma once
// The audible mark of a long wait for the device mutex before a main-endpoint
// read.  Besides the tone, each beep releases once the process's beep-observer
// semaphore, when one exists: a program (a test) that wants to count the beeps
// creates that semaphore; nobody else is affected.
#include <windows.h>

namespace tarn::usb {

// Waits above this many seconds are marked; exactly this long is not.
constexpr double kLongWaitSeconds = 0.2;

// "Local\TarnDriver.UsbWaitBeeps.<process id>"
void FormatBeepObserverName(DWORD processId, wchar_t (&name)[64]) noexcept;

// Sounds 1000 Hz for 100 ms (returns when the tone has ended) and tells the observer.
void SoundLongWaitBeep() noexcept;

}  // namespace tarn::usb
