/* The standard serial requests of a port, with the semantics of a real port driver. */
#include "nullmodem.h"

#define IN_LEN(stack) ((stack)->Parameters.DeviceIoControl.InputBufferLength)
#define OUT_LEN(stack) ((stack)->Parameters.DeviceIoControl.OutputBufferLength)

ULONG request_kind(ULONG code)
{
#define KIND_OF_CONTROL_CODE(id, text) case IOCTL_SERIAL_##id: return TARN_NULLMODEM_REQ_##id;
    switch (code) {
    TARN_NULLMODEM_SERIAL_CONTROL_KINDS(KIND_OF_CONTROL_CODE)
    default: return TARN_NULLMODEM_REQ_OTHER;
    }
#undef KIND_OF_CONTROL_CODE
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

static NTSTATUS set_hand_flow(Port *port, const SERIAL_HANDFLOW *flow, DoneList *done)
{
    ULONG old_dtr = port->hand_flow.ControlHandShake & SERIAL_DTR_MASK;
    ULONG old_rts = port->hand_flow.FlowReplace & SERIAL_RTS_MASK;
    ULONG new_dtr = flow->ControlHandShake & SERIAL_DTR_MASK;
    ULONG new_rts = flow->FlowReplace & SERIAL_RTS_MASK;

    if ((flow->ControlHandShake & SERIAL_CONTROL_INVALID) || (flow->FlowReplace & SERIAL_FLOW_INVALID)
        || new_dtr == SERIAL_DTR_MASK || flow->XonLimit < 0 || flow->XoffLimit < 0)
        return STATUS_INVALID_PARAMETER;
    port->hand_flow = *flow;
    /* a line changes only when its control mode changes; escapes drive it otherwise */
    if (new_dtr != old_dtr)
        port->dtr = new_dtr != 0;
    if (new_rts != old_rts)
        port->rts = new_rts == SERIAL_RTS_CONTROL || new_rts == SERIAL_RTS_HANDSHAKE;
    update_modem_status(port->peer, done);
    return STATUS_SUCCESS;
}

static NTSTATUS set_line_control(Port *port, const SERIAL_LINE_CONTROL *lc)
{
    if (lc->WordLength < 5 || lc->WordLength > 8 || lc->Parity > SPACE_PARITY || lc->StopBits > STOP_BITS_2)
        return STATUS_INVALID_PARAMETER;
    if ((lc->StopBits == STOP_BITS_1_5 && lc->WordLength != 5) || (lc->StopBits == STOP_BITS_2 && lc->WordLength == 5))
        return STATUS_INVALID_PARAMETER; /* 1.5 stop bits go with 5 data bits only */
    port->line_control = *lc;
    return STATUS_SUCCESS;
}

static NTSTATUS set_line(Port *port, BOOLEAN *line, BOOLEAN on, BOOLEAN under_handshake, DoneList *done)
{
    if (under_handshake)
        return STATUS_INVALID_PARAMETER;
    *line = on;
    update_modem_status(port->peer, done);
    return STATUS_SUCCESS;
}

static NTSTATUS set_break(Port *port, BOOLEAN on, DoneList *done)
{
    if (on && !port->break_on && port->plugged && port->peer->open_file && port->peer->plugged) {
        port->peer->errors |= SERIAL_ERROR_BREAK;
        raise_events(port->peer, SERIAL_EV_BREAK, done);
    }
    port->break_on = on;
    return STATUS_SUCCESS;
}

static ULONG bytes_waiting_to_go(Port *port)
{
    ULONG total = 0;
    LIST_ENTRY *entry;
    for (entry = port->writes.Flink; entry != &port->writes; entry = entry->Flink) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        total += IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    }
    return total - (port->write_started ? port->write_sent : 0);
}

static void fill_properties(Port *port, SERIAL_COMMPROP *p)
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
static NTSTATUS carry_out(Port *port, PIRP irp, PIO_STACK_LOCATION stack, DoneList *done)
{
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG dtr_mode = port->hand_flow.ControlHandShake & SERIAL_DTR_MASK;
    ULONG rts_mode = port->hand_flow.FlowReplace & SERIAL_RTS_MASK;

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
        return set_line_control(port, buffer);
    case IOCTL_SERIAL_GET_LINE_CONTROL:
        REPLY(SERIAL_LINE_CONTROL, port->line_control);
    case IOCTL_SERIAL_SET_HANDFLOW:
        NEED_IN(SERIAL_HANDFLOW);
        return set_hand_flow(port, buffer, done);
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
        REPLY(ULONG, modem_status_of(port));
    case IOCTL_SERIAL_SET_DTR:
    case IOCTL_SERIAL_CLR_DTR:
        return set_line(port, &port->dtr, code == IOCTL_SERIAL_SET_DTR, dtr_mode == SERIAL_DTR_HANDSHAKE, done);
    case IOCTL_SERIAL_SET_RTS:
    case IOCTL_SERIAL_CLR_RTS:
        return set_line(port, &port->rts, code == IOCTL_SERIAL_SET_RTS,
                       rts_mode == SERIAL_RTS_HANDSHAKE || rts_mode == SERIAL_TRANSMIT_TOGGLE, done);
    case IOCTL_SERIAL_SET_BREAK_ON:
    case IOCTL_SERIAL_SET_BREAK_OFF:
        return set_break(port, code == IOCTL_SERIAL_SET_BREAK_ON, done);
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
        pending = peek_head(&port->waits);
        if (pending && take_irp(pending)) {
            *(ULONG *)irp_buffer(pending) = 0;
            done_add(done, pending, STATUS_SUCCESS, sizeof(ULONG));
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
        return queue_request(&port->waits, irp);
    case IOCTL_SERIAL_GET_COMMSTATUS: {
        SERIAL_STATUS *s = buffer;
        NEED_OUT(SERIAL_STATUS);
        RtlZeroMemory(s, sizeof *s);
        s->Errors = port->errors;
        port->errors = 0;
        if (!IsListEmpty(&port->writes)) {
            ULONG status = modem_status_of(port), shake = port->hand_flow.ControlHandShake;
            if ((shake & SERIAL_CTS_HANDSHAKE) && !(status & SERIAL_CTS_STATE)) s->HoldReasons |= SERIAL_TX_WAITING_FOR_CTS;
            if ((shake & SERIAL_DSR_HANDSHAKE) && !(status & SERIAL_DSR_STATE)) s->HoldReasons |= SERIAL_TX_WAITING_FOR_DSR;
        }
        s->AmountInInQueue = port->rx_count;
        s->AmountInOutQueue = bytes_waiting_to_go(port);
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
            fail_all(&port->writes, done, STATUS_CANCELLED);
            port->write_started = FALSE;
        }
        if (flags & SERIAL_PURGE_RXABORT) {
            fail_all(&port->reads, done, STATUS_CANCELLED);
            port->read_started = FALSE;
        }
        if (flags & SERIAL_PURGE_RXCLEAR)
            port->rx_head = port->rx_count = 0;
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_GET_PROPERTIES:
        if (OUT_LEN(stack) < FIELD_OFFSET(SERIAL_COMMPROP, ProvChar))
            return STATUS_BUFFER_TOO_SMALL;
        fill_properties(port, buffer);
        irp->IoStatus.Information = FIELD_OFFSET(SERIAL_COMMPROP, ProvChar);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_IMMEDIATE_CHAR:
        NEED_IN(UCHAR);
        deliver(port->peer, buffer, 1, clock_now(), done);
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

NTSTATUS port_request(Port *port, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    DoneList done;
    NTSTATUS status;
    KIRQL irql;

    done_init(&done);
    KeAcquireSpinLock(&port->modem->lock, &irql);
    status = handle_status(port, irp, &done);
    if (status != STATUS_PENDING)
        count_request(port, request_kind(stack->Parameters.DeviceIoControl.IoControlCode));
    if (status == STATUS_SUCCESS && !take_fault(port, request_kind(stack->Parameters.DeviceIoControl.IoControlCode), &status))
        status = carry_out(port, irp, stack, &done);
    kick_and_unlock(port->modem, &done, irql);
    if (status == STATUS_PENDING)
        return status;
    return complete_now(irp, status, NT_SUCCESS(status) ? irp->IoStatus.Information : 0);
}
