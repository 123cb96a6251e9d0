/* Pending requests: cancellable lists guarded by the driver lock, and the list
 * of finished requests that are completed once the lock is released. */
#include "nullmodem.h"
#include "request_queue.h"

#define ENTRY(irp) QUEUED_ENTRY(irp)
#define IRP_OF(entry) QUEUED_IRP(entry)

void done_init(DoneList *done)
{
    InitializeListHead(&done->irps);
}

void done_add(DoneList *done, PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    InsertTailList(&done->irps, ENTRY(irp));
}

void done_complete(DoneList *done)
{
    while (!IsListEmpty(&done->irps)) {
        PIRP irp = IRP_OF(RemoveHeadList(&done->irps));
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static VOID NTAPI cancel_pending(PDEVICE_OBJECT device, PIRP irp)
{
    Port *port = device->DeviceExtension;
    ULONG_PTR information = 0;
    KIRQL irql;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&port->modem->lock, &irql);
    /* the current transfer restarts its clock for the next request */
    if (port->reads.Flink == ENTRY(irp))
        port->read_started = FALSE;
    if (port->writes.Flink == ENTRY(irp)) {
        information = port->write_started ? port->write_sent : 0; /* what went out stays sent */
        port->write_started = FALSE;
    }
    unlink_queued(irp);
    KeReleaseSpinLock(&port->modem->lock, irql);

    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    timer_wake(port->modem);
}

NTSTATUS queue_request(LIST_ENTRY *list, PIRP irp)
{
    if (!park_cancellable(list, irp, cancel_pending))
        return STATUS_CANCELLED; /* cancelled before it was queued */
    IoMarkIrpPending(irp);
    return STATUS_PENDING;
}

PIRP peek_head(LIST_ENTRY *list)
{
    return first_queued(list);
}

/* A request being cancelled stays at its place: its cancel routine looks there. */
BOOLEAN take_irp(PIRP irp)
{
    return take_queued(irp);
}

void fail_all(LIST_ENTRY *list, DoneList *done, NTSTATUS status)
{
    LIST_ENTRY *entry = list->Flink;
    while (entry != list) {
        PIRP irp = IRP_OF(entry);
        entry = entry->Flink;
        if (take_irp(irp))
            done_add(done, irp, status, 0);
    }
}

ULONG count_list(LIST_ENTRY *list)
{
    ULONG n = 0;
    LIST_ENTRY *entry;
    for (entry = list->Flink; entry != list; entry = entry->Flink)
        n++;
    return n;
}

PVOID irp_buffer(PIRP irp)
{
    return irp->AssociatedIrp.SystemBuffer ? irp->AssociatedIrp.SystemBuffer : irp->UserBuffer;
}

PFILE_OBJECT irp_file(PIRP irp)
{
    /* Wine hands the file over in the IRP, not always in the stack location */
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    return file ? file : irp->Tail.Overlay.OriginalFileObject;
}
