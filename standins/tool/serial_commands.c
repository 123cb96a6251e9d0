/* standin serial ...: the null-modem serial ports' control device from a shell. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include "commands.h"
#include "nullmodem_control.h"

typedef struct KindName {
    const char *name;
    uint32_t kind;
} KindName;

static const KindName kKinds[] = {
#define NM_KIND_NAME(id, text) { text, TARN_NULLMODEM_REQ_##id },
    TARN_NULLMODEM_REQUEST_KINDS(NM_KIND_NAME)
#undef NM_KIND_NAME
    { "escape", TARN_NULLMODEM_REQ_ANY_ESCAPE },
};

static const char *const kLineNames[TARN_NULLMODEM_LINE_COUNT] = { "cts", "dsr", "ri", "dcd" };

static int Usage(void)
{
    fputs("usage: standin serial COMMAND [ARGS]   (PORT is COM21, com21 or 21)\n"
          "  list                          the ports, their peers and lines\n"
          "  show PORT                     state and request counters of a port\n"
          "  ring PORT [MS]                hold RI on for MS milliseconds (default 500)\n"
          "  line PORT cts|dsr|ri|dcd on|off|wired\n"
          "                                force an input line, or give it back to the cable\n"
          "  fail PORT KIND COUNT [STATUS] fail the next COUNT requests of KIND with STATUS\n"
          "                                (an NTSTATUS, default 0xC0000001); COUNT 0 clears\n"
          "  unplug PORT | plug PORT       pull the port out (requests fail, opens fail) or back in\n"
          "  pace PORT on|off              send at the baud rate (10 bits a byte) or at once\n"
          "  reset PORT|all                clear faults, forced lines, pacing and counters; plug in\n"
          "KIND: escape (any of the six line escapes)",
          stderr);
    for (size_t i = 0; i < sizeof kKinds / sizeof kKinds[0] - 1; i++)
        fprintf(stderr, ", %s", kKinds[i].name);
    fputs("\n", stderr);
    return 2;
}

static int Fail(const char *what)
{
    fprintf(stderr, "standin serial: %s (error %lu)\n", what, (unsigned long)GetLastError());
    return 1;
}

/* ASCII comparison, ignoring case. */
static int Is(const wchar_t *arg, const char *word)
{
    for (; *arg && *word; arg++, word++)
        if (towlower(*arg) != (wchar_t)(unsigned char)*word)
            return 0;
    return !*arg && !*word;
}

static int ParseNumber(const wchar_t *text, uint32_t *value)
{
    wchar_t *end = NULL;
    if (!*text)
        return 0;
    *value = (uint32_t)wcstoul(text, &end, 0);
    return *end == 0;
}

static int ParsePort(const wchar_t *text, uint32_t *port)
{
    if (towlower(text[0]) == L'c' && towlower(text[1]) == L'o' && towlower(text[2]) == L'm')
        text += 3;
    return ParseNumber(text, port) && *port > 0;
}

static int ParseOnOff(const wchar_t *text, uint32_t *on)
{
    if (Is(text, "on") || Is(text, "1"))
        *on = 1;
    else if (Is(text, "off") || Is(text, "0"))
        *on = 0;
    else
        return 0;
    return 1;
}

typedef struct Control {
    HANDLE handle;
} Control;

static int OpenControl(Control *control)
{
    control->handle = CreateFileW(TARN_NULLMODEM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    return control->handle != INVALID_HANDLE_VALUE;
}

static void CloseControl(Control *control)
{
    if (control->handle != INVALID_HANDLE_VALUE)
        CloseHandle(control->handle);
    control->handle = INVALID_HANDLE_VALUE;
}

static int Request(Control *control, DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize)
{
    DWORD n = 0;
    return DeviceIoControl(control->handle, code, (void *)in, inSize, out, outSize, &n, NULL) != FALSE;
}

static int GetState(Control *control, uint32_t port, TarnNullModemPortState *state)
{
    TarnNullModemPortRef ref = { port };
    return Request(control, TARN_NULLMODEM_CONTROL_GET_PORT, &ref, sizeof ref, state, sizeof *state);
}

static void PrintLines(const TarnNullModemPortState *s)
{
    static const uint32_t bits[TARN_NULLMODEM_LINE_COUNT] = { 0x10, 0x20, 0x40, 0x80 };
    printf("out: DTR=%u RTS=%u break=%u  in:", s->dtr, s->rts, s->break_on);
    for (int line = 0; line < TARN_NULLMODEM_LINE_COUNT; line++)
        printf(" %s=%d%s", kLineNames[line], (s->modem_status & bits[line]) != 0,
               s->line_source[line] == TARN_NULLMODEM_LINE_WIRED ? "" : "(forced)");
}

static int List(Control *control)
{
    TarnNullModemInfo info;
    if (!Request(control, TARN_NULLMODEM_CONTROL_GET_INFO, NULL, 0, &info, sizeof info))
        return Fail("cannot read the port list");
    for (uint32_t i = 0; i < info.port_count; i++) {
        TarnNullModemPortState s;
        if (!GetState(control, info.ports[i], &s))
            return Fail("cannot read a port");
        printf("COM%u <-> COM%u  %-6s %-9s ", s.port, s.peer, s.is_open ? "open" : "closed",
               s.plugged ? "plugged" : "unplugged");
        PrintLines(&s);
        printf("%s\n", s.pacing ? "  paced" : "");
    }
    return 0;
}

static int Show(Control *control, uint32_t port)
{
    TarnNullModemPortState s;
    if (!GetState(control, port, &s))
        return Fail("no such port");
    printf("COM%u, wired to COM%u: %s, %s, %s, %u baud\n", s.port, s.peer, s.is_open ? "open" : "closed",
           s.plugged ? "plugged" : "unplugged", s.pacing ? "paced" : "not paced", s.baud_rate);
    PrintLines(&s);
    printf("\nwait mask 0x%x, waits pending %u, reads pending %u, writes pending %u\n", s.wait_mask,
           s.waits_pending, s.reads_pending, s.writes_pending);
    printf("input queue %u bytes; received %u, sent %u bytes\nrequests:", s.bytes_in_input_queue, s.bytes_received,
           s.bytes_sent);
    for (size_t i = 0; i < sizeof kKinds / sizeof kKinds[0]; i++)
        if (kKinds[i].kind < TARN_NULLMODEM_REQ_COUNT && s.requests[kKinds[i].kind])
            printf(" %s=%u", kKinds[i].name, s.requests[kKinds[i].kind]);
    printf("\n");
    return 0;
}

static int SetLine(Control *control, uint32_t port, uint32_t line, uint32_t source)
{
    TarnNullModemLineRequest r = { port, line, source };
    return Request(control, TARN_NULLMODEM_CONTROL_SET_LINE, &r, sizeof r, NULL, 0);
}

static int Switch(Control *control, DWORD code, uint32_t port, uint32_t on)
{
    TarnNullModemSwitchRequest r = { port, on };
    return Request(control, code, &r, sizeof r, NULL, 0);
}

static int Reset(Control *control, const wchar_t *which)
{
    uint32_t port;
    if (Is(which, "all")) {
        TarnNullModemInfo info;
        if (!Request(control, TARN_NULLMODEM_CONTROL_GET_INFO, NULL, 0, &info, sizeof info))
            return Fail("cannot read the port list");
        for (uint32_t i = 0; i < info.port_count; i++) {
            TarnNullModemPortRef ref = { info.ports[i] };
            if (!Request(control, TARN_NULLMODEM_CONTROL_RESET_PORT, &ref, sizeof ref, NULL, 0))
                return Fail("cannot reset a port");
        }
        return 0;
    }
    if (!ParsePort(which, &port))
        return Usage();
    TarnNullModemPortRef ref = { port };
    return Request(control, TARN_NULLMODEM_CONTROL_RESET_PORT, &ref, sizeof ref, NULL, 0) ? 0 : Fail("cannot reset the port");
}

static int Run(Control *control, int argc, wchar_t **argv)
{
    const wchar_t *command = argv[1];
    uint32_t port = 0, value = 0;

    if (Is(command, "list") && argc == 2)
        return List(control);
    if (Is(command, "reset") && argc == 3)
        return Reset(control, argv[2]);
    if (argc < 3 || !ParsePort(argv[2], &port))
        return Usage();

    if (Is(command, "show") && argc == 3)
        return Show(control, port);
    if (Is(command, "ring") && (argc == 3 || argc == 4)) {
        uint32_t ms = 500;
        if (argc == 4 && !ParseNumber(argv[3], &ms))
            return Usage();
        if (!SetLine(control, port, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON))
            return Fail("cannot ring the port");
        Sleep(ms);
        return SetLine(control, port, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_WIRED) ? 0 : Fail("cannot end the ring");
    }
    if (Is(command, "line") && argc == 5) {
        uint32_t line = TARN_NULLMODEM_LINE_COUNT, source;
        for (uint32_t i = 0; i < TARN_NULLMODEM_LINE_COUNT; i++)
            if (Is(argv[3], kLineNames[i]))
                line = i;
        if (Is(argv[4], "wired"))
            source = TARN_NULLMODEM_LINE_WIRED;
        else if (ParseOnOff(argv[4], &value))
            source = value ? TARN_NULLMODEM_LINE_FORCED_ON : TARN_NULLMODEM_LINE_FORCED_OFF;
        else
            return Usage();
        if (line == TARN_NULLMODEM_LINE_COUNT)
            return Usage();
        return SetLine(control, port, line, source) ? 0 : Fail("cannot set the line");
    }
    if (Is(command, "fail") && (argc == 5 || argc == 6)) {
        TarnNullModemFaultRequest r = { port, TARN_NULLMODEM_REQ_COUNT, 0, (int32_t)0xC0000001u };
        uint32_t status;
        for (size_t i = 0; i < sizeof kKinds / sizeof kKinds[0]; i++)
            if (Is(argv[3], kKinds[i].name))
                r.kind = kKinds[i].kind;
        if (r.kind == TARN_NULLMODEM_REQ_COUNT || !ParseNumber(argv[4], &r.count))
            return Usage();
        if (argc == 6) {
            if (!ParseNumber(argv[5], &status))
                return Usage();
            r.status = (int32_t)status;
        }
        return Request(control, TARN_NULLMODEM_CONTROL_FAIL_NEXT, &r, sizeof r, NULL, 0) ? 0 : Fail("cannot set the failure");
    }
    if ((Is(command, "unplug") || Is(command, "plug")) && argc == 3)
        return Switch(control, TARN_NULLMODEM_CONTROL_SET_PLUGGED, port, Is(command, "plug")) ? 0 : Fail("cannot switch the port");
    if (Is(command, "pace") && argc == 4 && ParseOnOff(argv[3], &value))
        return Switch(control, TARN_NULLMODEM_CONTROL_SET_PACING, port, value) ? 0 : Fail("cannot switch pacing");
    return Usage();
}

int serial_main(int argc, wchar_t **argv)
{
    Control control;
    int result;
    if (argc < 2 || Is(argv[1], "help"))
        return Usage();
    if (!OpenControl(&control))
        return Fail("the null-modem stand-in is not running (service TarnNullModem; standins/service.sh start)");
    result = Run(&control, argc, argv);
    CloseControl(&control);
    return result;
}
