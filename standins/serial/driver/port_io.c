/* The cable: bytes, lines and events between the two ports of a pair, and the
 * read and write requests with their time-outs. */
#include "nullmodem.h"

#define MAXULONG_VALUE 0xFFFFFFFFUL

static LONGLONG min_time(LONGLONG a, LONGLONG b) { return a < b ? a : b; }

/* A time-out of `ms` from `now`; beyond a thousand years it never comes. */
static LONGLONG deadline_after(LONGLONG now, ULONGLONG ms)
{
    return ms < 30000000000000ULL ? now + (LONGLONG)ms * TICKS_PER_MS : NO_DEADLINE;
}

void raise_events(Port *port, ULONG events, DoneList *done)
{
    PIRP wait;
    if (!port->open_file)
        return;
    events &= port->wait_mask;
    if (!events)
        return;
    wait = peek_head(&port->waits);
    if (wait && take_irp(wait)) {
        *(ULONG *)irp_buffer(wait) = port->history | events;
        port->history = 0;
        done_add(done, wait, STATUS_SUCCESS, sizeof(ULONG));
    } else {
        port->history |= events; /* remembered for the next wait */
    }
}

static BOOLEAN connected(const Port *port)
{
    return port->open_file && port->plugged;
}

ULONG modem_status_of(const Port *port)
{
    static const ULONG bit[TARN_NULLMODEM_LINE_COUNT] = { SERIAL_CTS_STATE, SERIAL_DSR_STATE, SERIAL_RI_STATE, SERIAL_DCD_STATE };
    const Port *peer = port->peer;
    ULONG status = 0, line;
    if (port->plugged && connected(peer)) {
        if (peer->rts) status |= SERIAL_CTS_STATE;
        if (peer->dtr) status |= SERIAL_DSR_STATE | SERIAL_DCD_STATE;
    }
    for (line = 0; line < TARN_NULLMODEM_LINE_COUNT; line++) {
        if (port->line_source[line] == TARN_NULLMODEM_LINE_FORCED_ON) status |= bit[line];
        if (port->line_source[line] == TARN_NULLMODEM_LINE_FORCED_OFF) status &= ~bit[line];
    }
    return status;
}

void update_modem_status(Port *port, DoneList *done)
{
    ULONG now = modem_status_of(port), changed = now ^ port->modem_status, events = 0;
    port->modem_status = now;
    if (changed & SERIAL_CTS_STATE) events |= SERIAL_EV_CTS;
    if (changed & SERIAL_DSR_STATE) events |= SERIAL_EV_DSR;
    if (changed & SERIAL_RI_STATE) events |= SERIAL_EV_RING;
    if (changed & SERIAL_DCD_STATE) events |= SERIAL_EV_RLSD;
    raise_events(port, events, done);
}

void deliver(Port *to, const UCHAR *data, ULONG count, LONGLONG now, DoneList *done)
{
    ULONG events = 0, i, threshold = to->queue_size.InSize / 10 * 8, before = to->rx_count;
    if (!count || !connected(to))
        return; /* nobody listens at the other end of the cable */
    for (i = 0; i < count; i++) {
        if (to->rx_count == TARN_NULLMODEM_INPUT_QUEUE_BYTES) {
            to->errors |= SERIAL_ERROR_QUEUEOVERRUN;
            events |= SERIAL_EV_ERR;
            continue;
        }
        to->rx[(to->rx_head + to->rx_count) % TARN_NULLMODEM_INPUT_QUEUE_BYTES] = data[i];
        to->rx_count++;
        to->bytes_received++;
        events |= SERIAL_EV_RXCHAR;
        if (data[i] == to->chars.EventChar)
            events |= SERIAL_EV_RXFLAG;
    }
    if (threshold && before < threshold && to->rx_count >= threshold)
        events |= SERIAL_EV_RX80FULL;
    to->last_rx_time = now;
    raise_events(to, events, done);
}

static BOOLEAN output_held(const Port *port)
{
    ULONG shake = port->hand_flow.ControlHandShake, status = modem_status_of(port);
    return ((shake & SERIAL_CTS_HANDSHAKE) && !(status & SERIAL_CTS_STATE))
        || ((shake & SERIAL_DSR_HANDSHAKE) && !(status & SERIAL_DSR_STATE))
        || ((shake & SERIAL_DCD_HANDSHAKE) && !(status & SERIAL_DCD_STATE));
}

static LONGLONG byte_ticks(const Port *port)
{
    LONGLONG ticks = 10LL * 10000000LL / (port->baud_rate ? port->baud_rate : 1); /* 10 bits a byte */
    return ticks > 0 ? ticks : 1;
}

static void service_writes(Port *port, LONGLONG now, DoneList *done, LONGLONG *next)
{
    PIRP irp;
    while ((irp = peek_head(&port->writes)) != NULL) {
        ULONG n = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
        const UCHAR *data = irp_buffer(irp);
        BOOLEAN held = output_held(port);

        if (!port->write_started) {
            ULONGLONG total = (ULONGLONG)port->timeouts.WriteTotalTimeoutMultiplier * n
                            + port->timeouts.WriteTotalTimeoutConstant;
            port->write_started = TRUE;
            port->write_sent = 0;
            port->write_deadline = total ? deadline_after(now, total) : NO_DEADLINE;
            if (port->tx_ready < now)
                port->tx_ready = now;
        }
        if (held) {
            port->tx_ready = now; /* the line idles while the peer holds us */
        } else {
            ULONG upto = n;
            if (port->pacing) {
                /* bytes whose last bit left by now, and never past the write's time-out */
                LONGLONG ticks = byte_ticks(port), until = min_time(now, port->write_deadline);
                ULONGLONG ready = until >= port->tx_ready ? (ULONGLONG)((until - port->tx_ready) / ticks) : 0;
                if (ready < n - port->write_sent)
                    upto = port->write_sent + (ULONG)ready;
                port->tx_ready += (LONGLONG)(upto - port->write_sent) * ticks;
            }
            if (upto > port->write_sent) {
                deliver(port->peer, data + port->write_sent, upto - port->write_sent, now, done);
                port->bytes_sent += upto - port->write_sent;
                port->write_sent = upto;
            }
        }

        if (port->write_sent == n || now >= port->write_deadline) {
            NTSTATUS status = port->write_sent == n ? STATUS_SUCCESS : TRANSFER_TIMED_OUT;
            if (!take_irp(irp))
                return; /* being cancelled; its cancel routine reports what was sent */
            port->write_started = FALSE;
            done_add(done, irp, status, port->write_sent);
            if (IsListEmpty(&port->writes))
                raise_events(port, SERIAL_EV_TXEMPTY, done);
            continue;
        }
        *next = min_time(*next, port->write_deadline);
        if (port->pacing && !held)
            *next = min_time(*next, port->tx_ready + byte_ticks(port));
        return;
    }
}

static void start_read(Port *port, ULONG n, LONGLONG now)
{
    const SERIAL_TIMEOUTS *t = &port->timeouts;
    port->read_started = TRUE;
    port->read_start = now;
    port->read_deadline = NO_DEADLINE;
    port->read_interval = 0;
    if (t->ReadIntervalTimeout == MAXULONG_VALUE && !t->ReadTotalTimeoutMultiplier && !t->ReadTotalTimeoutConstant) {
        port->read_mode = READ_IMMEDIATE;
    } else if (t->ReadIntervalTimeout == MAXULONG_VALUE && t->ReadTotalTimeoutMultiplier == MAXULONG_VALUE
               && t->ReadTotalTimeoutConstant && t->ReadTotalTimeoutConstant != MAXULONG_VALUE) {
        port->read_mode = READ_FIRST_BYTE;
        port->read_deadline = deadline_after(now, t->ReadTotalTimeoutConstant);
    } else {
        ULONGLONG total = (ULONGLONG)t->ReadTotalTimeoutMultiplier * n + t->ReadTotalTimeoutConstant;
        port->read_mode = READ_WAIT_ALL;
        if (total)
            port->read_deadline = deadline_after(now, total);
        if (t->ReadIntervalTimeout != MAXULONG_VALUE)
            port->read_interval = t->ReadIntervalTimeout;
    }
}

static void take_input(Port *port, UCHAR *to, ULONG count)
{
    ULONG i;
    for (i = 0; i < count; i++) {
        to[i] = port->rx[port->rx_head];
        port->rx_head = (port->rx_head + 1) % TARN_NULLMODEM_INPUT_QUEUE_BYTES;
    }
    port->rx_count -= count;
}

static void service_reads(Port *port, LONGLONG now, DoneList *done, LONGLONG *next)
{
    PIRP irp;
    while ((irp = peek_head(&port->reads)) != NULL) {
        ULONG n = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
        ULONG avail = port->rx_count, take = avail;
        NTSTATUS status = STATUS_SUCCESS;
        BOOLEAN finish = FALSE;

        if (!port->read_started)
            start_read(port, n, now);
        if (avail >= n) {
            take = n;
            finish = TRUE;
        } else if (port->read_mode == READ_IMMEDIATE || (port->read_mode == READ_FIRST_BYTE && avail)) {
            finish = TRUE;
        } else if (now >= port->read_deadline) {
            finish = TRUE;
            status = TRANSFER_TIMED_OUT;
        } else if (port->read_interval && avail) {
            LONGLONG since = port->last_rx_time > port->read_start ? port->last_rx_time : port->read_start;
            LONGLONG gap_end = since + (LONGLONG)port->read_interval * TICKS_PER_MS;
            if (now >= gap_end) {
                finish = TRUE;
                status = TRANSFER_TIMED_OUT;
            } else {
                *next = min_time(*next, gap_end);
            }
        }
        if (!finish) {
            *next = min_time(*next, port->read_deadline);
            return;
        }
        if (!take_irp(irp))
            return;
        take_input(port, irp_buffer(irp), take);
        port->read_started = FALSE;
        done_add(done, irp, status, take);
    }
}

void service_all(NullModem *modem, LONGLONG now, DoneList *done, LONGLONG *next)
{
    ULONG i;
    for (i = 0; i < modem->port_count; i++)
        service_writes(modem->ports[i], now, done, next);
    for (i = 0; i < modem->port_count; i++)
        service_reads(modem->ports[i], now, done, next);
    for (i = 0; i < modem->port_count; i++)
        service_contender(modem->ports[i], now, done, next);
}

void reset_settings(Port *port)
{
    port->baud_rate = 9600;
    port->line_control.WordLength = 8;
    port->line_control.Parity = NO_PARITY;
    port->line_control.StopBits = STOP_BIT_1;
    /* a fresh port raises DTR and RTS, as Windows' own serial driver does */
    port->hand_flow.ControlHandShake = SERIAL_DTR_CONTROL;
    port->hand_flow.FlowReplace = SERIAL_RTS_CONTROL;
    port->hand_flow.XonLimit = 2048;
    port->hand_flow.XoffLimit = 512;
    RtlZeroMemory(&port->chars, sizeof port->chars);
    port->chars.XonChar = 0x11;
    port->chars.XoffChar = 0x13;
    RtlZeroMemory(&port->timeouts, sizeof port->timeouts);
    port->queue_size.InSize = 4096;
    port->queue_size.OutSize = 4096;
    port->dtr = TRUE;
    port->rts = TRUE;
    port->break_on = FALSE;
    port->rx_head = port->rx_count = 0;
    port->errors = 0;
    port->wait_mask = port->history = 0;
    port->read_started = port->write_started = FALSE;
}

void detach(Port *port, DoneList *done, NTSTATUS status)
{
    fail_all(&port->reads, done, status);
    fail_all(&port->writes, done, status);
    fail_all(&port->waits, done, status);
    port->read_started = port->write_started = FALSE;
    port->open_file = NULL;
    port->dtr = port->rts = port->break_on = FALSE;
    port->rx_head = port->rx_count = 0;
    port->wait_mask = port->history = 0;
    update_modem_status(port->peer, done);
}

/* Whether a request of this handle may reach the port: only the port's one open
 * handle may; others were refused at open, or went stale when the port was unplugged. */
static NTSTATUS queue_transfer(PDEVICE_OBJECT device, PIRP irp, ULONG kind)
{
    Port *port = device->DeviceExtension;
    DoneList done;
    NTSTATUS status;
    KIRQL irql;

    if (port->is_control)
        return complete_now(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    done_init(&done);
    KeAcquireSpinLock(&port->modem->lock, &irql);
    status = handle_status(port, irp, &done);
    if (status != STATUS_PENDING)
        count_request(port, kind);
    if (status == STATUS_SUCCESS && !take_fault(port, kind, &status))
        status = queue_request(kind == TARN_NULLMODEM_REQ_READ ? &port->reads : &port->writes, irp);
    if (status == STATUS_PENDING)
        kick(port->modem, &done);
    KeReleaseSpinLock(&port->modem->lock, irql);
    done_complete(&done);
    if (status != STATUS_PENDING)
        return complete_now(irp, status, 0);
    timer_wake(port->modem);
    return STATUS_PENDING;
}

NTSTATUS NTAPI dispatch_read(PDEVICE_OBJECT device, PIRP irp)
{
    return queue_transfer(device, irp, TARN_NULLMODEM_REQ_READ);
}

NTSTATUS NTAPI dispatch_write(PDEVICE_OBJECT device, PIRP irp)
{
    return queue_transfer(device, irp, TARN_NULLMODEM_REQ_WRITE);
}
