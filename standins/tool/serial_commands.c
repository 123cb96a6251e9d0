/* standin serial ...: the null-modem serial ports' control device from a shell. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include "commands.h"
#include "usage_texts.h"
#include "nullmodem_control.h"

typedef struct KindName {
    const char *name;
    uint32_t kind;
} KindName;

static const KindName kind_names[] = {
#define KIND_NAME(id, text) { text, TARN_NULLMODEM_REQ_##id },
    TARN_NULLMODEM_REQUEST_KINDS(KIND_NAME)
#undef KIND_NAME
    { "escape", TARN_NULLMODEM_REQ_ANY_ESCAPE },
};

static const char *const line_names[TARN_NULLMODEM_LINE_COUNT] = { "cts", "dsr", "ri", "dcd" };
static const char *const line_labels[TARN_NULLMODEM_LINE_COUNT] = { "CTS", "DSR", "RI", "DCD" };

/* What a command changed, on one line: a shell user sees that it happened. */
static int done(uint32_t port, const char *what)
{
    printf("COM%u: %s\n", port, what);
    return 0;
}

static int usage(void)
{
    fputs(usage_serial, stderr);
    return 2;
}

static int fail(const char *what)
{
    fprintf(stderr, "standin serial: %s (error %lu)\n", what, (unsigned long)GetLastError());
    return 1;
}

/* ASCII comparison, ignoring case. */
static int is_word(const wchar_t *arg, const char *word)
{
    for (; *arg && *word; arg++, word++)
        if (towlower(*arg) != (wchar_t)(unsigned char)*word)
            return 0;
    return !*arg && !*word;
}

static int parse_number(const wchar_t *text, uint32_t *value)
{
    wchar_t *end = NULL;
    if (!*text)
        return 0;
    *value = (uint32_t)wcstoul(text, &end, 0);
    return *end == 0;
}

static int parse_port(const wchar_t *text, uint32_t *port)
{
    if (towlower(text[0]) == L'c' && towlower(text[1]) == L'o' && towlower(text[2]) == L'm')
        text += 3;
    return parse_number(text, port) && *port > 0;
}

static int parse_on_off(const wchar_t *text, uint32_t *on)
{
    if (is_word(text, "on") || is_word(text, "1"))
        *on = 1;
    else if (is_word(text, "off") || is_word(text, "0"))
        *on = 0;
    else
        return 0;
    return 1;
}

typedef struct Control {
    HANDLE handle;
} Control;

static int open_control(Control *control)
{
    control->handle = CreateFileW(TARN_NULLMODEM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return control->handle != INVALID_HANDLE_VALUE;
}

static void close_control(Control *control)
{
    if (control->handle != INVALID_HANDLE_VALUE)
        CloseHandle(control->handle);
    control->handle = INVALID_HANDLE_VALUE;
}

static int control_request(Control *control, DWORD code, const void *in, DWORD in_size, void *out, DWORD out_size)
{
    DWORD n = 0;
    return DeviceIoControl(control->handle, code, (void *)in, in_size, out, out_size, &n, NULL) != FALSE;
}

static int get_state(Control *control, uint32_t port, TarnNullModemPortState *state)
{
    TarnNullModemPortRef ref = { port };
    return control_request(control, TARN_NULLMODEM_CONTROL_GET_PORT, &ref, sizeof ref, state, sizeof *state);
}

static void print_lines(const TarnNullModemPortState *s)
{
    static const uint32_t bits[TARN_NULLMODEM_LINE_COUNT] = { 0x10, 0x20, 0x40, 0x80 };
    printf("out: DTR=%u RTS=%u break=%u  in:", s->dtr, s->rts, s->break_on);
    for (int line = 0; line < TARN_NULLMODEM_LINE_COUNT; line++)
        printf(" %s=%d%s", line_names[line], (s->modem_status & bits[line]) != 0,
               s->line_source[line] == TARN_NULLMODEM_LINE_WIRED ? "" : "(forced)");
}

static int command_list(Control *control)
{
    TarnNullModemInfo info;
    if (!control_request(control, TARN_NULLMODEM_CONTROL_GET_INFO, NULL, 0, &info, sizeof info))
        return fail("cannot read the port list");
    for (uint32_t i = 0; i < info.port_count; i++) {
        TarnNullModemPortState s;
        if (!get_state(control, info.ports[i], &s))
            return fail("cannot read a port");
        printf("COM%u <-> COM%u  %-6s %-9s ", s.port, s.peer, s.is_open ? "open" : "closed",
               s.plugged ? "plugged" : "unplugged");
        print_lines(&s);
        printf("%s\n", s.pacing ? "  paced" : "");
    }
    return 0;
}

static int command_show(Control *control, uint32_t port)
{
    TarnNullModemPortState s;
    if (!get_state(control, port, &s))
        return fail("no such port");
    printf("COM%u, wired to COM%u: %s, %s, %s, %u baud\n", s.port, s.peer, s.is_open ? "open" : "closed",
           s.plugged ? "plugged" : "unplugged", s.pacing ? "paced" : "not paced", s.baud_rate);
    print_lines(&s);
    printf("\nwait mask 0x%x, waits pending %u, reads pending %u, writes pending %u\n", s.wait_mask,
           s.waits_pending, s.reads_pending, s.writes_pending);
    printf("input queue %u bytes; received %u, sent %u bytes\nrequests:", s.bytes_in_input_queue, s.bytes_received,
           s.bytes_sent);
    for (size_t i = 0; i < sizeof kind_names / sizeof kind_names[0]; i++)
        if (kind_names[i].kind < TARN_NULLMODEM_REQ_COUNT && s.requests[kind_names[i].kind])
            printf(" %s=%u", kind_names[i].name, s.requests[kind_names[i].kind]);
    printf("\n");
    return 0;
}

static int set_line(Control *control, uint32_t port, uint32_t line, uint32_t source)
{
    TarnNullModemLineRequest r = { port, line, source };
    return control_request(control, TARN_NULLMODEM_CONTROL_SET_LINE, &r, sizeof r, NULL, 0);
}

static int set_switch(Control *control, DWORD code, uint32_t port, uint32_t on)
{
    TarnNullModemSwitchRequest r = { port, on };
    return control_request(control, code, &r, sizeof r, NULL, 0);
}

static int command_reset(Control *control, const wchar_t *which)
{
    uint32_t port;
    if (is_word(which, "all")) {
        TarnNullModemInfo info;
        if (!control_request(control, TARN_NULLMODEM_CONTROL_GET_INFO, NULL, 0, &info, sizeof info))
            return fail("cannot read the port list");
        for (uint32_t i = 0; i < info.port_count; i++) {
            TarnNullModemPortRef ref = { info.ports[i] };
            if (!control_request(control, TARN_NULLMODEM_CONTROL_RESET_PORT, &ref, sizeof ref, NULL, 0))
                return fail("cannot reset a port");
        }
        printf("every port reset: faults, forced lines, pacing and counters cleared, plugged in\n");
        return 0;
    }
    if (!parse_port(which, &port))
        return usage();
    TarnNullModemPortRef ref = { port };
    if (!control_request(control, TARN_NULLMODEM_CONTROL_RESET_PORT, &ref, sizeof ref, NULL, 0))
        return fail("cannot reset the port");
    return done(port, "reset: faults, forced lines, pacing and counters cleared, plugged in");
}

static int run(Control *control, int argc, wchar_t **argv)
{
    const wchar_t *command = argv[1];
    uint32_t port = 0, value = 0;

    if (is_word(command, "list") && argc == 2)
        return command_list(control);
    if (is_word(command, "reset") && argc == 3)
        return command_reset(control, argv[2]);
    if (argc < 3 || !parse_port(argv[2], &port))
        return usage();

    if (is_word(command, "show") && argc == 3)
        return command_show(control, port);
    if (is_word(command, "ring") && (argc == 3 || argc == 4)) {
        uint32_t ms = 500;
        if (argc == 4 && !parse_number(argv[3], &ms))
            return usage();
        if (!set_line(control, port, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON))
            return fail("cannot ring the port");
        Sleep(ms);
        if (!set_line(control, port, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_WIRED))
            return fail("cannot end the ring");
        printf("COM%u: rang (RI on for %u ms)\n", port, ms);
        return 0;
    }
    if (is_word(command, "line") && argc == 5) {
        uint32_t line = TARN_NULLMODEM_LINE_COUNT, source;
        for (uint32_t i = 0; i < TARN_NULLMODEM_LINE_COUNT; i++)
            if (is_word(argv[3], line_names[i]))
                line = i;
        if (is_word(argv[4], "wired"))
            source = TARN_NULLMODEM_LINE_WIRED;
        else if (parse_on_off(argv[4], &value))
            source = value ? TARN_NULLMODEM_LINE_FORCED_ON : TARN_NULLMODEM_LINE_FORCED_OFF;
        else
            return usage();
        if (line == TARN_NULLMODEM_LINE_COUNT)
            return usage();
        if (!set_line(control, port, line, source))
            return fail("cannot set the line");
        printf("COM%u: %s %s\n", port, line_labels[line],
               source == TARN_NULLMODEM_LINE_WIRED ? "wired (follows the cable again)"
               : source == TARN_NULLMODEM_LINE_FORCED_ON ? "on" : "off");
        return 0;
    }
    if (is_word(command, "fail") && (argc == 5 || argc == 6)) {
        TarnNullModemFaultRequest r = { port, TARN_NULLMODEM_REQ_COUNT, 0, (int32_t)0xC0000001u };
        uint32_t status;
        const char *kind_name = "";
        for (size_t i = 0; i < sizeof kind_names / sizeof kind_names[0]; i++)
            if (is_word(argv[3], kind_names[i].name)) {
                r.kind = kind_names[i].kind;
                kind_name = kind_names[i].name;
            }
        if (r.kind == TARN_NULLMODEM_REQ_COUNT || !parse_number(argv[4], &r.count))
            return usage();
        if (argc == 6) {
            if (!parse_number(argv[5], &status))
                return usage();
            r.status = (int32_t)status;
        }
        if (!control_request(control, TARN_NULLMODEM_CONTROL_FAIL_NEXT, &r, sizeof r, NULL, 0))
            return fail("cannot set the failure");
        if (r.count == 0)
            printf("COM%u: no %s requests fail any more\n", port, kind_name);
        else
            printf("COM%u: the next %u %s request(s) fail with 0x%08X\n", port, r.count, kind_name, (unsigned)r.status);
        return 0;
    }
    if ((is_word(command, "unplug") || is_word(command, "plug")) && argc == 3)
        return set_switch(control, TARN_NULLMODEM_CONTROL_SET_PLUGGED, port, is_word(command, "plug"))
                   ? done(port, is_word(command, "plug") ? "plugged in" : "unplugged")
                   : fail("cannot switch the port");
    if (is_word(command, "pace") && argc == 4 && parse_on_off(argv[3], &value))
        return set_switch(control, TARN_NULLMODEM_CONTROL_SET_PACING, port, value)
                   ? done(port, value ? "paced: bytes leave at the baud rate" : "not paced: bytes leave at once")
                   : fail("cannot switch pacing");
    return usage();
}

int serial_main(int argc, wchar_t **argv)
{
    Control control;
    int result;
    if (argc >= 2 && (is_word(argv[1], "help") || is_word(argv[1], "--help"))) {
        fputs(usage_serial, stdout);
        return 0;
    }
    if (argc < 2)
        return usage();
    if (!open_control(&control))
        return fail("the null-modem stand-in is not running (service TarnNullModem; standins/service.sh start)");
    result = run(&control, argc, argv);
    close_control(&control);
    return result;
}
