/* Delayed requests: held in their device's queue until due, then carried out by
   a worker thread, so that the dispatch routines never block. */
#include "standin.h"

/* In 100 ns units.  Not the interrupt time: Wine counts that in milliseconds. */
static ULONGLONG now_100ns(void)
{
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    return (ULONGLONG)now.QuadPart;
}

/* Parks `irp` until `milliseconds` from now; if it was cancelled already, it
   goes to `cancelled` for the caller to complete. */
void delay_request_locked(UsbDevice *device, PIRP irp, ULONG milliseconds, LIST_ENTRY *cancelled)
{
    ULONGLONG due = now_100ns() + (ULONGLONG)milliseconds * 10000;
    set_irp_due(irp, due);
    if (park_request_locked(&device->delayed, irp))
        KeSetEvent(&device->standin->worker_wake, IO_NO_INCREMENT, FALSE);
    else
        InsertTailList(cancelled, &irp->Tail.Overlay.ListEntry);
}

/* Moves the requests that are due to `due`; returns the time the next one is
   due, or 0 if none waits. */
static ULONGLONG take_due_locked(Standin *standin, ULONGLONG now, LIST_ENTRY *due)
{
    ULONGLONG next = 0;
    ULONG i;
    for (i = 0; i < standin->device_count; ++i) {
        LIST_ENTRY *queue = &standin->devices[i]->delayed, *entry = queue->Flink;
        while (entry != queue) {
            PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            ULONGLONG when = irp_due(irp);
            entry = entry->Flink;
            if (when <= now) {
                if (unpark_locked(irp))
                    InsertTailList(due, &irp->Tail.Overlay.ListEntry);
            } else if (next == 0 || when < next) {
                next = when;
            }
        }
    }
    return next;
}

static VOID NTAPI delay_worker(PVOID context)
{
    Standin *standin = context;
    PVOID events[2] = { &standin->worker_wake, &standin->worker_stop };
    for (;;) {
        LIST_ENTRY due;
        LARGE_INTEGER timeout;
        ULONGLONG now = now_100ns(), next;
        KIRQL irql;
        NTSTATUS waited;

        InitializeListHead(&due);
        KeAcquireSpinLock(&standin->lock, &irql);
        next = take_due_locked(standin, now, &due);
        KeReleaseSpinLock(&standin->lock, irql);
        while (!IsListEmpty(&due)) {
            PIRP irp = CONTAINING_RECORD(RemoveHeadList(&due), IRP, Tail.Overlay.ListEntry);
            carry_out_request(IoGetCurrentIrpStackLocation(irp)->DeviceObject->DeviceExtension, irp);
        }
        timeout.QuadPart = next ? -(LONGLONG)(next > now ? next - now : 1) : 0;
        waited = KeWaitForMultipleObjects(2, events, WaitAny, Executive, KernelMode, FALSE,
                                          next ? &timeout : NULL, NULL);
        if (waited == STATUS_WAIT_1)
            break;
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS delay_worker_start(Standin *standin)
{
    KeInitializeEvent(&standin->worker_wake, SynchronizationEvent, FALSE);
    KeInitializeEvent(&standin->worker_stop, NotificationEvent, FALSE);
    return PsCreateSystemThread(&standin->worker, THREAD_ALL_ACCESS, NULL, NULL, NULL, delay_worker, standin);
}

void delay_worker_stop(Standin *standin)
{
    if (!standin->worker)
        return;
    KeSetEvent(&standin->worker_stop, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(standin->worker, FALSE, NULL);
    ZwClose(standin->worker);
    standin->worker = NULL;
}
