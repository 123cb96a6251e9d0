/* Queues of pending requests that their callers can cancel (CancelIo, closing
   the handle) while they wait. */
#include "standin.h"
#include "request_queue.h"

static VOID NTAPI cancel_parked(PDEVICE_OBJECT object, PIRP irp)
{
    UsbDevice *device = (UsbDevice *)object->DeviceExtension;
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&device->standin->lock, &irql);
    unlink_queued(irp);
    KeReleaseSpinLock(&device->standin->lock, irql);
    complete_request(device, irp, STATUS_CANCELLED, 0);
}

/* FALSE if the request was cancelled before it could be parked: the caller
   completes it with STATUS_CANCELLED once the lock is released. */
BOOLEAN park_request_locked(LIST_ENTRY *queue, PIRP irp)
{
    IoMarkIrpPending(irp);
    return park_cancellable(queue, irp, cancel_parked);
}

/* Takes a request out of its queue unless its cancel routine already runs;
   that routine then finds the entry unlinked and completes the request itself. */
BOOLEAN unpark_locked(PIRP irp)
{
    return take_queued_or_drop(irp);
}

/* Moves the queue's requests (only those of one file, if given) to `taken`. */
void unpark_all_locked(LIST_ENTRY *queue, PFILE_OBJECT only_file, LIST_ENTRY *taken)
{
    LIST_ENTRY *entry = queue->Flink;
    while (entry != queue) {
        PIRP irp = QUEUED_IRP(entry);
        entry = entry->Flink;
        if (only_file && IoGetCurrentIrpStackLocation(irp)->FileObject != only_file)
            continue;
        if (unpark_locked(irp))
            InsertTailList(taken, QUEUED_ENTRY(irp));
    }
}

/* Completes what unpark_all_locked took; call without the lock. */
void complete_taken(UsbDevice *device, LIST_ENTRY *taken, NTSTATUS status)
{
    while (!IsListEmpty(taken)) {
        PIRP irp = QUEUED_IRP(RemoveHeadList(taken));
        complete_request(device, irp, status, 0);
    }
}
