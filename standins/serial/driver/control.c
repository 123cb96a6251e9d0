/* The control device: lets tests and users reach into the cable. */
#include "nullmodem.h"

#define IN_LEN(stack) ((stack)->Parameters.DeviceIoControl.InputBufferLength)
#define OUT_LEN(stack) ((stack)->Parameters.DeviceIoControl.OutputBufferLength)

static void fill_state(Port *port, TarnNullModemPortState *s)
{
    ULONG i;
    RtlZeroMemory(s, sizeof *s);
    s->port = port->number;
    s->peer = port->peer->number;
    s->is_open = port->open_file != NULL;
    s->plugged = port->plugged;
    s->pacing = port->pacing;
    s->dtr = port->dtr;
    s->rts = port->rts;
    s->break_on = port->break_on;
    s->modem_status = modem_status_of(port);
    for (i = 0; i < TARN_NULLMODEM_LINE_COUNT; i++)
        s->line_source[i] = port->line_source[i];
    s->baud_rate = port->baud_rate;
    s->wait_mask = port->wait_mask;
    s->waits_pending = count_list(&port->waits);
    s->reads_pending = count_list(&port->reads);
    s->writes_pending = count_list(&port->writes);
    s->bytes_in_input_queue = port->rx_count;
    s->bytes_received = port->bytes_received;
    s->bytes_sent = port->bytes_sent;
    for (i = 0; i < TARN_NULLMODEM_REQ_COUNT; i++)
        s->requests[i] = port->requests[i];
}

static NTSTATUS set_fault(Port *port, const TarnNullModemFaultRequest *r)
{
    ArmedFault *slot = NULL;
    ULONG i;
    if ((r->kind >= TARN_NULLMODEM_REQ_COUNT && r->kind != TARN_NULLMODEM_REQ_ANY_ESCAPE) || r->kind == TARN_NULLMODEM_REQ_CLOSE
        || (r->count && NT_SUCCESS(r->status)))
        return STATUS_INVALID_PARAMETER;
    for (i = 0; i < ARMED_FAULTS && !slot; i++)
        if (port->faults[i].kind == r->kind + 1)
            slot = &port->faults[i];
    for (i = 0; i < ARMED_FAULTS && !slot && r->count; i++)
        if (!port->faults[i].kind)
            slot = &port->faults[i];
    if (!slot)
        return r->count ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS;
    slot->kind = r->count ? r->kind + 1 : 0;
    slot->count = r->count;
    slot->status = r->status;
    return STATUS_SUCCESS;
}

static void set_plugged(Port *port, BOOLEAN plugged, DoneList *done)
{
    if (port->plugged == plugged)
        return;
    if (!plugged) {
        /* like a pulled USB adapter: what is pending fails, the open handle goes stale */
        if (port->open_file)
            detach(port, done, TARN_NULLMODEM_STATUS_UNPLUGGED);
        refuse_contender(port, TARN_NULLMODEM_STATUS_UNPLUGGED, done);
        port->plugged = FALSE;
    } else {
        port->plugged = TRUE;
    }
    update_modem_status(port->peer, done);
}

/* Runs with the lock held. */
static NTSTATUS carry_out(NullModem *modem, PIRP irp, PIO_STACK_LOCATION stack, DoneList *done, BOOLEAN *publish, Port **changed)
{
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    Port *port;

    if (code == TARN_NULLMODEM_CONTROL_GET_INFO) {
        TarnNullModemInfo *info = buffer;
        ULONG i;
        if (OUT_LEN(stack) < sizeof *info)
            return STATUS_BUFFER_TOO_SMALL;
        RtlZeroMemory(info, sizeof *info);
        info->version = TARN_NULLMODEM_INFO_VERSION;
        info->port_count = modem->port_count;
        for (i = 0; i < modem->port_count; i++)
            info->ports[i] = modem->ports[i]->number;
        irp->IoStatus.Information = sizeof *info;
        return STATUS_SUCCESS;
    }
    /* every other request names a port first */
    if (IN_LEN(stack) < sizeof(TarnNullModemPortRef))
        return STATUS_BUFFER_TOO_SMALL;
    port = find_port(modem, ((TarnNullModemPortRef *)buffer)->port);
    if (!port)
        return STATUS_NO_SUCH_DEVICE;

    switch (code) {
    case TARN_NULLMODEM_CONTROL_GET_PORT:
        if (OUT_LEN(stack) < sizeof(TarnNullModemPortState))
            return STATUS_BUFFER_TOO_SMALL;
        fill_state(port, buffer);
        irp->IoStatus.Information = sizeof(TarnNullModemPortState);
        return STATUS_SUCCESS;
    case TARN_NULLMODEM_CONTROL_SET_LINE: {
        const TarnNullModemLineRequest *r = buffer;
        if (IN_LEN(stack) < sizeof *r)
            return STATUS_BUFFER_TOO_SMALL;
        if (r->line >= TARN_NULLMODEM_LINE_COUNT || r->source > TARN_NULLMODEM_LINE_FORCED_OFF)
            return STATUS_INVALID_PARAMETER;
        port->line_source[r->line] = r->source;
        update_modem_status(port, done);
        return STATUS_SUCCESS;
    }
    case TARN_NULLMODEM_CONTROL_FAIL_NEXT:
        if (IN_LEN(stack) < sizeof(TarnNullModemFaultRequest))
            return STATUS_BUFFER_TOO_SMALL;
        return set_fault(port, buffer);
    case TARN_NULLMODEM_CONTROL_SET_PLUGGED:
    case TARN_NULLMODEM_CONTROL_SET_PACING: {
        const TarnNullModemSwitchRequest *r = buffer;
        if (IN_LEN(stack) < sizeof *r)
            return STATUS_BUFFER_TOO_SMALL;
        if (code == TARN_NULLMODEM_CONTROL_SET_PACING) {
            port->pacing = r->on != 0;
        } else if (port->plugged != (r->on != 0)) {
            set_plugged(port, r->on != 0, done);
            *publish = TRUE;
            *changed = port;
        }
        return STATUS_SUCCESS;
    }
    case TARN_NULLMODEM_CONTROL_RESET_PORT: {
        ULONG i;
        RtlZeroMemory(port->faults, sizeof port->faults);
        RtlZeroMemory(port->requests, sizeof port->requests);
        port->bytes_received = port->bytes_sent = 0;
        port->pacing = FALSE;
        for (i = 0; i < TARN_NULLMODEM_LINE_COUNT; i++)
            port->line_source[i] = TARN_NULLMODEM_LINE_WIRED;
        update_modem_status(port, done);
        if (!port->plugged) {
            set_plugged(port, TRUE, done);
            *publish = TRUE;
            *changed = port;
        }
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS control_device_request(NullModem *modem, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DoneList done;
    Port *changed = NULL;
    BOOLEAN publish = FALSE;
    NTSTATUS status;
    KIRQL irql;

    irp->IoStatus.Information = 0;
    done_init(&done);
    KeAcquireSpinLock(&modem->lock, &irql);
    status = carry_out(modem, irp, stack, &done, &publish, &changed);
    kick_and_unlock(modem, &done, irql);
    if (publish)
        show_port(changed, changed->plugged); /* names and registry are not touched under a spin lock */
    return complete_now(irp, status, NT_SUCCESS(status) ? irp->IoStatus.Information : 0);
}
