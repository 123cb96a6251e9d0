/* The main endpoint's loopback buffer: a ring of bytes written and not yet read. */
#include "standin.h"

NTSTATUS loopback_init(Loopback *loopback, ULONG capacity)
{
    loopback->buffer = ExAllocatePoolWithTag(NonPagedPool, capacity, TAG_STANDIN);
    if (!loopback->buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    loopback->capacity = capacity;
    loopback->head = 0;
    loopback->count = 0;
    return STATUS_SUCCESS;
}

void loopback_free(Loopback *loopback)
{
    FREE_POOL_BLOCK(loopback->buffer);
}

/* All or nothing: FALSE if the bytes do not fit. */
BOOLEAN loopback_put_locked(Loopback *loopback, const UCHAR *data, ULONG length)
{
    ULONG tail, first;
    if (length > loopback->capacity - loopback->count)
        return FALSE;
    tail = (loopback->head + loopback->count) % loopback->capacity;
    first = min(length, loopback->capacity - tail);
    RtlCopyMemory(loopback->buffer + tail, data, first);
    RtlCopyMemory(loopback->buffer, data + first, length - first);
    loopback->count += length;
    return TRUE;
}

/* The caller has checked that `length` bytes are there. */
void loopback_take_locked(Loopback *loopback, UCHAR *data, ULONG length)
{
    ULONG first = min(length, loopback->capacity - loopback->head);
    RtlCopyMemory(data, loopback->buffer + loopback->head, first);
    RtlCopyMemory(data + first, loopback->buffer, length - first);
    loopback->head = (loopback->head + length) % loopback->capacity;
    loopback->count -= length;
}

void loopback_clear_locked(Loopback *loopback)
{
    loopback->head = 0;
    loopback->count = 0;
}
