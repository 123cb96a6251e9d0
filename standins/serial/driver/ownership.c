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

#define CONTEND_GRACE_MS 3000

static void set_verdict(PFILE_OBJECT file, NTSTATUS status)
{
    file->FsContext = (PVOID)(ULONG_PTR)status;
    file->FsContext2 = FILE_VERDICT;
}

/* The owner's open: fresh settings, lines up for the other end to see. */
static void grant(Port *port, PFILE_OBJECT file, DoneList *done)
{
    port->open_file = file;
    port->owner_used = FALSE;
    reset_settings(port);
    port->modem_status = modem_status_of(port);
    update_modem_status(port->peer, done);
    if (file)
        set_verdict(file, STATUS_SUCCESS);
}

void refuse_contender(Port *port, NTSTATUS status, DoneList *done)
{
    if (port->contender) {
        set_verdict(port->contender, status);
        fail_all(&port->parked, done, status);
        port->contender = NULL;
    }
    if (port->displaced) {
        set_verdict(port->displaced, status);
        port->displaced = NULL;
    }
}

NTSTATUS claim_port(Port *port, PIRP irp, DoneList *done)
{
    PFILE_OBJECT file = irp_file(irp);
    ULONG options = IoGetCurrentIrpStackLocation(irp)->Parameters.Create.Options;
    NTSTATUS status = STATUS_SUCCESS;
    if (!port->plugged)
        status = TARN_NULLMODEM_STATUS_UNPLUGGED;
    else if (take_fault(port, TARN_NULLMODEM_REQ_CREATE, &status))
        ;
    else if (!port->open_file) {
        grant(port, file, done);
        return STATUS_SUCCESS;
    } else if (file && !port->owner_used && !port->contender && !port->displaced) {
        port->contender = file;
        port->contender_sync = (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) != 0;
        port->contender_deadline = clock_now() + CONTEND_GRACE_MS * TICKS_PER_MS;
        file->FsContext2 = NULL; /* undecided */
        return STATUS_SUCCESS;
    } else
        status = STATUS_ACCESS_DENIED; /* one open at a time */
    if (file)
        set_verdict(file, status);
    return status;
}

void release_port(Port *port, PFILE_OBJECT file, DoneList *done, LIST_ENTRY *granted)
{
    if (!file)
        return;
    if (file == port->contender) {
        fail_all(&port->parked, done, STATUS_CANCELLED);
        port->contender = NULL;
        return;
    }
    if (file == port->displaced) {
        port->displaced = NULL; /* the take-over was right: its close was on its way */
        return;
    }
    if (file != port->open_file)
        return;
    /* Requests of the file may still be pending here: finish them all. */
    detach(port, done, STATUS_CANCELLED);
    if (port->displaced) {
        grant(port, port->displaced, done); /* still open: the port is its own again */
        port->displaced = NULL;
        return;
    }
    if (!port->contender)
        return;
    if (clock_now() >= port->contender_deadline) {
        refuse_contender(port, STATUS_ACCESS_DENIED, done);
        return;
    }
    grant(port, port->contender, done);
    port->contender = NULL;
    /* its waiting requests run again, in order, once the lock is released */
    while (port->parked.Flink != &port->parked) {
        PIRP irp = peek_head(&port->parked);
        if (take_irp(irp)) {
            InsertTailList(granted, &irp->Tail.Overlay.ListEntry);
        } else { /* being cancelled: its cancel routine completes it once the lock is free */
            RemoveEntryList(&irp->Tail.Overlay.ListEntry);
            InitializeListHead(&irp->Tail.Overlay.ListEntry);
        }
    }
}

void redispatch(Port *port, LIST_ENTRY *granted)
{
    while (!IsListEmpty(granted)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(granted), IRP, Tail.Overlay.ListEntry);
        InitializeListHead(&irp->Tail.Overlay.ListEntry);
        switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
        case IRP_MJ_READ: dispatch_read(port->device, irp); break;
        case IRP_MJ_WRITE: dispatch_write(port->device, irp); break;
        default: port_request(port, irp); break;
        }
    }
}

NTSTATUS handle_status(Port *port, PIRP irp, DoneList *done)
{
    PFILE_OBJECT file = irp_file(irp);
    if (port->plugged && file == port->open_file) {
        if (!port->owner_used) {
            port->owner_used = TRUE;
            refuse_contender(port, STATUS_ACCESS_DENIED, done); /* a real second open */
        }
        return STATUS_SUCCESS;
    }
    if (!file)
        return TARN_NULLMODEM_STATUS_UNPLUGGED;
    if (file == port->displaced) {
        /* the idle owner was alive after all: the port goes back to it */
        PFILE_OBJECT usurper = port->open_file;
        detach(port, done, STATUS_ACCESS_DENIED);
        if (usurper)
            set_verdict(usurper, STATUS_ACCESS_DENIED);
        port->displaced = NULL;
        grant(port, file, done);
        port->owner_used = TRUE;
        return STATUS_SUCCESS;
    }
    if (file == port->contender) {
        if (clock_now() >= port->contender_deadline) {
            refuse_contender(port, STATUS_ACCESS_DENIED, done);
            return STATUS_ACCESS_DENIED;
        }
        if (port->contender_sync)
            return queue_request(&port->parked, irp);
        port->displaced = port->open_file; /* idle: it has nothing pending */
        port->contender = NULL;
        grant(port, file, done);
        port->owner_used = TRUE;
        return STATUS_SUCCESS;
    }
    if (file->FsContext2 == FILE_VERDICT && !NT_SUCCESS((NTSTATUS)(ULONG_PTR)file->FsContext))
        return (NTSTATUS)(ULONG_PTR)file->FsContext;
    return TARN_NULLMODEM_STATUS_UNPLUGGED;
}

void service_contender(Port *port, LONGLONG now, DoneList *done, LONGLONG *next)
{
    if (!port->contender || IsListEmpty(&port->parked))
        return;
    if (now >= port->contender_deadline)
        refuse_contender(port, STATUS_ACCESS_DENIED, done);
    else if (port->contender_deadline < *next)
        *next = port->contender_deadline;
}
