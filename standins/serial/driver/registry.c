/* The service's Parameters key and the system's serial-port map. */
#include "nullmodem.h"

void format_name(WCHAR *buffer, ULONG capacity, const WCHAR *prefix, ULONG number)
{
    WCHAR digits[12];
    ULONG n = 0, i = 0;
    do {
        digits[n++] = (WCHAR)(L'0' + number % 10);
        number /= 10;
    } while (number && n < 11);
    while (*prefix && i + 1 < capacity)
        buffer[i++] = *prefix++;
    while (n && i + 1 < capacity)
        buffer[i++] = digits[--n];
    buffer[i] = 0;
}

static HANDLE open_key(const WCHAR *path, BOOLEAN create, HANDLE parent)
{
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key = NULL;
    NTSTATUS status;
    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, parent, NULL);
    if (create)
        status = ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, NULL, REG_OPTION_VOLATILE, NULL);
    else
        status = ZwOpenKey(&key, KEY_READ, &attributes);
    return NT_SUCCESS(status) ? key : NULL;
}

static ULONG read_dword(HANDLE key, const WCHAR *value_name, ULONG fallback)
{
    UNICODE_STRING name;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION *info = (KEY_VALUE_PARTIAL_INFORMATION *)buffer;
    ULONG length;
    RtlInitUnicodeString(&name, value_name);
    if (!NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof buffer, &length))
        || info->Type != REG_DWORD || info->DataLength != sizeof(ULONG))
        return fallback;
    return *(ULONG *)info->Data;
}

void read_parameters(PUNICODE_STRING registry_path, ULONG *pairs, ULONG *first_port)
{
    WCHAR path[512];
    ULONG chars = registry_path->Length / sizeof(WCHAR), i;
    static const WCHAR suffix[] = L"\\Parameters";
    HANDLE key;

    *pairs = TARN_NULLMODEM_DEFAULT_PAIRS;
    *first_port = TARN_NULLMODEM_DEFAULT_FIRST_PORT;
    if (chars + sizeof suffix / sizeof(WCHAR) > sizeof path / sizeof(WCHAR))
        return;
    for (i = 0; i < chars; i++)
        path[i] = registry_path->Buffer[i];
    for (i = 0; i < sizeof suffix / sizeof(WCHAR); i++)
        path[chars + i] = suffix[i];
    key = open_key(path, FALSE, NULL);
    if (!key)
        return;
    *pairs = read_dword(key, TARN_NULLMODEM_PARAM_PAIR_COUNT, *pairs);
    *first_port = read_dword(key, TARN_NULLMODEM_PARAM_FIRST_PORT, *first_port);
    ZwClose(key);
    if (*pairs < 1 || *pairs > TARN_NULLMODEM_MAX_PAIRS)
        *pairs = TARN_NULLMODEM_DEFAULT_PAIRS;
    if (*first_port < 1 || *first_port + 2 * *pairs > 256)
        *first_port = TARN_NULLMODEM_DEFAULT_FIRST_PORT;
}

static ULONG name_bytes(const WCHAR *text)
{
    ULONG n = 0;
    while (text[n])
        n++;
    return (n + 1) * sizeof(WCHAR);
}

/* Lists the port in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (device name = COM name), or takes it out. */
void publish_port(Port *port, BOOLEAN present)
{
    HANDLE device_map = open_key(L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP", TRUE, NULL);
    HANDLE serial_comm = device_map ? open_key(L"SERIALCOMM", TRUE, device_map) : NULL;
    UNICODE_STRING name;
    if (serial_comm) {
        RtlInitUnicodeString(&name, port->device_name);
        if (present)
            ZwSetValueKey(serial_comm, &name, 0, REG_SZ, port->com_name,
                          name_bytes(port->com_name));
        else
            ZwDeleteValueKey(serial_comm, &name);
        ZwClose(serial_comm);
    }
    if (device_map)
        ZwClose(device_map);
}
