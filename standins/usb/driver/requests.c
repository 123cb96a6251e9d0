/*
 * How the stand-in device answers its requests.  Vendor writes store their data
 * per request code like device registers and vendor reads return it, zero-padded;
 * locks belong to the handle that took them; the main endpoint is a loopback in
 * which a read completes once all its bytes have been written.
 */
#include "standin.h"
#include "request_queue.h"

static BOOLEAN take_armed_failure_locked(UsbDevice *device, ULONG code, NTSTATUS *status)
{
    ULONG i;
    for (i = 0; i < ARMED_FAILURES; ++i) {
        ArmedFailure *failure = &device->failures[i];
        if (failure->count && (failure->code == TARN_USB_ANY_REQUEST || failure->code == code)) {
            --failure->count;
            *status = failure->status;
            return TRUE;
        }
    }
    return FALSE;
}

static ULONG vendor_code(const UCHAR *block)
{
    TarnUsbRequestBlock request;
    RtlCopyMemory(&request, block, sizeof request); /* the buffer holds it unaligned */
    return request.request;
}

static NTSTATUS vendor_write_locked(UsbDevice *device, const UCHAR *in, ULONG in_length, ULONG out_length)
{
    VendorRegister *reg;
    ULONG code, data_length;
    if (in_length < TARN_USB_REQUEST_BLOCK_SIZE || out_length != 0)
        return STATUS_INVALID_PARAMETER;
    data_length = in_length - TARN_USB_REQUEST_BLOCK_SIZE;
    code = vendor_code(in);
    if (data_length > TARN_USB_MAX_VENDOR_DATA || code >= VENDOR_CODES)
        return STATUS_INVALID_PARAMETER;
    reg = device->registers[code];
    if (!reg) {
        reg = ExAllocatePoolWithTag(NonPagedPool, sizeof *reg, TAG_STANDIN);
        if (!reg)
            return STATUS_INSUFFICIENT_RESOURCES;
        device->registers[code] = reg;
    }
    reg->length = data_length;
    RtlCopyMemory(reg->data, in + TARN_USB_REQUEST_BLOCK_SIZE, data_length);
    return STATUS_SUCCESS;
}

static NTSTATUS vendor_read_locked(UsbDevice *device, UCHAR *buffer, ULONG in_length, ULONG out_length,
                                   ULONG_PTR *information)
{
    const VendorRegister *reg;
    ULONG code, length, stored;
    if (in_length != TARN_USB_REQUEST_BLOCK_SIZE || out_length > TARN_USB_MAX_VENDOR_DATA)
        return STATUS_INVALID_PARAMETER;
    code = vendor_code(buffer); /* the block and the answer share the buffer */
    if (code >= VENDOR_CODES)
        return STATUS_INVALID_PARAMETER;
    length = out_length;
    if (device->short_read_armed && device->short_read_bytes < length) {
        device->short_read_armed = FALSE;
        length = device->short_read_bytes;
    }
    reg = device->registers[code];
    stored = reg ? min(reg->length, length) : 0;
    if (stored)
        RtlCopyMemory(buffer, reg->data, stored);
    RtlZeroMemory(buffer + stored, length - stored);
    *information = length;
    return STATUS_SUCCESS;
}

static NTSTATUS lock_type_of(const UCHAR *in, ULONG in_length, ULONG *type)
{
    if (in_length != 1 || in[0] >= TARN_USB_LOCK_TYPES)
        return STATUS_INVALID_PARAMETER;
    *type = in[0];
    return STATUS_SUCCESS;
}

static NTSTATUS lock_request_locked(UsbDevice *device, OpenFile *file, ULONG code, UCHAR *buffer,
                                    ULONG in_length, ULONG out_length, ULONG_PTR *information)
{
    ULONG type;
    OpenFile **holder;
    NTSTATUS status = lock_type_of(buffer, in_length, &type);
    if (!NT_SUCCESS(status))
        return status;
    holder = &device->lock_holders[type];
    switch (code) {
    case TARN_USB_LOCK:
        if (out_length != 0)
            return STATUS_INVALID_PARAMETER;
        if (*holder && *holder != file)
            return STATUS_DEVICE_BUSY;
        *holder = file;
        return STATUS_SUCCESS;
    case TARN_USB_UNLOCK:
        if (out_length != 0)
            return STATUS_INVALID_PARAMETER;
        if (!*holder)
            return STATUS_NOT_LOCKED;
        if (*holder != file)
            return STATUS_ACCESS_DENIED;
        *holder = NULL;
        return STATUS_SUCCESS;
    default: /* TARN_USB_QUERY_LOCK */
        if (out_length < 1)
            return STATUS_BUFFER_TOO_SMALL;
        buffer[0] = !*holder ? TARN_USB_LOCK_FREE
                  : *holder == file ? TARN_USB_LOCK_HELD_BY_YOU : TARN_USB_LOCK_HELD_BY_OTHER;
        *information = 1;
        return STATUS_SUCCESS;
    }
}

/* Hands the loopback's bytes to the waiting reads, in order, while the first
   one's bytes are all there. */
static void serve_pending_reads_locked(UsbDevice *device, LIST_ENTRY *served)
{
    PIRP irp;
    while ((irp = first_queued(&device->pending_reads)) != NULL) {
        ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
        if (length > device->loopback.count)
            break;
        if (!unpark_locked(irp))
            continue; /* being cancelled */
        loopback_take_locked(&device->loopback, irp->AssociatedIrp.SystemBuffer, length);
        irp->IoStatus.Information = length;
        InsertTailList(served, &irp->Tail.Overlay.ListEntry);
    }
}

static void complete_served(UsbDevice *device, LIST_ENTRY *served)
{
    while (!IsListEmpty(served)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(served), IRP, Tail.Overlay.ListEntry);
        complete_request(device, irp, STATUS_SUCCESS, irp->IoStatus.Information);
    }
}

/* Carries out one request; completes it, or parks it and returns STATUS_PENDING. */
NTSTATUS carry_out_request(UsbDevice *device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    OpenFile *file = irp_file(irp);
    ULONG code = request_code(stack);
    UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG_PTR information = 0;
    NTSTATUS status;
    BOOLEAN marked_pending = FALSE;
    LIST_ENTRY taken;
    KIRQL irql;

    InitializeListHead(&taken);
    KeAcquireSpinLock(&device->standin->lock, &irql);
    if (file->closed) {
        status = STATUS_CANCELLED; /* delayed past the end of its handle */
    } else if (!device->plugged || file->generation != device->generation) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (take_armed_failure_locked(device, code, &status)) {
        /* injected failure: nothing happens */
    } else switch (code) {
    case TARN_USB_VENDOR_WRITE:
        status = vendor_write_locked(device, buffer, in_length, out_length);
        break;
    case TARN_USB_VENDOR_READ:
        status = vendor_read_locked(device, buffer, in_length, out_length, &information);
        break;
    case TARN_USB_LOCK:
    case TARN_USB_UNLOCK:
    case TARN_USB_QUERY_LOCK:
        status = lock_request_locked(device, file, code, buffer, in_length, out_length, &information);
        break;
    case TARN_USB_RESET_IN:
    case TARN_USB_RESET_OUT:
        if (in_length != 0 || out_length != 0) {
            status = STATUS_INVALID_PARAMETER;
        } else if (code == TARN_USB_RESET_IN) {
            ++device->resets_in; /* aborts the reads waiting on the pipe */
            unpark_all_locked(&device->pending_reads, NULL, &taken);
            status = STATUS_SUCCESS;
        } else {
            ++device->resets_out; /* drops the bytes not yet read back */
            loopback_clear_locked(&device->loopback);
            status = STATUS_SUCCESS;
        }
        break;
    case TARN_USB_BULK_WRITE:
        if (!loopback_put_locked(&device->loopback, buffer, stack->Parameters.Write.Length)) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            information = stack->Parameters.Write.Length;
            serve_pending_reads_locked(device, &taken);
            status = STATUS_SUCCESS;
        }
        break;
    case TARN_USB_BULK_READ:
        information = stack->Parameters.Read.Length;
        if (IsListEmpty(&device->pending_reads) && information <= device->loopback.count) {
            loopback_take_locked(&device->loopback, buffer, (ULONG)information);
            status = STATUS_SUCCESS;
        } else if (park_request_locked(&device->pending_reads, irp)) {
            KeReleaseSpinLock(&device->standin->lock, irql);
            return STATUS_PENDING;
        } else {
            marked_pending = TRUE; /* cancelled before it was parked */
            information = 0;
            status = STATUS_CANCELLED;
        }
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    KeReleaseSpinLock(&device->standin->lock, irql);

    if (code == TARN_USB_RESET_IN)
        complete_taken(device, &taken, STATUS_CANCELLED);
    else
        complete_served(device, &taken);
    complete_request(device, irp, status, NT_SUCCESS(status) ? information : 0);
    return marked_pending ? STATUS_PENDING : status;
}

void release_locks_of_locked(UsbDevice *device, OpenFile *file)
{
    ULONG i;
    for (i = 0; i < TARN_USB_LOCK_TYPES; ++i)
        if (device->lock_holders[i] == file)
            device->lock_holders[i] = NULL;
}

/* What a power cycle loses. */
void forget_device_state_locked(UsbDevice *device)
{
    ULONG i;
    for (i = 0; i < VENDOR_CODES; ++i) {
        if (device->registers[i])
            ExFreePoolWithTag(device->registers[i], TAG_STANDIN);
        device->registers[i] = NULL;
    }
    for (i = 0; i < TARN_USB_LOCK_TYPES; ++i)
        device->lock_holders[i] = NULL;
    loopback_clear_locked(&device->loopback);
}
