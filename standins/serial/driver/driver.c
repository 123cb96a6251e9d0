/* tarn_nullmodem.sys: pairs of serial ports wired as null-modem cables, and a
 * control device.  Entry, unload, devices and the dispatch table. */
#include "nullmodem.h"

NullModemDriver g_nm;

NTSTATUS nm_complete_now(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NullModemPort *nm_find_port(ULONG number)
{
    ULONG i;
    for (i = 0; i < g_nm.port_count; i++)
        if (g_nm.ports[i].number == number)
            return &g_nm.ports[i];
    return NULL;
}

void nm_kick(NullModemDoneList *done)
{
    LONGLONG next = NM_NO_DEADLINE;
    nm_service_all(nm_now(), done, &next);
}

/* Wine does not wait for the driver's answer to an open, so CreateFile succeeds
 * whatever happens here: a refused handle gets its verdict on every request. */
static NTSTATUS OpenPort(NullModemPort *port, PIRP irp)
{
    NullModemDoneList done;
    NTSTATUS status;
    KIRQL irql;

    nm_done_init(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    nm_count(port, TARN_NULLMODEM_REQ_CREATE);
    status = nm_claim(port, irp, &done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    nm_complete_done(&done);
    return nm_complete_now(irp, status, 0);
}

static NTSTATUS ClosePort(NullModemPort *port, PIRP irp)
{
    NullModemDoneList done;
    LIST_ENTRY granted;
    KIRQL irql;

    nm_done_init(&done);
    InitializeListHead(&granted);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    nm_count(port, TARN_NULLMODEM_REQ_CLOSE);
    nm_release(port, nm_irp_file(irp), &done, &granted);
    nm_kick(&done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    nm_complete_done(&done);
    nm_redispatch(port, &granted);
    nm_wake_timer();
    return nm_complete_now(irp, STATUS_SUCCESS, 0);
}

void nm_show_port(NullModemPort *port, BOOLEAN present)
{
    if (present && !port->linked) {
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, port->device_name);
        RtlInitUnicodeString(&link, port->link_name);
        port->linked = NT_SUCCESS(IoCreateSymbolicLink(&link, &name));
    } else if (!present && port->linked) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, port->link_name);
        IoDeleteSymbolicLink(&link);
        port->linked = FALSE;
    }
    nm_publish_port(port, present);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    NullModemDeviceExtension *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return nm_complete_now(irp, STATUS_SUCCESS, 0);
    return OpenPort(ext->port, irp);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    NullModemDeviceExtension *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return nm_complete_now(irp, STATUS_SUCCESS, 0);
    return ClosePort(ext->port, irp);
}

static NTSTATUS NTAPI DispatchSuccess(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return nm_complete_now(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchIoctl(PDEVICE_OBJECT device, PIRP irp)
{
    NullModemDeviceExtension *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return nm_control_ioctl(irp);
    return nm_port_ioctl(ext->port, irp);
}

static NTSTATUS CreateNamedDevice(PDRIVER_OBJECT driver, const WCHAR *device_name, const WCHAR *link_name,
                                  DEVICE_TYPE type, NullModemPort *port, PDEVICE_OBJECT *device, BOOLEAN *linked)
{
    UNICODE_STRING name, link;
    NullModemDeviceExtension *ext;
    NTSTATUS status;

    RtlInitUnicodeString(&name, device_name);
    RtlInitUnicodeString(&link, link_name);
    status = IoCreateDevice(driver, sizeof(NullModemDeviceExtension), &name, type, 0, FALSE, device);
    if (!NT_SUCCESS(status))
        return status;
    ext = (*device)->DeviceExtension;
    ext->kind = port ? NM_DEVICE_PORT : NM_DEVICE_CONTROL;
    ext->port = port;
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&link, &name);
    *linked = NT_SUCCESS(status);
    return status;
}

static void DeleteNamedDevice(PDEVICE_OBJECT *device, const WCHAR *link_name, BOOLEAN *linked)
{
    UNICODE_STRING link;
    if (*linked) {
        RtlInitUnicodeString(&link, link_name);
        IoDeleteSymbolicLink(&link);
        *linked = FALSE;
    }
    if (*device) {
        IoDeleteDevice(*device);
        *device = NULL;
    }
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    NullModemDoneList done;
    KIRQL irql;
    ULONG i;
    UNREFERENCED_PARAMETER(driver);

    nm_stop_timer_thread();
    nm_done_init(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    for (i = 0; i < g_nm.port_count; i++) {
        nm_refuse_contender(&g_nm.ports[i], STATUS_CANCELLED, &done);
        if (g_nm.ports[i].open_file)
            nm_detach(&g_nm.ports[i], &done, STATUS_CANCELLED);
    }
    KeReleaseSpinLock(&g_nm.lock, irql);
    nm_complete_done(&done);

    for (i = 0; i < g_nm.port_count; i++) {
        NullModemPort *port = &g_nm.ports[i];
        nm_publish_port(port, FALSE);
        DeleteNamedDevice(&port->device, port->link_name, &port->linked);
        if (port->rx)
            ExFreePoolWithTag(port->rx, NM_POOL_TAG);
        port->rx = NULL;
    }
    DeleteNamedDevice(&g_nm.control, L"\\DosDevices\\TarnNullModem", &g_nm.control_linked);
    g_nm.port_count = 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    ULONG pairs, first, i;
    NTSTATUS status = STATUS_SUCCESS;

    RtlZeroMemory(&g_nm, sizeof g_nm);
    KeInitializeSpinLock(&g_nm.lock);
    nm_read_parameters(registry_path, &pairs, &first);

    driver->DriverUnload = DriverUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchSuccess;
    driver->MajorFunction[IRP_MJ_READ] = nm_dispatch_read;
    driver->MajorFunction[IRP_MJ_WRITE] = nm_dispatch_write;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoctl;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = DispatchSuccess;

    g_nm.port_count = 2 * pairs;
    for (i = 0; i < g_nm.port_count; i++) {
        NullModemPort *port = &g_nm.ports[i];
        port->index = i;
        port->number = first + i;
        port->peer = &g_nm.ports[i ^ 1];
        port->plugged = TRUE;
        InitializeListHead(&port->reads);
        InitializeListHead(&port->writes);
        InitializeListHead(&port->waits);
        InitializeListHead(&port->parked);
        nm_reset_settings(port);
        port->dtr = port->rts = FALSE;
        nm_format_name(port->device_name, 48, L"\\Device\\TarnNullModem", i);
        nm_format_name(port->link_name, 32, L"\\DosDevices\\COM", port->number);
        nm_format_name(port->com_name, 16, L"COM", port->number);
        port->rx = ExAllocatePoolWithTag(NonPagedPool, TARN_NULLMODEM_INPUT_QUEUE_BYTES, NM_POOL_TAG);
        status = port->rx ? CreateNamedDevice(driver, port->device_name, port->link_name, FILE_DEVICE_SERIAL_PORT,
                                              port, &port->device, &port->linked)
                          : STATUS_INSUFFICIENT_RESOURCES;
        if (!NT_SUCCESS(status))
            break;
        nm_publish_port(port, TRUE);
    }
    if (NT_SUCCESS(status))
        status = CreateNamedDevice(driver, L"\\Device\\TarnNullModemControl", L"\\DosDevices\\TarnNullModem",
                                   FILE_DEVICE_UNKNOWN, NULL, &g_nm.control, &g_nm.control_linked);
    if (NT_SUCCESS(status))
        status = nm_start_timer_thread(); /* last: it walks the ports */
    if (!NT_SUCCESS(status)) {
        DriverUnload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
