#include "digitalio/input_monitor.h"

#include <algorithm>

namespace tarn {

namespace {

constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;  // 0x138
constexpr DWORD kStopTimeoutMs = 60000;
constexpr DWORD kMaxBackoffMs = 1000;

struct InputLine {
    DWORD event;
    DWORD status;
    EventId id;
};
// Lines that change together fire in this order.
constexpr InputLine kFiringOrder[] = {
    {EV_CTS, MS_CTS_ON, kOnCTS},
    {EV_DSR, MS_DSR_ON, kOnDSR},
    {EV_RING, MS_RING_ON, kOnRI},
    {EV_RLSD, MS_RLSD_ON, kOnDCD},
};

}  // namespace

InputMonitor::InputMonitor(ControlPort& port, SinkList& sinks, const std::atomic<long>& debounceMs) noexcept
    : port_(port),
      sinks_(sinks),
      debounceMs_(debounceMs),
      wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      gate_(ComPtr<FiringGate>::Attach(FiringGate::Create())) {}

void InputMonitor::Start() noexcept {
    if (gate_) worker_.Start(THREAD_PRIORITY_NORMAL, 0, &InputMonitor::ThreadBody, this);
}

void InputMonitor::Wake() noexcept {
    if (wake_) ::SetEvent(wake_.get());
}

void InputMonitor::Shutdown() noexcept {
    const bool inSinkCall = gate_ && gate_->Close();
    Wake();
    worker_.RequestStop();
    port_.ClearEventMask();
    if (inSinkCall || worker_.IsCurrentThread()) {
        worker_.Detach();
        return;
    }
    worker_.Stop(kStopTimeoutMs);  // the stop reaches every wait outside a sink call at once
}

void InputMonitor::ThreadBody(void* self) { static_cast<InputMonitor*>(self)->Run(); }

void InputMonitor::Run() {
    const HRESULT apartment = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        UniqueHandle lineEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // The thread's own reference: the gate outlives the owner, so a firing
        // can still ask it whether the owner went while a sink ran.
        const ComPtr<FiringGate> gate = gate_;
        while (lineEvent && !worker_.IsStopRequested()) {
            if (!Pass(lineEvent.get(), *gate.get())) break;  // false: the owner may be gone
            if (worker_.IsStopRequested()) break;
            const long interval = worker_.Interval();
            if (interval >= 0) ::Sleep(static_cast<DWORD>(interval));
        }
    }
    if (SUCCEEDED(apartment)) ::CoUninitialize();
}

bool InputMonitor::Pass(HANDLE lineEvent, FiringGate& gate) {
    const std::optional<ControlPort::Session> session = port_.CurrentSession();
    if (!session) {
        armed_.reset();
        backoffMs_ = 0;
        Park();
        return true;
    }

    DWORD events = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = lineEvent;
    enum class Wait { NotStarted, Pending, Done, Failed } wait = Wait::NotStarted;
    port_.WithSession(*session, [&](HANDLE port) {
        // Checked under the port lock: a stop clears the mask under the same
        // lock, so either we see the stop here or the clear ends our wait.
        if (worker_.IsStopRequested()) return;
        if (armed_ != session) {
            ::SetCommMask(port, kLineEvents);
            armed_ = session;
        }
        ::ResetEvent(overlapped.hEvent);
        if (::WaitCommEvent(port, &events, &overlapped))
            wait = Wait::Done;
        else
            wait = ::GetLastError() == ERROR_IO_PENDING ? Wait::Pending : Wait::Failed;
    });
    if (wait == Wait::NotStarted) return true;  // closed meanwhile, or stopping
    if (wait == Wait::Pending) {
        // Ends on a line event, on a mask change (Close, stop) or when the port goes.
        // The outcome is read from the OVERLAPPED: the handle may be closed by now.
        ::WaitForSingleObject(lineEvent, INFINITE);
        wait = overlapped.Internal == 0 ? Wait::Done : Wait::Failed;
    }
    if (wait == Wait::Failed || events == 0) {
        if (port_.CurrentSession() == session && !worker_.IsStopRequested()) BackOff();
        return true;
    }
    backoffMs_ = 0;

    const long debounceMs = debounceMs_.load();
    if (debounceMs > 0) {
        if (!port_.WithSession(*session, [](HANDLE port) { ::SetCommMask(port, 0); })) return true;
        armed_.reset();
        if (::WaitForSingleObject(worker_.StopEvent(), static_cast<DWORD>(debounceMs)) == WAIT_OBJECT_0)
            return true;
        // Armed before the reading: a change from now on ends the next wait at once.
        if (!port_.WithSession(*session, [](HANDLE port) { ::SetCommMask(port, kLineEvents); })) return true;
        armed_ = session;
    }
    // With no debounce the mask has stayed armed since before the wait.
    return FireLineEvents(events, *session, gate);
}

bool InputMonitor::FireLineEvents(DWORD events, ControlPort::Session session, FiringGate& gate) {
    for (const InputLine& line : kFiringOrder) {
        if (!(events & line.event)) continue;
        if (worker_.IsStopRequested()) return true;
        DWORD status = 0;
        const bool open = port_.WithSession(session, [&](HANDLE port) {
            if (!::GetCommModemStatus(port, &status)) status = 0;
        });
        if (!open) return true;  // closed: the rest of this pass fires nothing
        if (!sinks_.FireLevel(line.id, (status & line.status) ? 1 : 0, gate)) return false;
    }
    return true;
}

void InputMonitor::Park() {
    HANDLE waits[] = {worker_.StopEvent(), wake_.get()};
    if (!wake_) {
        ::WaitForSingleObject(waits[0], 50);  // no wake event: look again now and then
        return;
    }
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

void InputMonitor::BackOff() {
    backoffMs_ = std::min(backoffMs_ == 0 ? 1 : backoffMs_ * 2, kMaxBackoffMs);
    HANDLE waits[] = {worker_.StopEvent(), wake_.get()};
    ::WaitForMultipleObjects(wake_ ? 2 : 1, waits, FALSE, backoffMs_);
}

}  // namespace tarn
