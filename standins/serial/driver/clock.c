/* Time and the timer thread that ends transfers whose time has come. */
#include "nullmodem.h"

LONGLONG nm_now(void)
{
    LARGE_INTEGER count = KeQueryPerformanceCounter(NULL);
    LONGLONG f = g_nm.frequency.QuadPart;
    /* in 100 ns ticks, split so that the product cannot overflow */
    return (count.QuadPart / f) * 10000000LL + (count.QuadPart % f) * 10000000LL / f;
}

void nm_wake_timer(void)
{
    KeSetEvent(&g_nm.wake, IO_NO_INCREMENT, FALSE);
}

static VOID NTAPI TimerThread(PVOID context)
{
    UNREFERENCED_PARAMETER(context);
    while (!g_nm.stopping) {
        NullModemDoneList done;
        LONGLONG next = NM_NO_DEADLINE, now;
        KIRQL irql;

        nm_done_init(&done);
        KeAcquireSpinLock(&g_nm.lock, &irql);
        now = nm_now();
        nm_service_all(now, &done, &next);
        KeReleaseSpinLock(&g_nm.lock, irql);
        nm_complete_done(&done);

        if (next == NM_NO_DEADLINE) {
            KeWaitForSingleObject(&g_nm.wake, Executive, KernelMode, FALSE, NULL);
        } else if (next > now) {
            LARGE_INTEGER timeout;
            timeout.QuadPart = -(next - now);
            KeWaitForSingleObject(&g_nm.wake, Executive, KernelMode, FALSE, &timeout);
        }
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS nm_start_timer_thread(void)
{
    KeQueryPerformanceCounter(&g_nm.frequency);
    KeInitializeEvent(&g_nm.wake, SynchronizationEvent, FALSE);
    g_nm.stopping = 0;
    return PsCreateSystemThread(&g_nm.thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, TimerThread, NULL);
}

void nm_stop_timer_thread(void)
{
    if (!g_nm.thread)
        return;
    InterlockedExchange(&g_nm.stopping, 1);
    nm_wake_timer();
    ZwWaitForSingleObject(g_nm.thread, FALSE, NULL);
    ZwClose(g_nm.thread);
    g_nm.thread = NULL;
}
