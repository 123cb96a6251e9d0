/* The cable: bytes, lines and events between the two ports of a pair, and the
 * read and write requests with their time-outs. */
#include "nullmodem.h"

#define MAXULONG_VALUE 0xFFFFFFFFUL

static LONGLONG MinTime(LONGLONG a, LONGLONG b) { return a < b ? a : b; }

/* A time-out of `ms` from `now`; beyond a thousand years it never comes. */
static LONGLONG After(LONGLONG now, ULONGLONG ms)
{
    return ms < 30000000000000ULL ? now + (LONGLONG)ms * NM_TICKS_PER_MS : NM_NO_DEADLINE;
}

void NmRaiseEvents(NM_PORT *port, ULONG events, NM_DONE_LIST *done)
{
    PIRP wait;
    if (!port->openFile)
        return;
    events &= port->waitMask;
    if (!events)
        return;
    wait = NmPeekHead(&port->waits);
    if (wait && NmTakeIrp(wait)) {
        *(ULONG *)NmIrpBuffer(wait) = port->history | events;
        port->history = 0;
        NmFinish(done, wait, STATUS_SUCCESS, sizeof(ULONG));
    } else {
        port->history |= events; /* remembered for the next wait */
    }
}

static BOOLEAN Connected(const NM_PORT *port)
{
    return port->openFile && port->plugged;
}

ULONG NmModemStatus(const NM_PORT *port)
{
    static const ULONG bit[NULLMODEM_LINE_COUNT] = { SERIAL_CTS_STATE, SERIAL_DSR_STATE, SERIAL_RI_STATE, SERIAL_DCD_STATE };
    const NM_PORT *peer = port->peer;
    ULONG status = 0, line;
    if (port->plugged && Connected(peer)) {
        if (peer->rts) status |= SERIAL_CTS_STATE;
        if (peer->dtr) status |= SERIAL_DSR_STATE | SERIAL_DCD_STATE;
    }
    for (line = 0; line < NULLMODEM_LINE_COUNT; line++) {
        if (port->lineSource[line] == NULLMODEM_LINE_FORCED_ON) status |= bit[line];
        if (port->lineSource[line] == NULLMODEM_LINE_FORCED_OFF) status &= ~bit[line];
    }
    return status;
}

void NmUpdateModemStatus(NM_PORT *port, NM_DONE_LIST *done)
{
    ULONG now = NmModemStatus(port), changed = now ^ port->modemStatus, events = 0;
    port->modemStatus = now;
    if (changed & SERIAL_CTS_STATE) events |= SERIAL_EV_CTS;
    if (changed & SERIAL_DSR_STATE) events |= SERIAL_EV_DSR;
    if (changed & SERIAL_RI_STATE) events |= SERIAL_EV_RING;
    if (changed & SERIAL_DCD_STATE) events |= SERIAL_EV_RLSD;
    NmRaiseEvents(port, events, done);
}

void NmDeliver(NM_PORT *to, const UCHAR *data, ULONG count, LONGLONG now, NM_DONE_LIST *done)
{
    ULONG events = 0, i, threshold = to->queueSize.InSize / 10 * 8, before = to->rxCount;
    if (!count || !Connected(to))
        return; /* nobody listens at the other end of the cable */
    for (i = 0; i < count; i++) {
        if (to->rxCount == NULLMODEM_INPUT_QUEUE_BYTES) {
            to->errors |= SERIAL_ERROR_QUEUEOVERRUN;
            events |= SERIAL_EV_ERR;
            continue;
        }
        to->rx[(to->rxHead + to->rxCount) % NULLMODEM_INPUT_QUEUE_BYTES] = data[i];
        to->rxCount++;
        to->bytesReceived++;
        events |= SERIAL_EV_RXCHAR;
        if (data[i] == to->chars.EventChar)
            events |= SERIAL_EV_RXFLAG;
    }
    if (threshold && before < threshold && to->rxCount >= threshold)
        events |= SERIAL_EV_RX80FULL;
    to->lastRxTime = now;
    NmRaiseEvents(to, events, done);
}

static BOOLEAN OutputHeld(const NM_PORT *port)
{
    ULONG shake = port->handFlow.ControlHandShake, status = NmModemStatus(port);
    return ((shake & SERIAL_CTS_HANDSHAKE) && !(status & SERIAL_CTS_STATE))
        || ((shake & SERIAL_DSR_HANDSHAKE) && !(status & SERIAL_DSR_STATE))
        || ((shake & SERIAL_DCD_HANDSHAKE) && !(status & SERIAL_DCD_STATE));
}

static LONGLONG ByteTicks(const NM_PORT *port)
{
    LONGLONG ticks = 10LL * 10000000LL / (port->baudRate ? port->baudRate : 1); /* 10 bits a byte */
    return ticks > 0 ? ticks : 1;
}

static void ServiceWrites(NM_PORT *port, LONGLONG now, NM_DONE_LIST *done, LONGLONG *next)
{
    PIRP irp;
    while ((irp = NmPeekHead(&port->writes)) != NULL) {
        ULONG n = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
        const UCHAR *data = NmIrpBuffer(irp);
        BOOLEAN held = OutputHeld(port);

        if (!port->writeStarted) {
            ULONGLONG total = (ULONGLONG)port->timeouts.WriteTotalTimeoutMultiplier * n
                            + port->timeouts.WriteTotalTimeoutConstant;
            port->writeStarted = TRUE;
            port->writeSent = 0;
            port->writeDeadline = total ? After(now, total) : NM_NO_DEADLINE;
            if (port->txReady < now)
                port->txReady = now;
        }
        if (held) {
            port->txReady = now; /* the line idles while the peer holds us */
        } else {
            ULONG upto = n;
            if (port->pacing) {
                /* bytes whose last bit left by now, and never past the write's time-out */
                LONGLONG ticks = ByteTicks(port), until = MinTime(now, port->writeDeadline);
                ULONGLONG ready = until >= port->txReady ? (ULONGLONG)((until - port->txReady) / ticks) : 0;
                if (ready < n - port->writeSent)
                    upto = port->writeSent + (ULONG)ready;
                port->txReady += (LONGLONG)(upto - port->writeSent) * ticks;
            }
            if (upto > port->writeSent) {
                NmDeliver(port->peer, data + port->writeSent, upto - port->writeSent, now, done);
                port->bytesSent += upto - port->writeSent;
                port->writeSent = upto;
            }
        }

        if (port->writeSent == n || now >= port->writeDeadline) {
            NTSTATUS status = port->writeSent == n ? STATUS_SUCCESS : NM_STATUS_TIMED_OUT;
            if (!NmTakeIrp(irp))
                return; /* being cancelled; its cancel routine reports what was sent */
            port->writeStarted = FALSE;
            NmFinish(done, irp, status, port->writeSent);
            if (IsListEmpty(&port->writes))
                NmRaiseEvents(port, SERIAL_EV_TXEMPTY, done);
            continue;
        }
        *next = MinTime(*next, port->writeDeadline);
        if (port->pacing && !held)
            *next = MinTime(*next, port->txReady + ByteTicks(port));
        return;
    }
}

static void StartRead(NM_PORT *port, ULONG n, LONGLONG now)
{
    const SERIAL_TIMEOUTS *t = &port->timeouts;
    port->readStarted = TRUE;
    port->readStart = now;
    port->readDeadline = NM_NO_DEADLINE;
    port->readInterval = 0;
    if (t->ReadIntervalTimeout == MAXULONG_VALUE && !t->ReadTotalTimeoutMultiplier && !t->ReadTotalTimeoutConstant) {
        port->readMode = NM_READ_IMMEDIATE;
    } else if (t->ReadIntervalTimeout == MAXULONG_VALUE && t->ReadTotalTimeoutMultiplier == MAXULONG_VALUE
               && t->ReadTotalTimeoutConstant && t->ReadTotalTimeoutConstant != MAXULONG_VALUE) {
        port->readMode = NM_READ_FIRST_BYTE;
        port->readDeadline = After(now, t->ReadTotalTimeoutConstant);
    } else {
        ULONGLONG total = (ULONGLONG)t->ReadTotalTimeoutMultiplier * n + t->ReadTotalTimeoutConstant;
        port->readMode = NM_READ_WAIT_ALL;
        if (total)
            port->readDeadline = After(now, total);
        if (t->ReadIntervalTimeout != MAXULONG_VALUE)
            port->readInterval = t->ReadIntervalTimeout;
    }
}

static void TakeInput(NM_PORT *port, UCHAR *to, ULONG count)
{
    ULONG i;
    for (i = 0; i < count; i++) {
        to[i] = port->rx[port->rxHead];
        port->rxHead = (port->rxHead + 1) % NULLMODEM_INPUT_QUEUE_BYTES;
    }
    port->rxCount -= count;
}

static void ServiceReads(NM_PORT *port, LONGLONG now, NM_DONE_LIST *done, LONGLONG *next)
{
    PIRP irp;
    while ((irp = NmPeekHead(&port->reads)) != NULL) {
        ULONG n = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
        ULONG avail = port->rxCount, take = avail;
        NTSTATUS status = STATUS_SUCCESS;
        BOOLEAN finish = FALSE;

        if (!port->readStarted)
            StartRead(port, n, now);
        if (avail >= n) {
            take = n;
            finish = TRUE;
        } else if (port->readMode == NM_READ_IMMEDIATE || (port->readMode == NM_READ_FIRST_BYTE && avail)) {
            finish = TRUE;
        } else if (now >= port->readDeadline) {
            finish = TRUE;
            status = NM_STATUS_TIMED_OUT;
        } else if (port->readInterval && avail) {
            LONGLONG since = port->lastRxTime > port->readStart ? port->lastRxTime : port->readStart;
            LONGLONG gapEnd = since + (LONGLONG)port->readInterval * NM_TICKS_PER_MS;
            if (now >= gapEnd) {
                finish = TRUE;
                status = NM_STATUS_TIMED_OUT;
            } else {
                *next = MinTime(*next, gapEnd);
            }
        }
        if (!finish) {
            *next = MinTime(*next, port->readDeadline);
            return;
        }
        if (!NmTakeIrp(irp))
            return;
        TakeInput(port, NmIrpBuffer(irp), take);
        port->readStarted = FALSE;
        NmFinish(done, irp, status, take);
    }
}

void NmServiceAll(LONGLONG now, NM_DONE_LIST *done, LONGLONG *next)
{
    ULONG i;
    for (i = 0; i < g_nm.portCount; i++)
        ServiceWrites(&g_nm.ports[i], now, done, next);
    for (i = 0; i < g_nm.portCount; i++)
        ServiceReads(&g_nm.ports[i], now, done, next);
    for (i = 0; i < g_nm.portCount; i++)
        NmServiceContender(&g_nm.ports[i], now, done, next);
}

void NmResetSettings(NM_PORT *port)
{
    port->baudRate = 9600;
    port->lineControl.WordLength = 8;
    port->lineControl.Parity = NO_PARITY;
    port->lineControl.StopBits = STOP_BIT_1;
    /* a fresh port raises DTR and RTS, as Windows' own serial driver does */
    port->handFlow.ControlHandShake = SERIAL_DTR_CONTROL;
    port->handFlow.FlowReplace = SERIAL_RTS_CONTROL;
    port->handFlow.XonLimit = 2048;
    port->handFlow.XoffLimit = 512;
    RtlZeroMemory(&port->chars, sizeof port->chars);
    port->chars.XonChar = 0x11;
    port->chars.XoffChar = 0x13;
    RtlZeroMemory(&port->timeouts, sizeof port->timeouts);
    port->queueSize.InSize = 4096;
    port->queueSize.OutSize = 4096;
    port->dtr = TRUE;
    port->rts = TRUE;
    port->breakOn = FALSE;
    port->rxHead = port->rxCount = 0;
    port->errors = 0;
    port->waitMask = port->history = 0;
    port->readStarted = port->writeStarted = FALSE;
}

void NmDetach(NM_PORT *port, NM_DONE_LIST *done, NTSTATUS status)
{
    NmFailAll(&port->reads, done, status);
    NmFailAll(&port->writes, done, status);
    NmFailAll(&port->waits, done, status);
    port->readStarted = port->writeStarted = FALSE;
    port->openFile = NULL;
    port->dtr = port->rts = port->breakOn = FALSE;
    port->rxHead = port->rxCount = 0;
    port->waitMask = port->history = 0;
    NmUpdateModemStatus(port->peer, done);
}

/* Whether a request of this handle may reach the port: only the port's one open
 * handle may; others were refused at open, or went stale when the port was unplugged. */
static NTSTATUS QueueTransfer(PDEVICE_OBJECT device, PIRP irp, ULONG kind)
{
    NM_DEVICE_EXTENSION *ext = device->DeviceExtension;
    NM_PORT *port = ext->port;
    NM_DONE_LIST done;
    NTSTATUS status;
    KIRQL irql;

    if (ext->kind != NM_DEVICE_PORT)
        return NmCompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    NmDoneInit(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    status = NmHandleStatus(port, irp, &done);
    if (status != STATUS_PENDING)
        NmCount(port, kind);
    if (status == STATUS_SUCCESS && !NmTakeFault(port, kind, &status))
        status = NmQueue(kind == NULLMODEM_REQ_READ ? &port->reads : &port->writes, irp);
    if (status == STATUS_PENDING)
        NmKick(&done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    NmCompleteDone(&done);
    if (status != STATUS_PENDING)
        return NmCompleteNow(irp, status, 0);
    NmWakeTimer();
    return STATUS_PENDING;
}

NTSTATUS NTAPI NmDispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    return QueueTransfer(device, irp, NULLMODEM_REQ_READ);
}

NTSTATUS NTAPI NmDispatchWrite(PDEVICE_OBJECT device, PIRP irp)
{
    return QueueTransfer(device, irp, NULLMODEM_REQ_WRITE);
}
