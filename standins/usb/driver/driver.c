/*
 * The USB stand-in driver: creates the devices \\.\LUMOn and \\.\Q0215n (how
 * many comes from the service's Parameters key) and the control device
 * \\.\TarnUsbControl, and routes their requests.
 */
#include "standin.h"

static const WCHAR *const kind_prefixes[] = { L"LUMO", L"Q0215" };
static const WCHAR *const kind_values[] = { L"LumoDevices", L"Q0215Devices" };

/* Appends `text` to the counted string `out` of `capacity` characters. */
static void append_text(UNICODE_STRING *out, const WCHAR *text)
{
    while (*text && out->Length + sizeof(WCHAR) < out->MaximumLength) {
        out->Buffer[out->Length / sizeof(WCHAR)] = *text++;
        out->Length += sizeof(WCHAR);
    }
    out->Buffer[out->Length / sizeof(WCHAR)] = 0;
}

static void append_number(UNICODE_STRING *out, LONG number)
{
    WCHAR digits[12];
    ULONG at = 11;
    ULONG magnitude = number < 0 ? 0u - (ULONG)number : (ULONG)number;
    digits[at] = 0;
    do {
        digits[--at] = L'0' + magnitude % 10;
        magnitude /= 10;
    } while (magnitude);
    if (number < 0)
        digits[--at] = L'-';
    append_text(out, digits + at);
}

static void init_name(UNICODE_STRING *name, WCHAR *buffer, USHORT characters, const WCHAR *prefix,
                      const WCHAR *suffix)
{
    name->Buffer = buffer;
    name->Length = 0;
    name->MaximumLength = characters * sizeof(WCHAR);
    append_text(name, prefix);
    append_text(name, suffix);
}

static NTSTATUS set_link(const WCHAR *device_name, const WCHAR *link_name, BOOLEAN present)
{
    WCHAR target_buffer[48], link_buffer[48];
    UNICODE_STRING target, link;
    init_name(&target, target_buffer, 48, L"\\Device\\TarnUsb", device_name);
    init_name(&link, link_buffer, 48, L"\\DosDevices\\", link_name);
    return set_standin_link(&link, &target, present);
}

/* A buffered-I/O device object under \Device\TarnUsb<name>, its extension zeroed. */
static NTSTATUS create_device_object(PDRIVER_OBJECT driver, const WCHAR *name, ULONG extension_size,
                                     PDEVICE_OBJECT *object)
{
    WCHAR buffer[48];
    UNICODE_STRING device_name;
    init_name(&device_name, buffer, 48, L"\\Device\\TarnUsb", name);
    return create_standin_device(driver, &device_name, FILE_DEVICE_UNKNOWN, extension_size, object);
}

/* ---- Parameters ---- */

static ULONG read_parameter(HANDLE key, const WCHAR *value_name, ULONG fallback, ULONG most)
{
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)buffer;
    UNICODE_STRING name;
    ULONG got, value;
    if (!key)
        return fallback;
    RtlInitUnicodeString(&name, value_name);
    if (!NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof buffer, &got))
        || info->Type != REG_DWORD || info->DataLength != sizeof(ULONG))
        return fallback;
    RtlCopyMemory(&value, info->Data, sizeof value);
    return min(value, most);
}

static HANDLE open_parameters(PUNICODE_STRING registry_path)
{
    WCHAR buffer[256];
    UNICODE_STRING path = { 0, sizeof buffer, buffer };
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    if (registry_path->Length + 32u > sizeof buffer)
        return NULL;
    RtlCopyUnicodeString(&path, registry_path);
    append_text(&path, L"\\Parameters");
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes)) ? key : NULL;
}

/* ---- Devices ---- */

UsbDevice *find_device(Standin *standin, const TarnUsbDeviceId *id)
{
    ULONG i;
    for (i = 0; i < standin->device_count; ++i)
        if (standin->devices[i]->id.kind == id->kind && standin->devices[i]->id.number == id->number)
            return standin->devices[i];
    return NULL;
}

static NTSTATUS create_usb_device(Standin *standin, USHORT kind, SHORT number)
{
    WCHAR name_buffer[12];
    UNICODE_STRING name;
    PDEVICE_OBJECT object;
    UsbDevice *device;
    NTSTATUS status;

    init_name(&name, name_buffer, 12, kind_prefixes[kind], L"");
    append_number(&name, number);
    status = create_device_object(standin->driver, name_buffer, sizeof(UsbDevice), &object);
    if (!NT_SUCCESS(status))
        return status;
    device = object->DeviceExtension;
    device->standin = standin;
    device->object = object;
    device->id.kind = kind;
    device->id.number = number;
    RtlCopyMemory(device->name, name_buffer, sizeof name_buffer);
    InitializeListHead(&device->pending_reads);
    InitializeListHead(&device->delayed);
    standin->devices[standin->device_count++] = device;
    status = loopback_init(&device->loopback, standin->loopback_bytes);
    if (!NT_SUCCESS(status))
        return status;
    status = set_link(device->name, device->name, TRUE);
    device->plugged = NT_SUCCESS(status);
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    return status;
}

/* Unplugged, the device's name disappears and everything parked on it fails;
   handles opened before stay dead after the replug. */
void set_plugged(UsbDevice *device, BOOLEAN plugged)
{
    LIST_ENTRY taken;
    KIRQL irql;
    InitializeListHead(&taken);
    KeAcquireSpinLock(&device->standin->lock, &irql);
    if (device->plugged == plugged) {
        KeReleaseSpinLock(&device->standin->lock, irql);
        return;
    }
    device->plugged = plugged;
    if (!plugged) {
        ++device->generation;
        device->open_handles = 0;
        unpark_all_locked(&device->pending_reads, NULL, &taken);
        unpark_all_locked(&device->delayed, NULL, &taken);
        forget_device_state_locked(device);
    }
    KeReleaseSpinLock(&device->standin->lock, irql);
    set_link(device->name, device->name, plugged);
    complete_taken(device, &taken, STATUS_DEVICE_NOT_CONNECTED);
}

void complete_request(UsbDevice *device, PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    OpenFile *file = irp_file(irp);
    BOOLEAN last;
    KIRQL irql;
    KeAcquireSpinLock(&device->standin->lock, &irql);
    log_complete_locked(&device->standin->log, irp_log_sequence(irp), status, (ULONG)information);
    --device->in_flight;
    last = --file->references == 0;
    KeReleaseSpinLock(&device->standin->lock, irql);
    complete_now(irp, status, information);
    if (last)
        ExFreePoolWithTag(file, TAG_STANDIN);
}

/* ---- Dispatch ---- */

/* Every open is granted, also while the device is open elsewhere: Wine does not
   wait for the answer to an open, so refusing one would not fail CreateFile. */
static NTSTATUS open_file(UsbDevice *device, PIRP irp)
{
    PFILE_OBJECT file_object = IoGetCurrentIrpStackLocation(irp)->FileObject;
    OpenFile *file = ExAllocatePoolWithTag(NonPagedPool, sizeof *file, TAG_STANDIN);
    NTSTATUS status = STATUS_SUCCESS;
    KIRQL irql;
    if (!file)
        return complete_now(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    KeAcquireSpinLock(&device->standin->lock, &irql);
    if (!device->plugged) {
        status = STATUS_NO_SUCH_DEVICE;
    } else {
        file->device = device;
        file->generation = device->generation;
        file->handle_id = ++device->standin->next_handle_id;
        file->references = 1;
        file->closed = FALSE;
        ++device->open_handles;
        file_object->FsContext = file;
    }
    KeReleaseSpinLock(&device->standin->lock, irql);
    if (!NT_SUCCESS(status))
        ExFreePoolWithTag(file, TAG_STANDIN);
    return complete_now(irp, status, 0);
}

/* A handle's end: its locks are released and its parked requests cancelled.
   Wine sends no cleanup request and may send the close while requests of the
   file still wait, so the close does all of it too. */
static NTSTATUS close_file(UsbDevice *device, PIRP irp, BOOLEAN final)
{
    PFILE_OBJECT file_object = IoGetCurrentIrpStackLocation(irp)->FileObject;
    OpenFile *file = file_object->FsContext;
    BOOLEAN last = FALSE;
    LIST_ENTRY taken;
    KIRQL irql;
    if (!file)
        return complete_now(irp, STATUS_SUCCESS, 0);
    InitializeListHead(&taken);
    KeAcquireSpinLock(&device->standin->lock, &irql);
    if (final) {
        file_object->FsContext = NULL;
        last = --file->references == 0;
    }
    if (!file->closed) {
        file->closed = TRUE;
        release_locks_of_locked(device, file);
        unpark_all_locked(&device->pending_reads, file_object, &taken);
        unpark_all_locked(&device->delayed, file_object, &taken);
        if (file->generation == device->generation)
            --device->open_handles;
    }
    KeReleaseSpinLock(&device->standin->lock, irql);
    complete_taken(device, &taken, STATUS_CANCELLED);
    if (last)
        ExFreePoolWithTag(file, TAG_STANDIN);
    return complete_now(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS device_request(UsbDevice *device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    OpenFile *file = stack->FileObject->FsContext;
    Standin *standin = device->standin;
    ULONG code = request_code(stack), input_length = 0, output_length = 0;
    LIST_ENTRY cancelled;
    KIRQL irql;

    if (!file)
        return complete_now(irp, STATUS_INVALID_HANDLE, 0);
    switch (stack->MajorFunction) {
    case IRP_MJ_READ: output_length = stack->Parameters.Read.Length; break;
    case IRP_MJ_WRITE: input_length = stack->Parameters.Write.Length; break;
    default:
        input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
        output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
        break;
    }
    InitializeListHead(&cancelled);
    KeAcquireSpinLock(&standin->lock, &irql);
    set_irp_file(irp, file);
    ++file->references;
    set_irp_log_sequence(irp, log_append_locked(&standin->log, device, file->handle_id, code,
                                                irp->AssociatedIrp.SystemBuffer, input_length, output_length));
    ++device->requests;
    if (++device->in_flight > device->max_in_flight)
        device->max_in_flight = device->in_flight;
    if (device->delay_count) {
        --device->delay_count;
        delay_request_locked(device, irp, device->delay_ms, &cancelled);
        KeReleaseSpinLock(&standin->lock, irql);
        complete_taken(device, &cancelled, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    KeReleaseSpinLock(&standin->lock, irql);
    return carry_out_request(device, irp);
}

static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT object, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    UsbDevice *device = object->DeviceExtension;

    if (device->is_control) {
        if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
            return control_device_request((Standin *)device, irp);
        return complete_now(irp, STATUS_SUCCESS, 0);
    }
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE: return open_file(device, irp);
    case IRP_MJ_CLEANUP: return close_file(device, irp, FALSE);
    case IRP_MJ_CLOSE: return close_file(device, irp, TRUE);
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
    case IRP_MJ_DEVICE_CONTROL: return device_request(device, irp);
    default: return complete_now(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

/* ---- Load and unload ---- */

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    Standin *standin = control_extension_of(driver);
    ULONG i;
    if (standin) {
        delay_worker_stop(standin);
        for (i = 0; i < standin->device_count; ++i) {
            UsbDevice *device = standin->devices[i];
            set_plugged(device, FALSE);
            loopback_free(&device->loopback);
        }
        set_link(L"Control", L"TarnUsbControl", FALSE);
        log_free(&standin->log);
    }
    while (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    PDEVICE_OBJECT control;
    Standin *standin;
    HANDLE parameters;
    ULONG kind, i, counts[2];
    NTSTATUS status;

    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = dispatch;
    driver->DriverUnload = driver_unload;

    status = create_device_object(driver, L"Control", sizeof(Standin), &control);
    if (!NT_SUCCESS(status))
        return status;
    standin = control->DeviceExtension;
    standin->is_control = TRUE;
    standin->driver = driver;
    standin->control = control;
    KeInitializeSpinLock(&standin->lock);

    parameters = open_parameters(registry_path);
    for (kind = 0; kind < 2; ++kind)
        counts[kind] = read_parameter(parameters, kind_values[kind], DEFAULT_DEVICES_PER_KIND, MAX_DEVICES_PER_KIND);
    standin->loopback_bytes = max(read_parameter(parameters, L"LoopbackBytes", DEFAULT_LOOPBACK_BYTES,
                                                 64 * 1024 * 1024), 1u);
    if (parameters)
        ZwClose(parameters);

    status = log_init(&standin->log);
    for (kind = 0; kind < 2 && NT_SUCCESS(status); ++kind)
        for (i = 0; i < counts[kind] && NT_SUCCESS(status); ++i)
            status = create_usb_device(standin, (USHORT)kind, (SHORT)i);
    if (NT_SUCCESS(status))
        status = delay_worker_start(standin);
    if (NT_SUCCESS(status))
        status = set_link(L"Control", L"TarnUsbControl", TRUE);
    control->Flags &= ~DO_DEVICE_INITIALIZING;
    if (!NT_SUCCESS(status))
        driver_unload(driver);
    return status;
}
