/* The control device \\.\TarnUsbControl: inspects and steers the USB devices. */
#include "standin.h"

static void status_of_locked(const UsbDevice *device, TarnUsbDeviceStatus *out)
{
    ULONG i;
    RtlZeroMemory(out, sizeof *out);
    out->device = device->id;
    out->plugged = device->plugged;
    out->open_handles = device->open_handles;
    out->requests = device->requests;
    out->in_flight = device->in_flight;
    out->max_in_flight = device->max_in_flight;
    out->loopback_bytes = device->loopback.count;
    out->loopback_capacity = device->loopback.capacity;
    out->resets_in = device->resets_in;
    out->resets_out = device->resets_out;
    for (i = 0; i < TARN_USB_LOCK_TYPES; ++i)
        out->lock_holders[i] = device->lock_holders[i] ? device->lock_holders[i]->handle_id : 0;
    for (const LIST_ENTRY *entry = device->pending_reads.Flink; entry != &device->pending_reads;
         entry = entry->Flink)
        ++out->pending_reads;
}

static NTSTATUS arm_failure_locked(UsbDevice *device, const TarnUsbFailure *failure)
{
    NTSTATUS fail_with = failure->status ? failure->status : STATUS_IO_DEVICE_ERROR;
    ArmedFailure *slot = NULL;
    ULONG i;
    if (NT_SUCCESS(fail_with))
        return STATUS_INVALID_PARAMETER; /* a failure must fail */
    for (i = 0; i < ARMED_FAILURES; ++i) {
        ArmedFailure *candidate = &device->failures[i];
        if (candidate->count && candidate->code == failure->code) {
            slot = candidate; /* arming a code again replaces its entry */
            break;
        }
        if (!candidate->count && !slot)
            slot = candidate;
    }
    if (!slot)
        return STATUS_INSUFFICIENT_RESOURCES;
    slot->code = failure->code;
    slot->count = failure->count;
    slot->status = fail_with;
    return STATUS_SUCCESS;
}

static void reset_steering_locked(UsbDevice *device)
{
    device->requests = 0;
    device->max_in_flight = device->in_flight;
    device->resets_in = 0;
    device->resets_out = 0;
    RtlZeroMemory(device->failures, sizeof device->failures);
    device->delay_count = 0;
    device->short_read_armed = FALSE;
}

NTSTATUS control_device_request(Standin *standin, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void *buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG_PTR information = 0;
    NTSTATUS status = STATUS_SUCCESS;
    UsbDevice *device = NULL;
    KIRQL irql;

    /* Every request but the log and list ones names its device first. */
    if (code != TARN_USB_CONTROL_GET_LOG && code != TARN_USB_CONTROL_CLEAR_LOG && code != TARN_USB_CONTROL_LIST) {
        if (in_length < sizeof(TarnUsbDeviceId))
            status = STATUS_INVALID_PARAMETER;
        else if (!(device = find_device(standin, buffer)))
            status = STATUS_NO_SUCH_DEVICE;
    }
    if (NT_SUCCESS(status) && code == TARN_USB_CONTROL_PLUG) {
        /* Outside the lock: it changes the device's name. */
        if (in_length != sizeof(TarnUsbPlug))
            status = STATUS_INVALID_PARAMETER;
        else
            set_plugged(device, ((const TarnUsbPlug *)buffer)->plugged != 0);
        goto done;
    }

    KeAcquireSpinLock(&standin->lock, &irql);
    if (!NT_SUCCESS(status)) {
        /* answered above */
    } else switch (code) {
    case TARN_USB_CONTROL_GET_LOG:
        if (in_length != sizeof(TarnUsbLogQuery) || out_length < sizeof(TarnUsbLogHeader))
            status = STATUS_INVALID_PARAMETER;
        else
            information = log_copy_locked(&standin->log, ((const TarnUsbLogQuery *)buffer)->after_sequence,
                                          buffer, out_length);
        break;
    case TARN_USB_CONTROL_CLEAR_LOG:
        log_clear_locked(&standin->log);
        break;
    case TARN_USB_CONTROL_GET_STATUS:
        if (in_length != sizeof(TarnUsbDeviceId) || out_length < sizeof(TarnUsbDeviceStatus)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            status_of_locked(device, buffer);
            information = sizeof(TarnUsbDeviceStatus);
        }
        break;
    case TARN_USB_CONTROL_LIST: {
        ULONG i, fit = min(standin->device_count, out_length / (ULONG)sizeof(TarnUsbDeviceStatus));
        for (i = 0; i < fit; ++i)
            status_of_locked(standin->devices[i], (TarnUsbDeviceStatus *)buffer + i);
        information = fit * sizeof(TarnUsbDeviceStatus);
        if (fit < standin->device_count)
            status = STATUS_BUFFER_OVERFLOW;
        break;
    }
    case TARN_USB_CONTROL_RESET:
        if (in_length != sizeof(TarnUsbDeviceId))
            status = STATUS_INVALID_PARAMETER;
        else
            reset_steering_locked(device);
        break;
    case TARN_USB_CONTROL_FAIL:
        if (in_length != sizeof(TarnUsbFailure))
            status = STATUS_INVALID_PARAMETER;
        else
            status = arm_failure_locked(device, buffer);
        break;
    case TARN_USB_CONTROL_DELAY:
        if (in_length != sizeof(TarnUsbDelay)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            device->delay_ms = ((const TarnUsbDelay *)buffer)->milliseconds;
            device->delay_count = ((const TarnUsbDelay *)buffer)->count;
        }
        break;
    case TARN_USB_CONTROL_SHORT_READ:
        if (in_length != sizeof(TarnUsbShortRead)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            device->short_read_bytes = ((const TarnUsbShortRead *)buffer)->bytes;
            device->short_read_armed = TRUE;
        }
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    KeReleaseSpinLock(&standin->lock, irql);

done:
    return complete_now(irp, status, information);
}
