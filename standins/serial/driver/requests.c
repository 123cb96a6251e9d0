/* Per-port request counters and injected failures. */
#include "nullmodem.h"

static BOOLEAN IsEscape(ULONG kind)
{
    return kind >= TARN_NULLMODEM_REQ_SET_DTR && kind <= TARN_NULLMODEM_REQ_SET_BREAK_OFF;
}

void nm_count(NullModemPort *port, ULONG kind)
{
    if (kind < TARN_NULLMODEM_REQ_COUNT)
        port->requests[kind]++;
}

BOOLEAN nm_take_fault(NullModemPort *port, ULONG kind, NTSTATUS *status)
{
    ULONG i;
    for (i = 0; i < NM_MAX_FAULTS; i++) {
        NullModemFault *fault = &port->faults[i];
        ULONG target = fault->kind - 1;
        if (!fault->kind || !(target == kind || (target == TARN_NULLMODEM_REQ_ANY_ESCAPE && IsEscape(kind))))
            continue;
        *status = fault->status;
        if (--fault->count == 0)
            fault->kind = 0;
        return TRUE;
    }
    return FALSE;
}
