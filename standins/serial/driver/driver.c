/* tarn_nullmodem.sys: pairs of serial ports wired as null-modem cables, and a
 * control device.  Entry, unload, devices and the dispatch table. */
#include "nullmodem.h"

NM_DRIVER g_nm;

NTSTATUS NmCompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NM_PORT *NmFindPort(ULONG number)
{
    ULONG i;
    for (i = 0; i < g_nm.portCount; i++)
        if (g_nm.ports[i].number == number)
            return &g_nm.ports[i];
    return NULL;
}

void NmKick(NM_DONE_LIST *done)
{
    LONGLONG next = NM_NO_DEADLINE;
    NmServiceAll(NmNow(), done, &next);
}

/* Wine does not wait for the driver's answer to an open, so CreateFile succeeds
 * whatever happens here: a refused handle gets its verdict on every request. */
static NTSTATUS OpenPort(NM_PORT *port, PIRP irp)
{
    NM_DONE_LIST done;
    NTSTATUS status;
    KIRQL irql;

    NmDoneInit(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    NmCount(port, NULLMODEM_REQ_CREATE);
    status = NmClaim(port, irp, &done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    NmCompleteDone(&done);
    return NmCompleteNow(irp, status, 0);
}

static NTSTATUS ClosePort(NM_PORT *port, PIRP irp)
{
    NM_DONE_LIST done;
    LIST_ENTRY granted;
    KIRQL irql;

    NmDoneInit(&done);
    InitializeListHead(&granted);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    NmCount(port, NULLMODEM_REQ_CLOSE);
    NmRelease(port, NmIrpFile(irp), &done, &granted);
    NmKick(&done);
    KeReleaseSpinLock(&g_nm.lock, irql);
    NmCompleteDone(&done);
    NmRedispatch(port, &granted);
    NmWakeTimer();
    return NmCompleteNow(irp, STATUS_SUCCESS, 0);
}

void NmShowPort(NM_PORT *port, BOOLEAN present)
{
    if (present && !port->linked) {
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, port->deviceName);
        RtlInitUnicodeString(&link, port->linkName);
        port->linked = NT_SUCCESS(IoCreateSymbolicLink(&link, &name));
    } else if (!present && port->linked) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, port->linkName);
        IoDeleteSymbolicLink(&link);
        port->linked = FALSE;
    }
    NmPublishPort(port, present);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    NM_DEVICE_EXTENSION *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return NmCompleteNow(irp, STATUS_SUCCESS, 0);
    return OpenPort(ext->port, irp);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    NM_DEVICE_EXTENSION *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return NmCompleteNow(irp, STATUS_SUCCESS, 0);
    return ClosePort(ext->port, irp);
}

static NTSTATUS NTAPI DispatchSuccess(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return NmCompleteNow(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchIoctl(PDEVICE_OBJECT device, PIRP irp)
{
    NM_DEVICE_EXTENSION *ext = device->DeviceExtension;
    if (ext->kind == NM_DEVICE_CONTROL)
        return NmControlIoctl(irp);
    return NmPortIoctl(ext->port, irp);
}

static NTSTATUS CreateNamedDevice(PDRIVER_OBJECT driver, const WCHAR *deviceName, const WCHAR *linkName,
                                  DEVICE_TYPE type, NM_PORT *port, PDEVICE_OBJECT *device, BOOLEAN *linked)
{
    UNICODE_STRING name, link;
    NM_DEVICE_EXTENSION *ext;
    NTSTATUS status;

    RtlInitUnicodeString(&name, deviceName);
    RtlInitUnicodeString(&link, linkName);
    status = IoCreateDevice(driver, sizeof(NM_DEVICE_EXTENSION), &name, type, 0, FALSE, device);
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

static void DeleteNamedDevice(PDEVICE_OBJECT *device, const WCHAR *linkName, BOOLEAN *linked)
{
    UNICODE_STRING link;
    if (*linked) {
        RtlInitUnicodeString(&link, linkName);
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
    NM_DONE_LIST done;
    KIRQL irql;
    ULONG i;
    UNREFERENCED_PARAMETER(driver);

    NmStopTimerThread();
    NmDoneInit(&done);
    KeAcquireSpinLock(&g_nm.lock, &irql);
    for (i = 0; i < g_nm.portCount; i++) {
        NmRefuseContender(&g_nm.ports[i], STATUS_CANCELLED, &done);
        if (g_nm.ports[i].openFile)
            NmDetach(&g_nm.ports[i], &done, STATUS_CANCELLED);
    }
    KeReleaseSpinLock(&g_nm.lock, irql);
    NmCompleteDone(&done);

    for (i = 0; i < g_nm.portCount; i++) {
        NM_PORT *port = &g_nm.ports[i];
        NmPublishPort(port, FALSE);
        DeleteNamedDevice(&port->device, port->linkName, &port->linked);
        if (port->rx)
            ExFreePoolWithTag(port->rx, NM_POOL_TAG);
        port->rx = NULL;
    }
    DeleteNamedDevice(&g_nm.control, L"\\DosDevices\\TarnNullModem", &g_nm.controlLinked);
    g_nm.portCount = 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ULONG pairs, first, i;
    NTSTATUS status = STATUS_SUCCESS;

    RtlZeroMemory(&g_nm, sizeof g_nm);
    KeInitializeSpinLock(&g_nm.lock);
    NmReadParameters(registryPath, &pairs, &first);

    driver->DriverUnload = DriverUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchSuccess;
    driver->MajorFunction[IRP_MJ_READ] = NmDispatchRead;
    driver->MajorFunction[IRP_MJ_WRITE] = NmDispatchWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoctl;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = DispatchSuccess;

    g_nm.portCount = 2 * pairs;
    for (i = 0; i < g_nm.portCount; i++) {
        NM_PORT *port = &g_nm.ports[i];
        port->index = i;
        port->number = first + i;
        port->peer = &g_nm.ports[i ^ 1];
        port->plugged = TRUE;
        InitializeListHead(&port->reads);
        InitializeListHead(&port->writes);
        InitializeListHead(&port->waits);
        InitializeListHead(&port->parked);
        NmResetSettings(port);
        port->dtr = port->rts = FALSE;
        NmFormatName(port->deviceName, 48, L"\\Device\\TarnNullModem", i);
        NmFormatName(port->linkName, 32, L"\\DosDevices\\COM", port->number);
        NmFormatName(port->comName, 16, L"COM", port->number);
        port->rx = ExAllocatePoolWithTag(NonPagedPool, NULLMODEM_INPUT_QUEUE_BYTES, NM_POOL_TAG);
        status = port->rx ? CreateNamedDevice(driver, port->deviceName, port->linkName, FILE_DEVICE_SERIAL_PORT,
                                              port, &port->device, &port->linked)
                          : STATUS_INSUFFICIENT_RESOURCES;
        if (!NT_SUCCESS(status))
            break;
        NmPublishPort(port, TRUE);
    }
    if (NT_SUCCESS(status))
        status = CreateNamedDevice(driver, L"\\Device\\TarnNullModemControl", L"\\DosDevices\\TarnNullModem",
                                   FILE_DEVICE_UNKNOWN, NULL, &g_nm.control, &g_nm.controlLinked);
    if (NT_SUCCESS(status))
        status = NmStartTimerThread(); /* last: it walks the ports */
    if (!NT_SUCCESS(status)) {
        DriverUnload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
