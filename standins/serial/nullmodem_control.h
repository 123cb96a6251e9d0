/*
 * Control interface of the null-modem serial stand-in (tarn_nullmodem.sys).
 *
 * The driver creates port pairs (by default COM21<->COM22 and COM23<->COM24)
 * wired as a null-modem cable, and one control device, "\\.\TarnNullModem",
 * that tests, tools and users drive with DeviceIoControl:
 *
 *   HANDLE h = CreateFileW(TARN_NULLMODEM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
 *                          FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
 *   TarnNullModemLineRequest ring = { 22, TARN_NULLMODEM_LINE_RI, TARN_NULLMODEM_LINE_FORCED_ON };
 *   DeviceIoControl(h, TARN_NULLMODEM_CONTROL_SET_LINE, &ring, sizeof ring, NULL, 0, &n, NULL);
 *
 * Plain C, usable from C++ and from kernel mode.  Ports are named by their COM
 * number.  The control device may be opened by any number of handles.
 * Every structure has fixed-width fields and is packed to 4 bytes, so 32-bit
 * and 64-bit clients and the driver share one layout.
 */
#ifndef TARN_NULLMODEM_CONTROL_H
#define TARN_NULLMODEM_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#ifndef TARN_STATIC_ASSERT
#ifdef __cplusplus
#define TARN_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define TARN_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TARN_NULLMODEM_CONTROL_PATH L"\\\\.\\TarnNullModem"
#define TARN_NULLMODEM_SERVICE_NAME L"TarnNullModem"

/* Values of the service's Parameters key (REG_DWORD), read when the driver starts. */
#define TARN_NULLMODEM_PARAM_PAIR_COUNT L"PairCount" /* default 2, at most TARN_NULLMODEM_MAX_PAIRS */
#define TARN_NULLMODEM_PARAM_FIRST_PORT L"FirstPort" /* default 21: pairs are (21,22), (23,24), ... */
#define TARN_NULLMODEM_DEFAULT_PAIRS 2
#define TARN_NULLMODEM_DEFAULT_FIRST_PORT 21
#define TARN_NULLMODEM_MAX_PAIRS 8
#define TARN_NULLMODEM_MAX_PORTS (2 * TARN_NULLMODEM_MAX_PAIRS)

/* Size of each port's input queue; bytes beyond it are lost (CE_RXOVER). */
#define TARN_NULLMODEM_INPUT_QUEUE_BYTES 65536

/*
 * Kinds of request a port counts and can be told to fail.  One list serves the
 * enumeration, the names the tool accepts, the counters' layout and the
 * driver's mapping of control codes: the kinds of the second list are the
 * port's serial control requests, IOCTL_SERIAL_<kind>.
 */
#define TARN_NULLMODEM_REQUEST_KINDS(X)    \
    X(CREATE, "create")                    \
    X(CLOSE, "close")                      \
    X(READ, "read")                        \
    X(WRITE, "write")                      \
    TARN_NULLMODEM_SERIAL_CONTROL_KINDS(X) \
    X(OTHER, "other")

#define TARN_NULLMODEM_SERIAL_CONTROL_KINDS(X) \
    X(SET_BAUD_RATE, "setbaudrate")            \
    X(GET_BAUD_RATE, "getbaudrate")            \
    X(SET_LINE_CONTROL, "setlinecontrol")      \
    X(GET_LINE_CONTROL, "getlinecontrol")      \
    X(SET_HANDFLOW, "sethandflow")             \
    X(GET_HANDFLOW, "gethandflow")             \
    X(SET_CHARS, "setchars")                   \
    X(GET_CHARS, "getchars")                   \
    X(SET_QUEUE_SIZE, "setqueuesize")          \
    X(SET_TIMEOUTS, "settimeouts")             \
    X(GET_TIMEOUTS, "gettimeouts")             \
    X(GET_MODEMSTATUS, "getmodemstatus")       \
    X(SET_DTR, "setdtr")                       \
    X(CLR_DTR, "clrdtr")                       \
    X(SET_RTS, "setrts")                       \
    X(CLR_RTS, "clrrts")                       \
    X(SET_BREAK_ON, "setbreakon")              \
    X(SET_BREAK_OFF, "setbreakoff")            \
    X(SET_WAIT_MASK, "setwaitmask")            \
    X(GET_WAIT_MASK, "getwaitmask")            \
    X(WAIT_ON_MASK, "waitonmask")              \
    X(GET_COMMSTATUS, "getcommstatus")         \
    X(PURGE, "purge")                          \
    X(GET_PROPERTIES, "getproperties")

enum TARN_NULLMODEM_REQUEST_KIND {
#define TARN_NULLMODEM_ENUM_KIND(id, text) TARN_NULLMODEM_REQ_##id,
    TARN_NULLMODEM_REQUEST_KINDS(TARN_NULLMODEM_ENUM_KIND)
#undef TARN_NULLMODEM_ENUM_KIND
    TARN_NULLMODEM_REQ_COUNT
};

/* Fault target that matches all six line escapes (SET/CLR_DTR, SET/CLR_RTS, SET_BREAK_ON/OFF). */
#define TARN_NULLMODEM_REQ_ANY_ESCAPE 0x100

/* Input lines that the control device can force. */
enum TARN_NULLMODEM_LINE { TARN_NULLMODEM_LINE_CTS = 0, TARN_NULLMODEM_LINE_DSR = 1, TARN_NULLMODEM_LINE_RI = 2, TARN_NULLMODEM_LINE_DCD = 3 };
#define TARN_NULLMODEM_LINE_COUNT 4

/* How an input line is driven: by the cable (the peer's outputs) or held by the control device. */
enum TARN_NULLMODEM_LINE_SOURCE { TARN_NULLMODEM_LINE_WIRED = 0, TARN_NULLMODEM_LINE_FORCED_ON = 1, TARN_NULLMODEM_LINE_FORCED_OFF = 2 };

/* Control codes of device type 0x8000, METHOD_BUFFERED, FILE_ANY_ACCESS. */
#define TARN_NULLMODEM_CTL_CODE(function) ((uint32_t)(0x8000u << 16) | ((uint32_t)(function) << 2))

/* out TarnNullModemInfo */
#define TARN_NULLMODEM_CONTROL_GET_INFO TARN_NULLMODEM_CTL_CODE(0x900)
/* in TarnNullModemPortRef, out TarnNullModemPortState */
#define TARN_NULLMODEM_CONTROL_GET_PORT TARN_NULLMODEM_CTL_CODE(0x901)
/* in TarnNullModemLineRequest: force an input line of a port, or give it back to the cable */
#define TARN_NULLMODEM_CONTROL_SET_LINE TARN_NULLMODEM_CTL_CODE(0x902)
/* in TarnNullModemFaultRequest: fail the next `count` requests of a kind with `status` (count 0 clears) */
#define TARN_NULLMODEM_CONTROL_FAIL_NEXT TARN_NULLMODEM_CTL_CODE(0x903)
/* in TarnNullModemSwitchRequest: 0 unplugs the port (pending and later requests fail, opens fail), 1 replugs it */
#define TARN_NULLMODEM_CONTROL_SET_PLUGGED TARN_NULLMODEM_CTL_CODE(0x904)
/* in TarnNullModemSwitchRequest: 1 paces the port's output at its baud rate (10 bits a byte), 0 sends at once */
#define TARN_NULLMODEM_CONTROL_SET_PACING TARN_NULLMODEM_CTL_CODE(0x905)
/* in TarnNullModemPortRef: counters to 0, faults and forced lines cleared, plugged, pacing off */
#define TARN_NULLMODEM_CONTROL_RESET_PORT TARN_NULLMODEM_CTL_CODE(0x906)

/* Failure status of requests on an unplugged port (its open handles stay stale after a replug). */
#define TARN_NULLMODEM_STATUS_UNPLUGGED 0xC00002B6L /* STATUS_DEVICE_REMOVED, ERROR_DEVICE_REMOVED */

#define TARN_NULLMODEM_INFO_VERSION 1

#pragma pack(push, 4)

typedef struct TarnNullModemInfo {
    uint32_t version;                        /* TARN_NULLMODEM_INFO_VERSION */
    uint32_t port_count;
    uint32_t ports[TARN_NULLMODEM_MAX_PORTS]; /* COM numbers; ports[2k] and ports[2k+1] are wired together */
} TarnNullModemInfo;

typedef struct TarnNullModemPortRef {
    uint32_t port;
} TarnNullModemPortRef;

typedef struct TarnNullModemLineRequest {
    uint32_t port;
    uint32_t line;   /* enum TARN_NULLMODEM_LINE */
    uint32_t source; /* enum TARN_NULLMODEM_LINE_SOURCE */
} TarnNullModemLineRequest;

typedef struct TarnNullModemFaultRequest {
    uint32_t port;
    uint32_t kind;   /* enum TARN_NULLMODEM_REQUEST_KIND, or TARN_NULLMODEM_REQ_ANY_ESCAPE */
    uint32_t count;  /* how many of the next requests of that kind fail; 0 clears */
    int32_t status;  /* NTSTATUS they fail with, e.g. 0xC0000001 (STATUS_UNSUCCESSFUL) */
} TarnNullModemFaultRequest;

typedef struct TarnNullModemSwitchRequest {
    uint32_t port;
    uint32_t on;
} TarnNullModemSwitchRequest;

typedef struct TarnNullModemPortState {
    uint32_t port;
    uint32_t peer;
    uint32_t is_open;
    uint32_t plugged;
    uint32_t pacing;
    uint32_t dtr, rts, break_on;              /* this port's outputs */
    uint32_t modem_status;                    /* what GET_MODEMSTATUS answers: 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD */
    uint32_t line_source[TARN_NULLMODEM_LINE_COUNT]; /* enum TARN_NULLMODEM_LINE_SOURCE, by enum TARN_NULLMODEM_LINE */
    uint32_t baud_rate;
    uint32_t wait_mask;
    uint32_t waits_pending;                   /* 0 or 1 */
    uint32_t reads_pending;
    uint32_t writes_pending;
    uint32_t bytes_in_input_queue;
    uint32_t bytes_received;                  /* since the last reset */
    uint32_t bytes_sent;
    uint32_t requests[TARN_NULLMODEM_REQ_COUNT]; /* by enum TARN_NULLMODEM_REQUEST_KIND, since the last reset */
} TarnNullModemPortState;

#pragma pack(pop)

/* The same layout for 32-bit and 64-bit clients and the driver. */
TARN_STATIC_ASSERT(TARN_NULLMODEM_CONTROL_GET_INFO == 0x80002400u, "control codes");
TARN_STATIC_ASSERT(sizeof(TarnNullModemInfo) == 8 + 4 * TARN_NULLMODEM_MAX_PORTS, "info");
TARN_STATIC_ASSERT(offsetof(TarnNullModemInfo, ports) == 8, "info: port list at byte 8");
TARN_STATIC_ASSERT(sizeof(TarnNullModemPortRef) == 4, "port reference");
TARN_STATIC_ASSERT(sizeof(TarnNullModemLineRequest) == 12, "line request");
TARN_STATIC_ASSERT(offsetof(TarnNullModemLineRequest, source) == 8, "line request: source at byte 8");
TARN_STATIC_ASSERT(sizeof(TarnNullModemFaultRequest) == 16, "fault request");
TARN_STATIC_ASSERT(offsetof(TarnNullModemFaultRequest, status) == 12, "fault request: status at byte 12");
TARN_STATIC_ASSERT(sizeof(TarnNullModemSwitchRequest) == 8, "switch request");
TARN_STATIC_ASSERT(offsetof(TarnNullModemSwitchRequest, on) == 4, "switch request: switch at byte 4");
TARN_STATIC_ASSERT(offsetof(TarnNullModemPortState, modem_status) == 32 &&
                   offsetof(TarnNullModemPortState, line_source) == 36 &&
                   offsetof(TarnNullModemPortState, baud_rate) == 52 &&
                   offsetof(TarnNullModemPortState, bytes_sent) == 80 &&
                   offsetof(TarnNullModemPortState, requests) == 84, "port state fields");
TARN_STATIC_ASSERT(sizeof(TarnNullModemPortState) == 84 + 4 * TARN_NULLMODEM_REQ_COUNT, "port state");

#ifdef __cplusplus
}
#endif

#endif /* TARN_NULLMODEM_CONTROL_H */
