/* tarn_nullmodem.sys: pairs of serial ports wired as null-modem cables, and a
 * control device.  Entry, unload, devices and the dispatch table. */
#include "nullmodem.h"

Port *find_port(NullModem *modem, ULONG number)
{
    ULONG i;
    for (i = 0; i < modem->port_count; i++)
        if (modem->ports[i]->number == number)
            return modem->ports[i];
    return NULL;
}

void kick(NullModem *modem, DoneList *done)
{
    LONGLONG next = NO_DEADLINE;
    service_all(modem, clock_now(), done, &next);
}

void kick_and_unlock(NullModem *modem, DoneList *done, KIRQL irql)
{
    kick(modem, done);
    KeReleaseSpinLock(&modem->lock, irql);
    done_complete(done);
    timer_wake(modem);
}

/* Wine does not wait for the driver's answer to an open, so CreateFile succeeds
 * whatever happens here: a refused handle gets its verdict on every request. */
static NTSTATUS open_port(Port *port, PIRP irp)
{
    DoneList done;
    NTSTATUS status;
    KIRQL irql;

    done_init(&done);
    KeAcquireSpinLock(&port->modem->lock, &irql);
    count_request(port, TARN_NULLMODEM_REQ_CREATE);
    status = claim_port(port, irp, &done);
    KeReleaseSpinLock(&port->modem->lock, irql);
    done_complete(&done);
    return complete_now(irp, status, 0);
}

static NTSTATUS close_port(Port *port, PIRP irp)
{
    DoneList done;
    LIST_ENTRY granted;
    KIRQL irql;

    done_init(&done);
    InitializeListHead(&granted);
    KeAcquireSpinLock(&port->modem->lock, &irql);
    count_request(port, TARN_NULLMODEM_REQ_CLOSE);
    release_port(port, irp_file(irp), &done, &granted);
    kick(port->modem, &done);
    KeReleaseSpinLock(&port->modem->lock, irql);
    done_complete(&done);
    redispatch(port, &granted);
    timer_wake(port->modem);
    return complete_now(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS set_link(const WCHAR *device_name, const WCHAR *link_name, BOOLEAN *linked)
{
    UNICODE_STRING name, link;
    NTSTATUS status;
    RtlInitUnicodeString(&name, device_name);
    RtlInitUnicodeString(&link, link_name);
    status = set_standin_link(&link, &name, TRUE);
    *linked = NT_SUCCESS(status);
    return status;
}

static void remove_link(const WCHAR *link_name, BOOLEAN *linked)
{
    UNICODE_STRING link;
    if (*linked) {
        RtlInitUnicodeString(&link, link_name);
        set_standin_link(&link, NULL, FALSE);
        *linked = FALSE;
    }
}

void show_port(Port *port, BOOLEAN present)
{
    if (present && !port->linked)
        set_link(port->device_name, port->link_name, &port->linked);
    else if (!present)
        remove_link(port->link_name, &port->linked);
    publish_port(port, present);
}

static NTSTATUS NTAPI dispatch_create(PDEVICE_OBJECT device, PIRP irp)
{
    Port *port = device->DeviceExtension;
    if (port->is_control)
        return complete_now(irp, STATUS_SUCCESS, 0);
    return open_port(port, irp);
}

static NTSTATUS NTAPI dispatch_close(PDEVICE_OBJECT device, PIRP irp)
{
    Port *port = device->DeviceExtension;
    if (port->is_control)
        return complete_now(irp, STATUS_SUCCESS, 0);
    return close_port(port, irp);
}

static NTSTATUS NTAPI dispatch_success(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return complete_now(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_ioctl(PDEVICE_OBJECT device, PIRP irp)
{
    Port *port = device->DeviceExtension;
    if (port->is_control)
        return control_device_request((NullModem *)port, irp);
    return port_request(port, irp);
}

/* A buffered-I/O device object, its extension zeroed. */
static NTSTATUS create_device_object(PDRIVER_OBJECT driver, const WCHAR *device_name, DEVICE_TYPE type,
                                     ULONG extension_size, PDEVICE_OBJECT *device)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, device_name);
    return create_standin_device(driver, &name, type, extension_size, device);
}

/* A port of the cable, not yet wired to its peer nor named for clients. */
static NTSTATUS create_port(NullModem *modem, PDRIVER_OBJECT driver, ULONG index, ULONG number)
{
    UCHAR *rx = ExAllocatePoolWithTag(NonPagedPool, TARN_NULLMODEM_INPUT_QUEUE_BYTES, TAG_NULLMODEM);
    WCHAR device_name[48];
    PDEVICE_OBJECT device;
    Port *port;
    NTSTATUS status;

    if (!rx)
        return STATUS_INSUFFICIENT_RESOURCES;
    format_name(device_name, 48, L"\\Device\\TarnNullModem", index);
    status = create_device_object(driver, device_name, FILE_DEVICE_SERIAL_PORT, sizeof(Port), &device);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(rx, TAG_NULLMODEM);
        return status;
    }
    port = device->DeviceExtension;
    port->rx = rx;
    port->modem = modem;
    port->device = device;
    port->index = index;
    port->number = number;
    port->plugged = TRUE;
    InitializeListHead(&port->reads);
    InitializeListHead(&port->writes);
    InitializeListHead(&port->waits);
    InitializeListHead(&port->parked);
    reset_settings(port);
    port->dtr = port->rts = FALSE;
    RtlCopyMemory(port->device_name, device_name, sizeof device_name);
    format_name(port->link_name, 32, L"\\DosDevices\\COM", port->number);
    format_name(port->com_name, 16, L"COM", port->number);
    modem->ports[modem->port_count++] = port;
    return STATUS_SUCCESS;
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    NullModem *modem = control_extension_of(driver);
    DoneList done;
    KIRQL irql;
    ULONG i;

    if (modem) {
        timer_stop(modem);
        done_init(&done);
        KeAcquireSpinLock(&modem->lock, &irql);
        for (i = 0; i < modem->port_count; i++) {
            refuse_contender(modem->ports[i], STATUS_CANCELLED, &done);
            if (modem->ports[i]->open_file)
                detach(modem->ports[i], &done, STATUS_CANCELLED);
        }
        KeReleaseSpinLock(&modem->lock, irql);
        done_complete(&done);

        for (i = 0; i < modem->port_count; i++) {
            Port *port = modem->ports[i];
            publish_port(port, FALSE);
            remove_link(port->link_name, &port->linked);
            if (port->rx)
                ExFreePoolWithTag(port->rx, TAG_NULLMODEM);
            port->rx = NULL;
        }
        remove_link(L"\\DosDevices\\TarnNullModem", &modem->control_linked);
        modem->port_count = 0;
    }
    while (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    PDEVICE_OBJECT control;
    NullModem *modem;
    ULONG pairs, first, i;
    NTSTATUS status;

    driver->DriverUnload = driver_unload;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_success;
    driver->MajorFunction[IRP_MJ_READ] = dispatch_read;
    driver->MajorFunction[IRP_MJ_WRITE] = dispatch_write;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = dispatch_success;

    status = create_device_object(driver, L"\\Device\\TarnNullModemControl", FILE_DEVICE_UNKNOWN, sizeof(NullModem),
                                  &control);
    if (!NT_SUCCESS(status))
        return status;
    modem = control->DeviceExtension;
    modem->is_control = TRUE;
    modem->control = control;
    KeInitializeSpinLock(&modem->lock);
    read_parameters(registry_path, &pairs, &first);

    for (i = 0; i < 2 * pairs && NT_SUCCESS(status); i++)
        status = create_port(modem, driver, i, first + i);
    /* every port is wired to its peer before any of them can be opened */
    for (i = 0; i < modem->port_count && NT_SUCCESS(status); i++)
        modem->ports[i]->peer = modem->ports[i ^ 1];
    for (i = 0; i < modem->port_count && NT_SUCCESS(status); i++) {
        Port *port = modem->ports[i];
        status = set_link(port->device_name, port->link_name, &port->linked);
        if (NT_SUCCESS(status))
            publish_port(port, TRUE);
    }
    if (NT_SUCCESS(status))
        status = set_link(L"\\Device\\TarnNullModemControl", L"\\DosDevices\\TarnNullModem", &modem->control_linked);
    if (NT_SUCCESS(status))
        status = timer_start(modem); /* last: it walks the ports */
    if (!NT_SUCCESS(status)) {
        driver_unload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
