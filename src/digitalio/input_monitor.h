#pragma once
// InputMonitor: the driver's thread that turns changes of the input lines
// (CTS, DSR, RI, DCD) into events.
//
// While no port is open it parks on a wake event, which remembers a wake that
// comes before the park, and on the worker's stop event.  While a port is open
// it waits for the port's line events, waits the debounce time with the event
// mask cleared (changes during the delay make no further event), arms the mask
// again and only then reads the lines and fires, so a change after the reading
// ends the next wait at once and the last event of a line carries its final
// level.  A wait that fails, or ends without events on a port that stays open,
// backs off (1 ms doubling to 1 s) instead of spinning.
#include <windows.h>

#include <atomic>
#include <optional>

#include "digitalio/control_port.h"
#include "events/firing_gate.h"
#include "digitalio/event_ids.h"
#include "events/sink_list.h"
#include "events/worker_thread.h"
#include "platform/com_ptr.h"
#include "platform/unique_handle.h"

namespace tarn {

class InputMonitor {
public:
    InputMonitor(ControlPort& port, SinkList& sinks, const std::atomic<long>& debounceMs) noexcept;
    InputMonitor(const InputMonitor&) = delete;
    InputMonitor& operator=(const InputMonitor&) = delete;

    // Starts the thread; without it the object works but fires no line events.
    void Start() noexcept;
    // Ends a park: a port has been opened.
    void Wake() noexcept;
    // Called first by the owner's destructor, and prompt in every case.  It
    // closes the firing gate, then stops the thread: the stop ends a park, a
    // debounce delay and (by clearing the event mask) a pending wait, and the
    // thread is waited for.  A thread inside a sink call is not waited for: the
    // call may wait for this very thread (a sink in a single-threaded apartment
    // that releases the owner from inside an event), or be on it.  That thread
    // ends on its own once the call returns, holding its gate, the sink it
    // called and its module reference, and touches nothing of the owner.
    void Shutdown() noexcept;

private:
    static void ThreadBody(void* self);
    void Run();
    bool Pass(HANDLE lineEvent, FiringGate& gate);  // false: the owner may be gone, touch nothing
    bool FireLineEvents(DWORD events, ControlPort::Session session, FiringGate& gate);
    void Park();
    void BackOff();

    ControlPort& port_;
    SinkList& sinks_;
    const std::atomic<long>& debounceMs_;
    UniqueHandle wake_;                          // auto reset
    std::optional<ControlPort::Session> armed_;  // the session whose event mask is set (monitor thread only)
    DWORD backoffMs_ = 0;                        // monitor thread only
    ComPtr<FiringGate> gate_;                    // null when out of memory: the thread never starts
    WorkerThread worker_;                        // last: destroyed first
};

}  // namespace tarn
