/* Per-port request counters and injected failures. */
#include "nullmodem.h"

static BOOLEAN is_escape(ULONG kind)
{
    return kind >= TARN_NULLMODEM_REQ_SET_DTR && kind <= TARN_NULLMODEM_REQ_SET_BREAK_OFF;
}

void count_request(Port *port, ULONG kind)
{
    if (kind < TARN_NULLMODEM_REQ_COUNT)
        port->requests[kind]++;
}

BOOLEAN take_fault(Port *port, ULONG kind, NTSTATUS *status)
{
    ULONG i;
    for (i = 0; i < ARMED_FAULTS; i++) {
        ArmedFault *fault = &port->faults[i];
        ULONG target = fault->kind - 1;
        if (!fault->kind || !(target == kind || (target == TARN_NULLMODEM_REQ_ANY_ESCAPE && is_escape(kind))))
            continue;
        *status = fault->status;
        if (--fault->count == 0)
            fault->kind = 0;
        return TRUE;
    }
    return FALSE;
}
