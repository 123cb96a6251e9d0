/* Pending requests: cancellable lists guarded by the driver lock, and the list
 * of finished requests that are completed once the lock is released. */
#include "nullmodem.h"

#define ENTRY(irp) (&(irp)->Tail.Overlay.ListEntry)
#define IRP_OF(entry) CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry)

void NmDoneInit(NM_DONE_LIST *done)
{
    InitializeListHead(&done->irps);
}

void NmFinish(NM_DONE_LIST *done, PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    InsertTailList(&done->irps, ENTRY(irp));
}

void NmCompleteDone(NM_DONE_LIST *done)
{
    while (!IsListEmpty(&done->irps)) {
        PIRP irp = IRP_OF(RemoveHeadList(&done->irps));
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static VOID NTAPI CancelPending(PDEVICE_OBJECT device, PIRP irp)
{
    NM_DEVICE_EXTENSION *ext = device->DeviceExtension;
    NM_PORT *port = ext->port;
    ULONG_PTR information = 0;
    KIRQL irql;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    /* the current transfer restarts its clock for the next request */
    if (port->reads.Flink == ENTRY(irp))
        port->readStarted = FALSE;
    if (port->writes.Flink == ENTRY(irp)) {
        information = port->writeStarted ? port->writeSent : 0; /* what went out stays sent */
        port->writeStarted = FALSE;
    }
    RemoveEntryList(ENTRY(irp));
    InitializeListHead(ENTRY(irp));
    KeReleaseSpinLock(&g_nm.lock, irql);

    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    NmWakeTimer();
}

NTSTATUS NmQueue(LIST_ENTRY *list, PIRP irp)
{
    IoSetCancelRoutine(irp, CancelPending);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL)
        return STATUS_CANCELLED; /* cancelled before it was queued */
    /* if a cancel already took the routine, it runs once the lock is free and unlinks the entry */
    IoMarkIrpPending(irp);
    InsertTailList(list, ENTRY(irp));
    return STATUS_PENDING;
}

PIRP NmPeekHead(LIST_ENTRY *list)
{
    return IsListEmpty(list) ? NULL : IRP_OF(list->Flink);
}

BOOLEAN NmTakeIrp(PIRP irp)
{
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return FALSE; /* its cancel routine is waiting for the lock and will finish it */
    RemoveEntryList(ENTRY(irp));
    InitializeListHead(ENTRY(irp));
    return TRUE;
}

PIRP NmTakeHead(LIST_ENTRY *list)
{
    PIRP irp = NmPeekHead(list);
    return irp && NmTakeIrp(irp) ? irp : NULL;
}

void NmFailAll(LIST_ENTRY *list, NM_DONE_LIST *done, NTSTATUS status)
{
    LIST_ENTRY *entry = list->Flink;
    while (entry != list) {
        PIRP irp = IRP_OF(entry);
        entry = entry->Flink;
        if (NmTakeIrp(irp))
            NmFinish(done, irp, status, 0);
    }
}

ULONG NmCountList(LIST_ENTRY *list)
{
    ULONG n = 0;
    LIST_ENTRY *entry;
    for (entry = list->Flink; entry != list; entry = entry->Flink)
        n++;
    return n;
}

PVOID NmIrpBuffer(PIRP irp)
{
    return irp->AssociatedIrp.SystemBuffer ? irp->AssociatedIrp.SystemBuffer : irp->UserBuffer;
}

PFILE_OBJECT NmIrpFile(PIRP irp)
{
    /* Wine hands the file over in the IRP, not always in the stack location */
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    return file ? file : irp->Tail.Overlay.OriginalFileObject;
}
