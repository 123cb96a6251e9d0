#pragma once
// WorkerThread: one thread that runs a body until it is asked to stop.
//  - Start creates the thread suspended, sets its priority and lets it run.
//  - RequestStop sets the stop flag and signals the stop event, which the body's
//    own waits include, so a stop is seen even while the body is parked.
//  - Stop waits a bounded time for the thread to end and ends it by force after
//    that; called on the worker thread itself it neither waits nor terminates.
//  - Detach asks the thread to stop and lets go of it without waiting.
// The thread holds its own reference to the module that contains its code and
// drops it as its very last act, so the module cannot be unloaded under it even
// when its owner is destroyed on the worker thread itself.
#include <windows.h>

#include "platform/critical_section.h"
#include "platform/unique_handle.h"

namespace tarn {

class WorkerThread {
public:
    using Body = void (*)(void* context);

    WorkerThread() noexcept;
    ~WorkerThread();  // stops a running thread (bounded), or lets go of it on the thread itself
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // False when the thread cannot be created or resumed; the body never runs then.
    bool Start(int priority, long interval, Body body, void* context) noexcept;

    void RequestStop() noexcept;
    void Stop(DWORD timeoutMs) noexcept;
    // For a body that may be inside a call that waits for the caller: it must
    // end on its own and touch nothing of its owner once it returns.
    void Detach() noexcept;

    bool IsRunning() noexcept;
    bool IsStopRequested() noexcept;
    bool IsCurrentThread() noexcept;

    // The pause after each pass of the body's loop; negative means none.
    void SetInterval(long interval) noexcept;
    long Interval() noexcept;

    // Signalled once a stop has been requested: part of every wait of the body.
    HANDLE StopEvent() const noexcept { return stopEvent_.get(); }

private:
    static DWORD WINAPI ThreadStart(void* self);

    CriticalSection lock_;  // guards everything below except the stop event
    UniqueHandle thread_;
    DWORD threadId_ = 0;
    bool stopRequested_ = false;
    long interval_ = -1;
    Body body_ = nullptr;
    void* context_ = nullptr;
    HMODULE module_ = nullptr;  // the thread's module reference, handed to it at start
    UniqueHandle stopEvent_;    // manual reset
};

}  // namespace tarn
