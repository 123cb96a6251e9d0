/* Who owns a port: one open handle at a time.
 *
 * Wine answers CreateFile before the driver sees the open, and a handle's close
 * reaches the driver only after its open was answered.  So a client that opens,
 * closes without a request and opens again at once can have its new open arrive
 * while the old handle still looks like the owner.  An owner that never made a
 * request cannot be told from one whose close is on its way; a newer open then
 * contends, for a short grace at most:
 * - on a synchronous handle its requests wait until the owner's close hands it
 *   the port, and fail once the owner makes a request;
 * - on an overlapped handle a request cannot wait (a client calling without an
 *   OVERLAPPED would see ERROR_IO_PENDING), so the contender takes the port at
 *   once; should the idle owner make a request after all, it gets the port back
 *   and the contender is refused from then on. */
#include "nullmodem.h"

#define NM_CONTEND_GRACE_MS 3000

static void SetVerdict(PFILE_OBJECT file, NTSTATUS status)
{
    file->FsContext = (PVOID)(ULONG_PTR)status;
    file->FsContext2 = NM_FILE_VERDICT;
}

/* The owner's open: fresh settings, lines up for the other end to see. */
static void Grant(NM_PORT *port, PFILE_OBJECT file, NM_DONE_LIST *done)
{
    port->openFile = file;
    port->ownerUsed = FALSE;
    NmResetSettings(port);
    port->modemStatus = NmModemStatus(port);
    NmUpdateModemStatus(port->peer, done);
    if (file)
        SetVerdict(file, STATUS_SUCCESS);
}

void NmRefuseContender(NM_PORT *port, NTSTATUS status, NM_DONE_LIST *done)
{
    if (port->contender) {
        SetVerdict(port->contender, status);
        NmFailAll(&port->parked, done, status);
        port->contender = NULL;
    }
    if (port->displaced) {
        SetVerdict(port->displaced, status);
        port->displaced = NULL;
    }
}

NTSTATUS NmClaim(NM_PORT *port, PIRP irp, NM_DONE_LIST *done)
{
    PFILE_OBJECT file = NmIrpFile(irp);
    ULONG options = IoGetCurrentIrpStackLocation(irp)->Parameters.Create.Options;
    NTSTATUS status = STATUS_SUCCESS;
    if (!port->plugged)
        status = NULLMODEM_STATUS_UNPLUGGED;
    else if (NmTakeFault(port, NULLMODEM_REQ_CREATE, &status))
        ;
    else if (!port->openFile) {
        Grant(port, file, done);
        return STATUS_SUCCESS;
    } else if (file && !port->ownerUsed && !port->contender && !port->displaced) {
        port->contender = file;
        port->contenderSync = (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
        port->contenderDeadline = NmNow() + NM_CONTEND_GRACE_MS * NM_TICKS_PER_MS;
        file->FsContext2 = NULL; /* undecided */
        return STATUS_SUCCESS;
    } else
        status = STATUS_ACCESS_DENIED; /* one open at a time */
    if (file)
        SetVerdict(file, status);
    return status;
}

void NmRelease(NM_PORT *port, PFILE_OBJECT file, NM_DONE_LIST *done, LIST_ENTRY *granted)
{
    if (!file)
        return;
    if (file == port->contender) {
        NmFailAll(&port->parked, done, STATUS_CANCELLED);
        port->contender = NULL;
        return;
    }
    if (file == port->displaced) {
        port->displaced = NULL; /* the take-over was right: its close was on its way */
        return;
    }
    if (file != port->openFile)
        return;
    /* Requests of the file may still be pending here: finish them all. */
    NmDetach(port, done, STATUS_CANCELLED);
    if (port->displaced) {
        Grant(port, port->displaced, done); /* still open: the port is its own again */
        port->displaced = NULL;
        return;
    }
    if (!port->contender)
        return;
    if (NmNow() >= port->contenderDeadline) {
        NmRefuseContender(port, STATUS_ACCESS_DENIED, done);
        return;
    }
    Grant(port, port->contender, done);
    port->contender = NULL;
    /* its waiting requests run again, in order, once the lock is released */
    while (port->parked.Flink != &port->parked) {
        PIRP irp = NmPeekHead(&port->parked);
        if (NmTakeIrp(irp)) {
            InsertTailList(granted, &irp->Tail.Overlay.ListEntry);
        } else { /* being cancelled: its cancel routine completes it once the lock is free */
            RemoveEntryList(&irp->Tail.Overlay.ListEntry);
            InitializeListHead(&irp->Tail.Overlay.ListEntry);
        }
    }
}

void NmRedispatch(NM_PORT *port, LIST_ENTRY *granted)
{
    while (!IsListEmpty(granted)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(granted), IRP, Tail.Overlay.ListEntry);
        InitializeListHead(&irp->Tail.Overlay.ListEntry);
        switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
        case IRP_MJ_READ: NmDispatchRead(port->device, irp); break;
        case IRP_MJ_WRITE: NmDispatchWrite(port->device, irp); break;
        default: NmPortIoctl(port, irp); break;
        }
    }
}

NTSTATUS NmHandleStatus(NM_PORT *port, PIRP irp, NM_DONE_LIST *done)
{
    PFILE_OBJECT file = NmIrpFile(irp);
    if (port->plugged && file == port->openFile) {
        if (!port->ownerUsed) {
            port->ownerUsed = TRUE;
            NmRefuseContender(port, STATUS_ACCESS_DENIED, done); /* a real second open */
        }
        return STATUS_SUCCESS;
    }
    if (!file)
        return NULLMODEM_STATUS_UNPLUGGED;
    if (file == port->displaced) {
        /* the idle owner was alive after all: the port goes back to it */
        PFILE_OBJECT usurper = port->openFile;
        NmDetach(port, done, STATUS_ACCESS_DENIED);
        if (usurper)
            SetVerdict(usurper, STATUS_ACCESS_DENIED);
        port->displaced = NULL;
        Grant(port, file, done);
        port->ownerUsed = TRUE;
        return STATUS_SUCCESS;
    }
    if (file == port->contender) {
        if (NmNow() >= port->contenderDeadline) {
            NmRefuseContender(port, STATUS_ACCESS_DENIED, done);
            return STATUS_ACCESS_DENIED;
        }
        if (port->contenderSync)
            return NmQueue(&port->parked, irp);
        port->displaced = port->openFile; /* idle: it has nothing pending */
        port->contender = NULL;
        Grant(port, file, done);
        port->ownerUsed = TRUE;
        return STATUS_SUCCESS;
    }
    if (file->FsContext2 == NM_FILE_VERDICT && !NT_SUCCESS((NTSTATUS)(ULONG_PTR)file->FsContext))
        return (NTSTATUS)(ULONG_PTR)file->FsContext;
    return NULLMODEM_STATUS_UNPLUGGED;
}

void NmServiceContender(NM_PORT *port, LONGLONG now, NM_DONE_LIST *done, LONGLONG *next)
{
    if (!port->contender || IsListEmpty(&port->parked))
        return;
    if (now >= port->contenderDeadline)
        NmRefuseContender(port, STATUS_ACCESS_DENIED, done);
    else if (port->contenderDeadline < *next)
        *next = port->contenderDeadline;
}
