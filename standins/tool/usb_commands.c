/*
 * `standin usb ...`: drives the USB stand-in's control device from a shell:
 * lists the devices, dumps the request log, unplugs and replugs, and arms
 * failures, delays and short reads.  Exit code 0 on success, 1 if the stand-in
 * refused or is not running, 2 on a usage error.
 */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "commands.h"
#include "usage_texts.h"
#include "usb_control.h"


struct request_name {
    const wchar_t *name;
    uint32_t code;
};

static const struct request_name request_names[] = {
    { L"vendor-write", TARN_USB_VENDOR_WRITE }, { L"vendor-read", TARN_USB_VENDOR_READ },
    { L"lock", TARN_USB_LOCK },                 { L"unlock", TARN_USB_UNLOCK },
    { L"query-lock", TARN_USB_QUERY_LOCK },     { L"reset-in", TARN_USB_RESET_IN },
    { L"reset-out", TARN_USB_RESET_OUT },       { L"bulk-read", TARN_USB_BULK_READ },
    { L"bulk-write", TARN_USB_BULK_WRITE },     { L"any", TARN_USB_ANY_REQUEST },
};

static const wchar_t *request_name_of(uint32_t code)
{
    size_t i;
    for (i = 0; i < sizeof request_names / sizeof request_names[0]; ++i)
        if (request_names[i].code == code)
            return request_names[i].name;
    return NULL;
}

static int parse_number(const wchar_t *text, long long *value)
{
    wchar_t *end;
    if (!text || !*text)
        return 0;
    *value = wcstoll(text, &end, 0);
    return *end == 0;
}

static int parse_request(const wchar_t *text, uint32_t *code)
{
    long long value;
    size_t i;
    for (i = 0; i < sizeof request_names / sizeof request_names[0]; ++i)
        if (!_wcsicmp(text, request_names[i].name)) {
            *code = request_names[i].code;
            return 1;
        }
    if (!parse_number(text, &value) || value < 0 || value > 0xFFFFFFFFll)
        return 0;
    *code = (uint32_t)value;
    return 1;
}

/* LUMO0, q02151, \\.\LUMO1 */
static int parse_device(const wchar_t *text, TarnUsbDeviceId *id)
{
    static const struct { const wchar_t *prefix; uint16_t kind; } kinds[] = {
        { L"LUMO", TARN_USB_KIND_LUMO }, { L"Q0215", TARN_USB_KIND_Q0215 } };
    long long number;
    size_t i;
    if (!text)
        return 0;
    if (!wcsncmp(text, L"\\\\.\\", 4))
        text += 4;
    for (i = 0; i < 2; ++i) {
        size_t length = wcslen(kinds[i].prefix);
        if (!_wcsnicmp(text, kinds[i].prefix, length) && parse_number(text + length, &number)
            && number >= -32768 && number <= 32767) {
            id->kind = kinds[i].kind;
            id->number = (int16_t)number;
            return 1;
        }
    }
    return 0;
}

static void print_device(TarnUsbDeviceId id)
{
    printf("%s%d", id.kind == TARN_USB_KIND_LUMO ? "LUMO" : "Q0215", id.number);
}

static void print_status(const TarnUsbDeviceStatus *s)
{
    int i, any = 0;
    print_device(s->device);
    printf(": %s, %lu open handle(s), %lu request(s), %lu in flight (most %lu), loopback %lu/%lu bytes, "
           "%lu read(s) waiting, resets in %lu out %lu, locks:",
           s->plugged ? "plugged" : "UNPLUGGED", (unsigned long)s->open_handles, (unsigned long)s->requests,
           (unsigned long)s->in_flight, (unsigned long)s->max_in_flight, (unsigned long)s->loopback_bytes,
           (unsigned long)s->loopback_capacity, (unsigned long)s->pending_reads, (unsigned long)s->resets_in,
           (unsigned long)s->resets_out);
    for (i = 0; i < TARN_USB_LOCK_TYPES; ++i)
        if (s->lock_holders[i]) {
            printf(" %d=handle %lu", i, (unsigned long)s->lock_holders[i]);
            any = 1;
        }
    printf(any ? "\n" : " none\n");
}

static void print_entry(const TarnUsbLogEntry *e)
{
    const wchar_t *name = request_name_of(e->code);
    uint32_t i;
    printf("#%lu ", (unsigned long)e->sequence);
    print_device(e->device);
    printf(" handle %lu ", (unsigned long)e->handle_id);
    if (name)
        printf("%ls", name);
    else
        printf("0x%08lX", (unsigned long)e->code);
    printf(" in %lu out %lu -> ", (unsigned long)e->input_length, (unsigned long)e->output_length);
    if (e->status == 0x103)
        printf("pending");
    else
        printf("0x%08lX, %lu byte(s)", (unsigned long)(uint32_t)e->status, (unsigned long)e->information);
    if (e->data_length) {
        printf(" data:");
        for (i = 0; i < e->data_length; ++i)
            printf(" %02X", e->data[i]);
        if (e->data_length < e->input_length)
            printf(" ...");
    }
    printf("\n");
}

/* One control request; prints why it failed. */
static int control_request(uint32_t code, const void *in, DWORD in_length, void *out, DWORD out_length,
                           DWORD *returned)
{
    HANDLE control = CreateFileW(TARN_USB_CONTROL_PATH_W, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                 0, NULL);
    DWORD bytes = 0, error;
    BOOL ok;
    if (control == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "standin usb: the USB stand-in is not running (error %lu)\n", GetLastError());
        return 0;
    }
    ok = DeviceIoControl(control, code, (void *)in, in_length, out, out_length, &bytes, NULL);
    error = GetLastError();
    CloseHandle(control);
    if (!ok && (error == 433 /* ERROR_NO_SUCH_DEVICE */ || error == ERROR_FILE_NOT_FOUND)) {
        fprintf(stderr, "standin usb: no such device\n");
        return 0;
    }
    if (!ok && error != ERROR_MORE_DATA) {
        fprintf(stderr, "standin usb: the stand-in refused the request (error %lu)\n", error);
        return 0;
    }
    if (returned)
        *returned = bytes;
    return 1;
}

static int command_list(void)
{
    TarnUsbDeviceStatus all[64];
    DWORD bytes = 0, i;
    if (!control_request(TARN_USB_CONTROL_LIST, NULL, 0, all, sizeof all, &bytes))
        return 1;
    for (i = 0; i < bytes / sizeof all[0]; ++i)
        print_status(&all[i]);
    return 0;
}

static int command_status(TarnUsbDeviceId id)
{
    TarnUsbDeviceStatus status;
    if (!control_request(TARN_USB_CONTROL_GET_STATUS, &id, sizeof id, &status, sizeof status, NULL))
        return 1;
    print_status(&status);
    return 0;
}

static int command_log(int argc, wchar_t **argv)
{
    const DWORD size = sizeof(TarnUsbLogHeader) + TARN_USB_LOG_ENTRIES * sizeof(TarnUsbLogEntry);
    TarnUsbLogQuery query = { 0 };
    TarnUsbDeviceId only;
    const TarnUsbLogHeader *header;
    const TarnUsbLogEntry *entries;
    int filtered = 0, i;
    long long since;
    uint32_t n;
    void *buffer;

    for (i = 0; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--since") && i + 1 < argc && parse_number(argv[i + 1], &since) && since >= 0) {
            query.after_sequence = (uint32_t)since;
            ++i;
        } else if (!filtered && parse_device(argv[i], &only)) {
            filtered = 1;
        } else {
            fputs(usage_usb, stderr);
            return 2;
        }
    }
    buffer = malloc(size);
    if (!buffer || !control_request(TARN_USB_CONTROL_GET_LOG, &query, sizeof query, buffer, size, NULL)) {
        free(buffer);
        return 1;
    }
    header = buffer;
    entries = (const TarnUsbLogEntry *)(header + 1);
    for (n = 0; n < header->count; ++n)
        if (!filtered || (entries[n].device.kind == only.kind && entries[n].device.number == only.number))
            print_entry(&entries[n]);
    free(buffer);
    return 0;
}

/* Says what a command changed, on one line, and returns the exit code 0. */
static int done(const TarnUsbDeviceId *id, const char *format, ...)
{
    va_list args;
    if (id) {
        print_device(*id);
        printf(": ");
    }
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    return 0;
}

/* Returns the process exit code: 0 done, 1 failed, 2 usage error. */
int usb_main(int argc, wchar_t **argv)
{
    TarnUsbDeviceId id;
    long long a = 0, b = 0, c = 0;
    const wchar_t *command;
    int has_device;

    --argc; /* argv[0] is the group's name, "usb" */
    ++argv;
    if (argc < 1 || !_wcsicmp(argv[0], L"help") || !wcscmp(argv[0], L"--help")) {
        fputs(usage_usb, argc < 1 ? stderr : stdout);
        return argc < 1 ? 2 : 0;
    }
    command = argv[0];
    if (!_wcsicmp(command, L"list") && argc == 1)
        return command_list();
    if (!_wcsicmp(command, L"log"))
        return command_log(argc - 1, argv + 1);
    if (!_wcsicmp(command, L"clear-log") && argc == 1)
        return control_request(TARN_USB_CONTROL_CLEAR_LOG, NULL, 0, NULL, 0, NULL) ? done(NULL, "request log cleared") : 1;

    has_device = argc >= 2 && parse_device(argv[1], &id);
    if (has_device && !_wcsicmp(command, L"status") && argc == 2)
        return command_status(id);
    if (has_device && (!_wcsicmp(command, L"unplug") || !_wcsicmp(command, L"plug")) && argc == 2) {
        TarnUsbPlug plug = { id, !_wcsicmp(command, L"plug") };
        if (!control_request(TARN_USB_CONTROL_PLUG, &plug, sizeof plug, NULL, 0, NULL))
            return 1;
        return done(&id, plug.plugged ? "plugged in (fresh: registers, loopback and locks empty)" : "unplugged");
    }
    if (has_device && !_wcsicmp(command, L"reset") && argc == 2)
        return control_request(TARN_USB_CONTROL_RESET, &id, sizeof id, NULL, 0, NULL)
                   ? done(&id, "counters zeroed, armed failures and delays dropped") : 1;
    if (has_device && !_wcsicmp(command, L"fail") && (argc == 4 || argc == 5)) {
        TarnUsbFailure failure = { id, 0, 0, 0 };
        if (parse_request(argv[2], &failure.code) && parse_number(argv[3], &a) && a >= 0 && a <= 0xFFFFFFFFll
            && (argc == 4 || (parse_number(argv[4], &b) && b >= -0x80000000ll && b <= 0xFFFFFFFFll))) {
            failure.count = (uint32_t)a;
            failure.status = (int32_t)(uint32_t)b;
            if (!control_request(TARN_USB_CONTROL_FAIL, &failure, sizeof failure, NULL, 0, NULL))
                return 1;
            if (failure.count == 0)
                return done(&id, "no %ls requests fail any more", argv[2]);
            return done(&id, "the next %lu %ls request(s) fail with 0x%08lX", (unsigned long)failure.count, argv[2],
                        (unsigned long)(failure.status ? (uint32_t)failure.status : 0xC0000185u));
        }
    }
    if (has_device && !_wcsicmp(command, L"delay") && (argc == 3 || argc == 4)) {
        c = 1;
        if (parse_number(argv[2], &a) && a >= 0 && a <= 0xFFFFFFFFll
            && (argc == 3 || (parse_number(argv[3], &c) && c >= 0 && c <= 0xFFFFFFFFll))) {
            TarnUsbDelay delay = { id, (uint32_t)a, (uint32_t)c };
            if (!control_request(TARN_USB_CONTROL_DELAY, &delay, sizeof delay, NULL, 0, NULL))
                return 1;
            return done(&id, "the next %lu request(s) held %lu ms each", (unsigned long)delay.count,
                        (unsigned long)delay.milliseconds);
        }
    }
    if (has_device && !_wcsicmp(command, L"short-read") && argc == 3 && parse_number(argv[2], &a) && a >= 0
        && a <= 0xFFFFFFFFll) {
        TarnUsbShortRead short_read = { id, (uint32_t)a };
        if (!control_request(TARN_USB_CONTROL_SHORT_READ, &short_read, sizeof short_read, NULL, 0, NULL))
            return 1;
        return done(&id, "the next vendor read returns only %lu byte(s)", (unsigned long)short_read.bytes);
    }
    fputs(usage_usb, stderr);
    return 2;
}
