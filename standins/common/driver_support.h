/*
 * What both stand-in drivers share: every device extension starts with a
 * ULONG is_control, TRUE only in the control device's, whose extension holds
 * the driver's whole context; and requests are completed in one place.
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

#endif
