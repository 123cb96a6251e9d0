/* The standard serial requests of a port, with the semantics of a real port driver. */
#include "nullmodem.h"

#define IN_LEN(stack) ((stack)->Parameters.DeviceIoControl.InputBufferLength)
#define OUT_LEN(stack) ((stack)->Parameters.DeviceIoControl.OutputBufferLength)

ULONG nm_ioctl_kind(ULONG code)
{
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE: return TARN_NULLMODEM_REQ_SET_BAUD_RATE;
    case IOCTL_SERIAL_GET_BAUD_RATE: return TARN_NULLMODEM_REQ_GET_BAUD_RATE;
    case IOCTL_SERIAL_SET_LINE_CONTROL: return TARN_NULLMODEM_REQ_SET_LINE_CONTROL;
    case IOCTL_SERIAL_GET_LINE_CONTROL: return TARN_NULLMODEM_REQ_GET_LINE_CONTROL;
    case IOCTL_SERIAL_SET_HANDFLOW: return TARN_NULLMODEM_REQ_SET_HANDFLOW;
    case IOCTL_SERIAL_GET_HANDFLOW: return TARN_NULLMODEM_REQ_GET_HANDFLOW;
    case IOCTL_SERIAL_SET_CHARS: return TARN_NULLMODEM_REQ_SET_CHARS;
    case IOCTL_SERIAL_GET_CHARS: return TARN_NULLMODEM_REQ_GET_CHARS;
    case IOCTL_SERIAL_SET_QUEUE_SIZE: return TARN_NULLMODEM_REQ_SET_QUEUE_SIZE;
    case IOCTL_SERIAL_SET_TIMEOUTS: return TARN_NULLMODEM_REQ_SET_TIMEOUTS;
    case IOCTL_SERIAL_GET_TIMEOUTS: return TARN_NULLMODEM_REQ_GET_TIMEOUTS;
    case IOCTL_SERIAL_GET_MODEMSTATUS: return TARN_NULLMODEM_REQ_GET_MODEMSTATUS;
    case IOCTL_SERIAL_SET_DTR: return TARN_NULLMODEM_REQ_SET_DTR;
    case IOCTL_SERIAL_CLR_DTR: return TARN_NULLMODEM_REQ_CLR_DTR;
    case IOCTL_SERIAL_SET_RTS: return TARN_NULLMODEM_REQ_SET_RTS;
    case IOCTL_SERIAL_CLR_RTS: return TARN_NULLMODEM_REQ_CLR_RTS;
    case IOCTL_SERIAL_SET_BREAK_ON: return TARN_NULLMODEM_REQ_SET_BREAK_ON;
    case IOCTL_SERIAL_SET_BREAK_OFF: return TARN_NULLMODEM_REQ_SET_BREAK_OFF;
    case IOCTL_SERIAL_SET_WAIT_MASK: return TARN_NULLMODEM_REQ_SET_WAIT_MASK;
    case IOCTL_SERIAL_GET_WAIT_MASK: return TARN_NULLMODEM_REQ_GET_WAIT_MASK;
    case IOCTL_SERIAL_WAIT_ON_MASK: return TARN_NULLMODEM_REQ_WAIT_ON_MASK;
    case IOCTL_SERIAL_GET_COMMSTATUS: return TARN_NULLMODEM_REQ_GET_COMMSTATUS;
    case IOCTL_SERIAL_PURGE: return TARN_NULLMODEM_REQ_PURGE;
    case IOCTL_SERIAL_GET_PROPERTIES: return TARN_NULLMODEM_REQ_GET_PROPERTIES;
    default: return TARN_NULLMODEM_REQ_OTHER;
    }
}

/* The input buffer holds at least `need` bytes; for output, the same for OutputBufferLength. */
#define NEED_IN(type) do { if (IN_LEN(stack) < sizeof(type)) return STATUS_BUFFER_TOO_SMALL; } while (0)
#define NEED_OUT(type) do { if (OUT_LEN(stack) < sizeof(type)) return STATUS_BUFFER_TOO_SMALL; } while (0)
/* Answers a query with one value of `type`. */
#define REPLY(type, value)                                   \
    do {                                                     \
        NEED_OUT(type);                                      \
        *(type *)buffer = (value);                           \
        irp->IoStatus.Information = sizeof(type);            \
        return STATUS_SUCCESS;                               \
    } while (0)

static NTSTATUS SetHandFlow(NullModemPort *port, const SERIAL_HANDFLOW *flow, NullModemDoneList *done)
{
    ULONG oldDtr = port->hand_flow.ControlHandShake & SERIAL_DTR_MASK;
    ULONG oldRts = port->hand_flow.FlowReplace & SERIAL_RTS_MASK;
    ULONG newDtr = flow->ControlHandShake & SERIAL_DTR_MASK;
    ULONG newRts = flow->FlowReplace & SERIAL_RTS_MASK;

    if ((flow->ControlHandShake & SERIAL_CONTROL_INVALID) || (flow->FlowReplace & SERIAL_FLOW_INVALID)
        || newDtr == SERIAL_DTR_MASK || flow->XonLimit < 0 || flow->XoffLimit < 0)
        return STATUS_INVALID_PARAMETER;
    port->hand_flow = *flow;
    /* a line changes only when its control mode changes; escapes drive it otherwise */
    if (newDtr != oldDtr)
        port->dtr = newDtr != 0;
    if (newRts != oldRts)
        port->rts = newRts == SERIAL_RTS_CONTROL || newRts == SERIAL_RTS_HANDSHAKE;
    nm_update_modem_status(port->peer, done);
    return STATUS_SUCCESS;
}

static NTSTATUS SetLineControl(NullModemPort *port, const SERIAL_LINE_CONTROL *lc)
{
    if (lc->WordLength < 5 || lc->WordLength > 8 || lc->Parity > SPACE_PARITY || lc->StopBits > STOP_BITS_2)
        return STATUS_INVALID_PARAMETER;
    if ((lc->StopBits == STOP_BITS_1_5 && lc->WordLength != 5) || (lc->StopBits == STOP_BITS_2 && lc->WordLength == 5))
        return STATUS_INVALID_PARAMETER; /* 1.5 stop bits go with 5 data bits only */
    port->line_control = *lc;
    return STATUS_SUCCESS;
}

static NTSTATUS SetLine(NullModemPort *port, BOOLEAN *line, BOOLEAN on, BOOLEAN underHandshake, NullModemDoneList *done)
{
    if (underHandshake)
        return STATUS_INVALID_PARAMETER;
    *line = on;
    nm_update_modem_status(port->peer, done);
    return STATUS_SUCCESS;
}

static NTSTATUS SetBreak(NullModemPort *port, BOOLEAN on, NullModemDoneList *done)
{
    if (on && !port->break_on && port->plugged && port->peer->open_file && port->peer->plugged) {
        port->peer->errors |= SERIAL_ERROR_BREAK;
        nm_raise_events(port->peer, SERIAL_EV_BREAK, done);
    }
    port->break_on = on;
    return STATUS_SUCCESS;
}

static ULONG BytesWaitingToGo(NullModemPort *port)
{
    ULONG total = 0;
    LIST_ENTRY *entry;
    for (entry = port->writes.Flink; entry != &port->writes; entry = entry->Flink) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        total += IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    }
    return total - (port->write_started ? port->write_sent : 0);
}

static void FillProperties(NullModemPort *port, SERIAL_COMMPROP *p)
{
    RtlZeroMemory(p, FIELD_OFFSET(SERIAL_COMMPROP, ProvChar));
    p->PacketLength = sizeof(SERIAL_COMMPROP);
    p->PacketVersion = 2;
    p->ServiceMask = SERIAL_SP_SERIALCOMM;
    p->MaxBaud = SERIAL_BAUD_USER;
    p->ProvSubType = SERIAL_SP_RS232;
    p->ProvCapabilities = SERIAL_PCF_DTRDSR | SERIAL_PCF_RTSCTS | SERIAL_PCF_CD | SERIAL_PCF_PARITY_CHECK
                        | SERIAL_PCF_XONXOFF | SERIAL_PCF_SETXCHAR | SERIAL_PCF_TOTALTIMEOUTS
                        | SERIAL_PCF_INTTIMEOUTS | SERIAL_PCF_SPECIALCHARS;
    p->SettableParams = SERIAL_SP_PARITY | SERIAL_SP_BAUD | SERIAL_SP_DATABITS | SERIAL_SP_STOPBITS
                      | SERIAL_SP_HANDSHAKING | SERIAL_SP_PARITY_CHECK | SERIAL_SP_CARRIER_DETECT;
    p->SettableBaud = 0x0007FFFF | SERIAL_BAUD_USER;
    p->SettableData = SERIAL_DATABITS_5 | SERIAL_DATABITS_6 | SERIAL_DATABITS_7 | SERIAL_DATABITS_8;
    p->SettableStopParity = SERIAL_STOPBITS_10 | SERIAL_STOPBITS_15 | SERIAL_STOPBITS_20 | SERIAL_PARITY_NONE
                          | SERIAL_PARITY_ODD | SERIAL_PARITY_EVEN | SERIAL_PARITY_MARK | SERIAL_PARITY_SPACE;
    p->CurrentTxQueue = port->queue_size.OutSize;
    p->CurrentRxQueue = port->queue_size.InSize;
}

/* Runs with the lock held.  Returns STATUS_PENDING when the request was queued. */
static NTSTATUS Handle(NullModemPort *port, PIRP irp, PIO_STACK_LOCATION stack, NullModemDoneList *done)
{
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG dtrMode = port->hand_flow.ControlHandShake & SERIAL_DTR_MASK;
    ULONG rtsMode = port->hand_flow.FlowReplace & SERIAL_RTS_MASK;

    irp->IoStatus.Information = 0;
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE:
        NEED_IN(SERIAL_BAUD_RATE);
        if (((SERIAL_BAUD_RATE *)buffer)->BaudRate < 50 || ((SERIAL_BAUD_RATE *)buffer)->BaudRate > 4000000)
            return STATUS_INVALID_PARAMETER;
        port->baud_rate = ((SERIAL_BAUD_RATE *)buffer)->BaudRate;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_BAUD_RATE:
        REPLY(ULONG, port->baud_rate); /* SERIAL_BAUD_RATE is one ULONG */
    case IOCTL_SERIAL_SET_LINE_CONTROL:
        NEED_IN(SERIAL_LINE_CONTROL);
        return SetLineControl(port, buffer);
    case IOCTL_SERIAL_GET_LINE_CONTROL:
        REPLY(SERIAL_LINE_CONTROL, port->line_control);
    case IOCTL_SERIAL_SET_HANDFLOW:
        NEED_IN(SERIAL_HANDFLOW);
        return SetHandFlow(port, buffer, done);
    case IOCTL_SERIAL_GET_HANDFLOW:
        REPLY(SERIAL_HANDFLOW, port->hand_flow);
    case IOCTL_SERIAL_SET_CHARS:
        NEED_IN(SERIAL_CHARS);
        port->chars = *(SERIAL_CHARS *)buffer;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_CHARS:
        REPLY(SERIAL_CHARS, port->chars);
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        NEED_IN(SERIAL_QUEUE_SIZE);
        port->queue_size = *(SERIAL_QUEUE_SIZE *)buffer;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_SET_TIMEOUTS: {
        const SERIAL_TIMEOUTS *t = buffer;
        NEED_IN(SERIAL_TIMEOUTS);
        if (t->ReadIntervalTimeout == MAXULONG && t->ReadTotalTimeoutMultiplier == MAXULONG
            && t->ReadTotalTimeoutConstant == MAXULONG)
            return STATUS_INVALID_PARAMETER;
        port->timeouts = *t; /* a transfer already under way keeps the time-outs it started with */
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_GET_TIMEOUTS:
        REPLY(SERIAL_TIMEOUTS, port->timeouts);
    case IOCTL_SERIAL_GET_MODEMSTATUS:
        REPLY(ULONG, nm_modem_status(port));
    case IOCTL_SERIAL_SET_DTR:
    case IOCTL_SERIAL_CLR_DTR:
        return SetLine(port, &port->dtr, code == IOCTL_SERIAL_SET_DTR, dtrMode == SERIAL_DTR_HANDSHAKE, done);
    case IOCTL_SERIAL_SET_RTS:
    case IOCTL_SERIAL_CLR_RTS:
        return SetLine(port, &port->rts, code == IOCTL_SERIAL_SET_RTS,
                       rtsMode == SERIAL_RTS_HANDSHAKE || rtsMode == SERIAL_TRANSMIT_TOGGLE, done);
    case IOCTL_SERIAL_SET_BREAK_ON:
    case IOCTL_SERIAL_SET_BREAK_OFF:
        return SetBreak(port, code == IOCTL_SERIAL_SET_BREAK_ON, done);
    case IOCTL_SERIAL_GET_DTRRTS:
        REPLY(ULONG, (port->dtr ? SERIAL_DTR_STATE : 0) | (port->rts ? SERIAL_RTS_STATE : 0));
    case IOCTL_SERIAL_GET_MODEM_CONTROL:
        REPLY(ULONG, (port->dtr ? SERIAL_IOC_MCR_DTR : 0) | (port->rts ? SERIAL_IOC_MCR_RTS : 0) | SERIAL_IOC_MCR_OUT2);
    case IOCTL_SERIAL_SET_WAIT_MASK: {
        PIRP pending;
        NEED_IN(ULONG);
        if (*(ULONG *)buffer & ~0x1FFFUL)
            return STATUS_INVALID_PARAMETER;
        port->wait_mask = *(ULONG *)buffer;
        port->history = 0;
        /* a new mask ends the pending wait with no events */
        pending = nm_peek_head(&port->waits);
        if (pending && nm_take_irp(pending)) {
            *(ULONG *)nm_irp_buffer(pending) = 0;
            nm_finish(done, pending, STATUS_SUCCESS, sizeof(ULONG));
        }
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_GET_WAIT_MASK:
        REPLY(ULONG, port->wait_mask);
    case IOCTL_SERIAL_WAIT_ON_MASK:
        NEED_OUT(ULONG);
        if (!port->wait_mask || !IsListEmpty(&port->waits))
            return STATUS_INVALID_PARAMETER;
        if (port->history & port->wait_mask) {
            *(ULONG *)buffer = port->history & port->wait_mask;
            port->history = 0;
            irp->IoStatus.Information = sizeof(ULONG);
            return STATUS_SUCCESS;
        }
        return nm_queue(&port->waits, irp);
    case IOCTL_SERIAL_GET_COMMSTATUS: {
        SERIAL_STATUS *s = buffer;
        NEED_OUT(SERIAL_STATUS);
        RtlZeroMemory(s, sizeof *s);
        s->Errors = port->errors;
        port->errors = 0;
        if (!IsListEmpty(&port->writes)) {
            ULONG status = nm_modem_status(port), shake = port->hand_flow.ControlHandShake;
            if ((shake & SERIAL_CTS_HANDSHAKE) && !(status & SERIAL_CTS_STATE)) s->HoldReasons |= SERIAL_TX_WAITING_FOR_CTS;
            if ((shake & SERIAL_DSR_HANDSHAKE) && !(status & SERIAL_DSR_STATE)) s->HoldReasons |= SERIAL_TX_WAITING_FOR_DSR;
        }
        s->AmountInInQueue = port->rx_count;
        s->AmountInOutQueue = BytesWaitingToGo(port);
        irp->IoStatus.Information = sizeof(SERIAL_STATUS);
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_PURGE: {
        ULONG flags;
        NEED_IN(ULONG);
        flags = *(ULONG *)buffer;
        if (flags & ~0xFUL)
            return STATUS_INVALID_PARAMETER;
        if (flags & SERIAL_PURGE_TXABORT) {
            nm_fail_all(&port->writes, done, STATUS_CANCELLED);
            port->write_started = FALSE;
        }
        if (flags & SERIAL_PURGE_RXABORT) {
            nm_fail_all(&port->reads, done, STATUS_CANCELLED);
            port->read_started = FALSE;
        }
        if (flags & SERIAL_PURGE_RXCLEAR)
            port->rx_head = port->rx_count = 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_GET_PROPERTIES:
        if (OUT_LEN(stack) < FIELD_OFFSET(SERIAL_COMMPROP, ProvChar))
            return STATUS_BUFFER_TOO_SMALL;
        FillProperties(port, buffer);
        irp->IoStatus.Information = FIELD_OFFSET(SERIAL_COMMPROP, ProvChar);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_IMMEDIATE_CHAR:
        NEED_IN(UCHAR);
        nm_deliver(port->peer, buffer, 1, nm_now(), done);
        port->bytes_sent++;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_STATS:
        NEED_OUT(SERIALPERF_STATS);
        RtlZeroMemory(buffer, sizeof(SERIALPERF_STATS));
        ((SERIALPERF_STATS *)buffer)->ReceivedCount = port->bytes_received;
        ((SERIALPERF_STATS *)buffer)->TransmittedCount = port->bytes_sent;
        irp->IoStatus.Information = sizeof(SERIALPERF_STATS);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_CONFIG_SIZE:
        REPLY(ULONG, 0);
    case IOCTL_SERIAL_SET_XON:
    case IOCTL_SERIAL_SET_XOFF:
    case IOCTL_SERIAL_RESET_DEVICE:
    case IOCTL_SERIAL_SET_FIFO_CONTROL:
    case IOCTL_SERIAL_CLEAR_STATS:
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS nm_port_ioctl(NullModemPort *port, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NullModemDoneList done;
    NTSTATUS status;
    KIRQL irql;

    nm_done_init(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    status = nm_handle_status(port, irp, &done);
    if (status != STATUS_PENDING)
        nm_count(port, nm_ioctl_kind(stack->Parameters.DeviceIoControl.IoControlCode));
    if (status == STATUS_SUCCESS && !nm_take_fault(port, nm_ioctl_kind(stack->Parameters.DeviceIoControl.IoControlCode), &status))
        status = Handle(port, irp, stack, &done);
    nm_kick(&done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    nm_complete_done(&done);
    nm_wake_timer();
    if (status == STATUS_PENDING)
        return status;
    return nm_complete_now(irp, status, NT_SUCCESS(status) ? irp->IoStatus.Information : 0);
}
