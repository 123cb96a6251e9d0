#pragma once
// The two guards around every request to the driver, declared in this order so
// they end in reverse:
//   TimeCriticalPriority priority;      // data operations only
//   DeviceMutexTurn turn(mutex);        // every request
//   ... the request ...
// The device mutex is shared by every user of one device, in every process;
// the object lock is always taken before it, never while holding it.
#include <windows.h>

namespace tarn::usb {

// Runs the calling thread at THREAD_PRIORITY_TIME_CRITICAL while alive, and
// puts back the priority it found, if it had to change it.
class [[nodiscard]] TimeCriticalPriority {
public:
    TimeCriticalPriority() noexcept;
    ~TimeCriticalPriority();
    TimeCriticalPriority(const TimeCriticalPriority&) = delete;
    TimeCriticalPriority& operator=(const TimeCriticalPriority&) = delete;

private:
    int previous_ = THREAD_PRIORITY_NORMAL;
    bool raised_ = false;
};

// One turn at the device mutex: waits at most kMaxWaitMilliseconds for it and
// gives it back when the turn ends.  The request is made whatever the wait's
// outcome: after a time-out it goes out without the mutex, an abandoned mutex
// counts as obtained, and with no mutex at all there is nothing to wait for.
class [[nodiscard]] DeviceMutexTurn {
public:
    static constexpr DWORD kMaxWaitMilliseconds = 1000;

    explicit DeviceMutexTurn(HANDLE mutex) noexcept;
    ~DeviceMutexTurn();
    DeviceMutexTurn(const DeviceMutexTurn&) = delete;
    DeviceMutexTurn& operator=(const DeviceMutexTurn&) = delete;

    // How long the wait took, from the performance counter.
    double WaitedSeconds() const noexcept { return waitedSeconds_; }

private:
    HANDLE mutex_ = nullptr;  // not owned: the object keeps the handle
    bool obtained_ = false;
    double waitedSeconds_ = 0.0;
};

}  // namespace tarn::usb
