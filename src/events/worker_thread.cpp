#include "events/worker_thread.h"

namespace tarn {

WorkerThread::WorkerThread() noexcept : stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WorkerThread::~WorkerThread() {
    if (IsCurrentThread()) {
        // Destroyed by its own body: the thread finishes on its own, without us.
        RequestStop();
        return;  // thread_ closes our handle; the thread keeps running to its end
    }
    Stop(60000);
}

bool WorkerThread::Start(int priority, long interval, Body body, void* context) noexcept {
    SetInterval(interval);
    HANDLE thread = nullptr;
    {
        Lock lock(lock_);
        stopRequested_ = false;
        if (stopEvent_) ::ResetEvent(stopEvent_.get());
        if (thread_ || !stopEvent_) return false;
        body_ = body;
        context_ = context;
        // The thread's own reference to this module, released by its last instruction.
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<LPCWSTR>(&WorkerThread::ThreadStart), &module_))
            return false;
        DWORD id = 0;
        thread = ::CreateThread(nullptr, 0, &WorkerThread::ThreadStart, this, CREATE_SUSPENDED, &id);
        if (!thread) {
            ::FreeLibrary(std::exchange(module_, nullptr));
            return false;
        }
        thread_.reset(thread);
        threadId_ = id;
    }
    ::SetThreadPriority(thread, priority);
    if (::ResumeThread(thread) != static_cast<DWORD>(-1)) return true;
    // It never ran: end it so that nothing waits for it later.
    ::TerminateThread(thread, 1);
    Lock lock(lock_);
    ::FreeLibrary(std::exchange(module_, nullptr));
    thread_.reset();
    threadId_ = 0;
    return false;
}

DWORD WINAPI WorkerThread::ThreadStart(void* self) {
    // Everything the thread needs after its body is copied here first: the owner
    // may be gone by the time the body returns.
    auto* worker = static_cast<WorkerThread*>(self);
    Body body;
    void* context;
    HMODULE module;
    {
        Lock lock(worker->lock_);
        body = worker->body_;
        context = worker->context_;
        module = std::exchange(worker->module_, nullptr);
    }
    body(context);
    ::FreeLibraryAndExitThread(module, 0);
}

void WorkerThread::RequestStop() noexcept {
    Lock lock(lock_);
    stopRequested_ = true;
    if (stopEvent_) ::SetEvent(stopEvent_.get());
}

void WorkerThread::Stop(DWORD timeoutMs) noexcept {
    if (!IsRunning()) return;
    RequestStop();
    if (IsCurrentThread()) return;  // never wait for oneself
    HANDLE thread;
    {
        Lock lock(lock_);
        thread = thread_.get();
    }
    if (::WaitForSingleObject(thread, timeoutMs) == WAIT_TIMEOUT) ::TerminateThread(thread, 1);
    Lock lock(lock_);
    thread_.reset();
    threadId_ = 0;
}

void WorkerThread::Detach() noexcept {
    RequestStop();
    Lock lock(lock_);
    thread_.reset();
    threadId_ = 0;
}

bool WorkerThread::IsRunning() noexcept {
    Lock lock(lock_);
    return thread_ && threadId_ != 0;
}

bool WorkerThread::IsStopRequested() noexcept {
    Lock lock(lock_);
    return stopRequested_;
}

bool WorkerThread::IsCurrentThread() noexcept {
    Lock lock(lock_);
    return threadId_ != 0 && threadId_ == ::GetCurrentThreadId();
}

void WorkerThread::SetInterval(long interval) noexcept {
    Lock lock(lock_);
    interval_ = interval;
}

long WorkerThread::Interval() noexcept {
    Lock lock(lock_);
    return interval_;
}

}  // namespace tarn
