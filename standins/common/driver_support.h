/*
 * What both stand-in drivers share: every device extension starts with a
 * ULONG is_control, TRUE only in the control device's, whose extension holds
 * the driver's whole context; requests are completed in one place; and
 * device objects and their links are made the same way.
 */
#ifndef TARN_STANDIN_DRIVER_SUPPORT_H
#define TARN_STANDIN_DRIVER_SUPPORT_H

#include <ntddk.h>

/* The control device's extension, or NULL before it exists. */
static inline void *control_extension_of(PDRIVER_OBJECT driver)
{
    PDEVICE_OBJECT device;
    for (device = driver->DeviceObject; device; device = device->NextDevice)
        if (*(const ULONG *)device->DeviceExtension)
            return device->DeviceExtension;
    return NULL;
}

static inline NTSTATUS complete_now(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* A buffered-I/O device object named `name`, its extension zeroed, ready for requests. */
static inline NTSTATUS create_standin_device(PDRIVER_OBJECT driver, UNICODE_STRING *name, DEVICE_TYPE type,
                                             ULONG extension_size, PDEVICE_OBJECT *device)
{
    NTSTATUS status = IoCreateDevice(driver, extension_size, name, type, 0, FALSE, device);
    if (!NT_SUCCESS(status))
        return status;
    RtlZeroMemory((*device)->DeviceExtension, extension_size);
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* Makes (present) or removes the link `link` to the device named `target`. */
static inline NTSTATUS set_standin_link(UNICODE_STRING *link, UNICODE_STRING *target, BOOLEAN present)
{
    return present ? IoCreateSymbolicLink(link, target) : IoDeleteSymbolicLink(link);
}

#endif
