#pragma once
// Waiting on a single-threaded apartment's thread while delivering what is
// posted to it: calls marshalled into the apartment arrive as window messages.
#include <windows.h>

namespace tarn::kit {

// Pumps messages for up to `milliseconds`, or until `done()` holds (checked
// after each batch of messages).  Returns whether `done()` held.  A WM_QUIT
// ends the wait early and is posted again for the thread's own loop.
template <class Done>
bool PumpMessagesUntil(DWORD milliseconds, Done&& done) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

}  // namespace tarn::kit
