/* The control device: lets tests and users reach into the cable. */
#include "nullmodem.h"

#define IN_LEN(stack) ((stack)->Parameters.DeviceIoControl.InputBufferLength)
#define OUT_LEN(stack) ((stack)->Parameters.DeviceIoControl.OutputBufferLength)

static void FillState(NM_PORT *port, NULLMODEM_PORT_STATE *s)
{
    ULONG i;
    RtlZeroMemory(s, sizeof *s);
    s->port = port->number;
    s->peer = port->peer->number;
    s->isOpen = port->openFile != NULL;
    s->plugged = port->plugged;
    s->pacing = port->pacing;
    s->dtr = port->dtr;
    s->rts = port->rts;
    s->breakOn = port->breakOn;
    s->modemStatus = NmModemStatus(port);
    for (i = 0; i < NULLMODEM_LINE_COUNT; i++)
        s->lineSource[i] = port->lineSource[i];
    s->baudRate = port->baudRate;
    s->waitMask = port->waitMask;
    s->waitsPending = NmCountList(&port->waits);
    s->readsPending = NmCountList(&port->reads);
    s->writesPending = NmCountList(&port->writes);
    s->bytesInInputQueue = port->rxCount;
    s->bytesReceived = port->bytesReceived;
    s->bytesSent = port->bytesSent;
    for (i = 0; i < NULLMODEM_REQ_COUNT; i++)
        s->requests[i] = port->requests[i];
}

static NTSTATUS SetFault(NM_PORT *port, const NULLMODEM_FAULT_REQUEST *r)
{
    NM_FAULT *slot = NULL;
    ULONG i;
    if ((r->kind >= NULLMODEM_REQ_COUNT && r->kind != NULLMODEM_REQ_ANY_ESCAPE) || r->kind == NULLMODEM_REQ_CLOSE
        || (r->count && NT_SUCCESS(r->status)))
        return STATUS_INVALID_PARAMETER;
    for (i = 0; i < NM_MAX_FAULTS && !slot; i++)
        if (port->faults[i].kind == r->kind + 1)
            slot = &port->faults[i];
    for (i = 0; i < NM_MAX_FAULTS && !slot && r->count; i++)
        if (!port->faults[i].kind)
            slot = &port->faults[i];
    if (!slot)
        return r->count ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS;
    slot->kind = r->count ? r->kind + 1 : 0;
    slot->count = r->count;
    slot->status = r->status;
    return STATUS_SUCCESS;
}

static void SetPlugged(NM_PORT *port, BOOLEAN plugged, NM_DONE_LIST *done)
{
    if (port->plugged == plugged)
        return;
    if (!plugged) {
        /* like a pulled USB adapter: what is pending fails, the open handle goes stale */
        if (port->openFile)
            NmDetach(port, done, NULLMODEM_STATUS_UNPLUGGED);
        NmRefuseContender(port, NULLMODEM_STATUS_UNPLUGGED, done);
        port->plugged = FALSE;
    } else {
        port->plugged = TRUE;
    }
    NmUpdateModemStatus(port->peer, done);
}

/* Runs with the lock held. */
static NTSTATUS Handle(PIRP irp, PIO_STACK_LOCATION stack, NM_DONE_LIST *done, BOOLEAN *publish, NM_PORT **changed)
{
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    NM_PORT *port;

    if (code == IOCTL_NULLMODEM_GET_INFO) {
        NULLMODEM_INFO *info = buffer;
        ULONG i;
        if (OUT_LEN(stack) < sizeof *info)
            return STATUS_BUFFER_TOO_SMALL;
        RtlZeroMemory(info, sizeof *info);
        info->version = NULLMODEM_INFO_VERSION;
        info->portCount = g_nm.portCount;
        for (i = 0; i < g_nm.portCount; i++)
            info->ports[i] = g_nm.ports[i].number;
        irp->IoStatus.Information = sizeof *info;
        return STATUS_SUCCESS;
    }
    /* every other request names a port first */
    if (IN_LEN(stack) < sizeof(NULLMODEM_PORT_REF))
        return STATUS_BUFFER_TOO_SMALL;
    port = NmFindPort(((NULLMODEM_PORT_REF *)buffer)->port);
    if (!port)
        return STATUS_NO_SUCH_DEVICE;

    switch (code) {
    case IOCTL_NULLMODEM_GET_PORT:
        if (OUT_LEN(stack) < sizeof(NULLMODEM_PORT_STATE))
            return STATUS_BUFFER_TOO_SMALL;
        FillState(port, buffer);
        irp->IoStatus.Information = sizeof(NULLMODEM_PORT_STATE);
        return STATUS_SUCCESS;
    case IOCTL_NULLMODEM_SET_LINE: {
        const NULLMODEM_LINE_REQUEST *r = buffer;
        if (IN_LEN(stack) < sizeof *r)
            return STATUS_BUFFER_TOO_SMALL;
        if (r->line >= NULLMODEM_LINE_COUNT || r->source > NULLMODEM_LINE_FORCED_OFF)
            return STATUS_INVALID_PARAMETER;
        port->lineSource[r->line] = r->source;
        NmUpdateModemStatus(port, done);
        return STATUS_SUCCESS;
    }
    case IOCTL_NULLMODEM_FAIL_NEXT:
        if (IN_LEN(stack) < sizeof(NULLMODEM_FAULT_REQUEST))
            return STATUS_BUFFER_TOO_SMALL;
        return SetFault(port, buffer);
    case IOCTL_NULLMODEM_SET_PLUGGED:
    case IOCTL_NULLMODEM_SET_PACING: {
        const NULLMODEM_SWITCH_REQUEST *r = buffer;
        if (IN_LEN(stack) < sizeof *r)
            return STATUS_BUFFER_TOO_SMALL;
        if (code == IOCTL_NULLMODEM_SET_PACING) {
            port->pacing = r->on != 0;
        } else if (port->plugged != (r->on != 0)) {
            SetPlugged(port, r->on != 0, done);
            *publish = TRUE;
            *changed = port;
        }
        return STATUS_SUCCESS;
    }
    case IOCTL_NULLMODEM_RESET_PORT: {
        ULONG i;
        RtlZeroMemory(port->faults, sizeof port->faults);
        RtlZeroMemory(port->requests, sizeof port->requests);
        port->bytesReceived = port->bytesSent = 0;
        port->pacing = FALSE;
        for (i = 0; i < NULLMODEM_LINE_COUNT; i++)
            port->lineSource[i] = NULLMODEM_LINE_WIRED;
        NmUpdateModemStatus(port, done);
        if (!port->plugged) {
            SetPlugged(port, TRUE, done);
            *publish = TRUE;
            *changed = port;
        }
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS NmControlIoctl(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NM_DONE_LIST done;
    NM_PORT *changed = NULL;
    BOOLEAN publish = FALSE;
    NTSTATUS status;
    KIRQL irql;

    irp->IoStatus.Information = 0;
    NmDoneInit(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    status = Handle(irp, stack, &done, &publish, &changed);
    NmKick(&done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    NmCompleteDone(&done);
    NmWakeTimer();
    if (publish)
        NmShowPort(changed, changed->plugged); /* names and registry are not touched under a spin lock */
    return NmCompleteNow(irp, status, NT_SUCCESS(status) ? irp->IoStatus.Information : 0);
}
