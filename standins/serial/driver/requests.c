/* Per-port request counters and injected failures. */
#include "nullmodem.h"

static BOOLEAN IsEscape(ULONG kind)
{
    return kind >= NULLMODEM_REQ_SET_DTR && kind <= NULLMODEM_REQ_SET_BREAK_OFF;
}

void NmCount(NM_PORT *port, ULONG kind)
{
    if (kind < NULLMODEM_REQ_COUNT)
        port->requests[kind]++;
}

BOOLEAN NmTakeFault(NM_PORT *port, ULONG kind, NTSTATUS *status)
{
    ULONG i;
    for (i = 0; i < NM_MAX_FAULTS; i++) {
        NM_FAULT *fault = &port->faults[i];
        ULONG target = fault->kind - 1;
        if (!fault->kind || !(target == kind || (target == NULLMODEM_REQ_ANY_ESCAPE && IsEscape(kind))))
            continue;
        *status = fault->status;
        if (--fault->count == 0)
            fault->kind = 0;
        return TRUE;
    }
    return FALSE;
}
