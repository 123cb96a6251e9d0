/* Time and the timer thread that ends transfers whose time has come. */
#include "nullmodem.h"

LONGLONG clock_now(void)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER count = KeQueryPerformanceCounter(&frequency);
    LONGLONG f = frequency.QuadPart;
    /* in 100 ns ticks, split so that the product cannot overflow */
    return (count.QuadPart / f) * 10000000LL + (count.QuadPart % f) * 10000000LL / f;
}

void timer_wake(NullModem *modem)
{
    KeSetEvent(&modem->wake, IO_NO_INCREMENT, FALSE);
}

static VOID NTAPI timer_thread(PVOID context)
{
    NullModem *modem = context;
    while (!modem->stopping) {
        DoneList done;
        LONGLONG next = NO_DEADLINE, now;
        KIRQL irql;

        done_init(&done);
        KeAcquireSpinLock(&modem->lock, &irql);
        now = clock_now();
        service_all(modem, now, &done, &next);
        KeReleaseSpinLock(&modem->lock, irql);
        done_complete(&done);

        if (next == NO_DEADLINE) {
            KeWaitForSingleObject(&modem->wake, Executive, KernelMode, FALSE, NULL);
        } else if (next > now) {
            LARGE_INTEGER timeout;
            timeout.QuadPart = -(next - now);
            KeWaitForSingleObject(&modem->wake, Executive, KernelMode, FALSE, &timeout);
        }
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS timer_start(NullModem *modem)
{
    KeInitializeEvent(&modem->wake, SynchronizationEvent, FALSE);
    modem->stopping = 0;
    return PsCreateSystemThread(&modem->thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, timer_thread, modem);
}

void timer_stop(NullModem *modem)
{
    if (!modem->thread)
        return;
    InterlockedExchange(&modem->stopping, 1);
    timer_wake(modem);
    ZwWaitForSingleObject(modem->thread, FALSE, NULL);
    ZwClose(modem->thread);
    modem->thread = NULL;
}
