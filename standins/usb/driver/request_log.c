/* The last requests as the devices received them, for tests and the tool. */
#include "standin.h"

NTSTATUS log_init(RequestLog *log)
{
    SIZE_T bytes = sizeof(TarnUsbLogEntry) * TARN_USB_LOG_ENTRIES;
    log->entries = ExAllocatePoolWithTag(NonPagedPool, bytes, TAG_STANDIN);
    if (!log->entries)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(log->entries, bytes);
    log->next_sequence = 1;
    log->oldest_sequence = 0;
    return STATUS_SUCCESS;
}

void log_free(RequestLog *log)
{
    FREE_POOL_BLOCK(log->entries);
}

static TarnUsbLogEntry *entry_of(RequestLog *log, ULONG sequence)
{
    return &log->entries[sequence % TARN_USB_LOG_ENTRIES];
}

ULONG log_append_locked(RequestLog *log, const UsbDevice *device, ULONG handle_id, ULONG code,
                        const void *input, ULONG input_length, ULONG output_length)
{
    ULONG sequence = log->next_sequence++;
    TarnUsbLogEntry *entry = entry_of(log, sequence);
    entry->sequence = sequence;
    entry->device = device->id;
    entry->handle_id = handle_id;
    entry->code = code;
    entry->input_length = input_length;
    entry->output_length = output_length;
    entry->status = STATUS_PENDING;
    entry->information = 0;
    entry->data_length = input ? min(input_length, (ULONG)TARN_USB_LOG_DATA) : 0;
    RtlZeroMemory(entry->data, sizeof entry->data);
    if (entry->data_length)
        RtlCopyMemory(entry->data, input, entry->data_length);
    if (log->oldest_sequence == 0)
        log->oldest_sequence = sequence;
    else if (sequence - log->oldest_sequence >= TARN_USB_LOG_ENTRIES)
        log->oldest_sequence = sequence - TARN_USB_LOG_ENTRIES + 1;
    return sequence;
}

void log_complete_locked(RequestLog *log, ULONG sequence, NTSTATUS status, ULONG information)
{
    TarnUsbLogEntry *entry = entry_of(log, sequence);
    if (sequence == 0 || entry->sequence != sequence)
        return; /* already overwritten or cleared */
    entry->status = status;
    entry->information = information;
}

void log_clear_locked(RequestLog *log)
{
    RtlZeroMemory(log->entries, sizeof(TarnUsbLogEntry) * TARN_USB_LOG_ENTRIES);
    log->oldest_sequence = 0;
}

/* Writes a TarnUsbLogHeader and the entries after `after_sequence`, oldest first,
   as many as fit; returns the bytes written. */
ULONG log_copy_locked(RequestLog *log, ULONG after_sequence, void *out, ULONG out_length)
{
    TarnUsbLogHeader *header = out;
    TarnUsbLogEntry *entries = (TarnUsbLogEntry *)(header + 1);
    ULONG room = (out_length - sizeof *header) / sizeof(TarnUsbLogEntry);
    ULONG sequence, count = 0;

    header->next_sequence = log->next_sequence;
    header->oldest_sequence = log->oldest_sequence;
    if (log->oldest_sequence) {
        sequence = max(after_sequence + 1, log->oldest_sequence);
        for (; sequence != log->next_sequence && count < room; ++sequence)
            entries[count++] = *entry_of(log, sequence);
    }
    header->count = count;
    return sizeof *header + count * sizeof(TarnUsbLogEntry);
}
