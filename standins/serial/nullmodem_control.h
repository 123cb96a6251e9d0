/*
 * Control interface of the null-modem serial stand-in (tarn_nullmodem.sys).
 *
 * The driver creates port pairs (by default COM21<->COM22 and COM23<->COM24)
 * wired as a null-modem cable, and one control device, "\\.\TarnNullModem",
 * that tests, tools and users drive with DeviceIoControl:
 *
 *   HANDLE h = CreateFileW(NULLMODEM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
 *                          FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
 *   NULLMODEM_LINE_REQUEST ring = { 22, NULLMODEM_LINE_RI, NULLMODEM_LINE_FORCED_ON };
 *   DeviceIoControl(h, IOCTL_NULLMODEM_SET_LINE, &ring, sizeof ring, NULL, 0, &n, NULL);
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

#ifndef CTL_CODE
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#endif

#define NULLMODEM_CONTROL_PATH L"\\\\.\\TarnNullModem"
#define NULLMODEM_SERVICE_NAME L"TarnNullModem"

/* Values of the service's Parameters key (REG_DWORD), read when the driver starts. */
#define NULLMODEM_PARAM_PAIR_COUNT L"PairCount" /* default 2, at most NULLMODEM_MAX_PAIRS */
#define NULLMODEM_PARAM_FIRST_PORT L"FirstPort" /* default 21: pairs are (21,22), (23,24), ... */
#define NULLMODEM_DEFAULT_PAIRS 2
#define NULLMODEM_DEFAULT_FIRST_PORT 21
#define NULLMODEM_MAX_PAIRS 8
#define NULLMODEM_MAX_PORTS (2 * NULLMODEM_MAX_PAIRS)

/* Size of each port's input queue; bytes beyond it are lost (CE_RXOVER). */
#define NULLMODEM_INPUT_QUEUE_BYTES 65536

/*
 * Kinds of request a port counts and can be told to fail.  One list serves the
 * enumeration, the names the tool accepts and the counters' layout.
 */
#define NULLMODEM_REQUEST_KINDS(X)                                   \
    X(CREATE, "create")                                              \
    X(CLOSE, "close")                                                \
    X(READ, "read")                                                  \
    X(WRITE, "write")                                                \
    X(SET_BAUD_RATE, "setbaudrate")                                  \
    X(GET_BAUD_RATE, "getbaudrate")                                  \
    X(SET_LINE_CONTROL, "setlinecontrol")                            \
    X(GET_LINE_CONTROL, "getlinecontrol")                            \
    X(SET_HANDFLOW, "sethandflow")                                   \
    X(GET_HANDFLOW, "gethandflow")                                   \
    X(SET_CHARS, "setchars")                                         \
    X(GET_CHARS, "getchars")                                         \
    X(SET_QUEUE_SIZE, "setqueuesize")                                \
    X(SET_TIMEOUTS, "settimeouts")                                   \
    X(GET_TIMEOUTS, "gettimeouts")                                   \
    X(GET_MODEMSTATUS, "getmodemstatus")                             \
    X(SET_DTR, "setdtr")                                             \
    X(CLR_DTR, "clrdtr")                                             \
    X(SET_RTS, "setrts")                                             \
    X(CLR_RTS, "clrrts")                                             \
    X(SET_BREAK_ON, "setbreakon")                                    \
    X(SET_BREAK_OFF, "setbreakoff")                                  \
    X(SET_WAIT_MASK, "setwaitmask")                                  \
    X(GET_WAIT_MASK, "getwaitmask")                                  \
    X(WAIT_ON_MASK, "waitonmask")                                    \
    X(GET_COMMSTATUS, "getcommstatus")                               \
    X(PURGE, "purge")                                                \
    X(GET_PROPERTIES, "getproperties")                               \
    X(OTHER, "other")

enum NULLMODEM_REQUEST_KIND {
#define NULLMODEM_ENUM_KIND(id, text) NULLMODEM_REQ_##id,
    NULLMODEM_REQUEST_KINDS(NULLMODEM_ENUM_KIND)
#undef NULLMODEM_ENUM_KIND
    NULLMODEM_REQ_COUNT
};

/* Fault target that matches all six line escapes (SET/CLR_DTR, SET/CLR_RTS, SET_BREAK_ON/OFF). */
#define NULLMODEM_REQ_ANY_ESCAPE 0x100

/* Input lines that the control device can force. */
enum NULLMODEM_LINE { NULLMODEM_LINE_CTS = 0, NULLMODEM_LINE_DSR = 1, NULLMODEM_LINE_RI = 2, NULLMODEM_LINE_DCD = 3 };
#define NULLMODEM_LINE_COUNT 4

/* How an input line is driven: by the cable (the peer's outputs) or held by the control device. */
enum NULLMODEM_LINE_SOURCE { NULLMODEM_LINE_WIRED = 0, NULLMODEM_LINE_FORCED_ON = 1, NULLMODEM_LINE_FORCED_OFF = 2 };

#define NULLMODEM_IOCTL(fn) CTL_CODE(0x8000u, 0x900u + (fn), 0u /* METHOD_BUFFERED */, 0u /* FILE_ANY_ACCESS */)

/* out NULLMODEM_INFO */
#define IOCTL_NULLMODEM_GET_INFO NULLMODEM_IOCTL(0)
/* in NULLMODEM_PORT_REF, out NULLMODEM_PORT_STATE */
#define IOCTL_NULLMODEM_GET_PORT NULLMODEM_IOCTL(1)
/* in NULLMODEM_LINE_REQUEST: force an input line of a port, or give it back to the cable */
#define IOCTL_NULLMODEM_SET_LINE NULLMODEM_IOCTL(2)
/* in NULLMODEM_FAULT_REQUEST: fail the next `count` requests of a kind with `status` (count 0 clears) */
#define IOCTL_NULLMODEM_FAIL_NEXT NULLMODEM_IOCTL(3)
/* in NULLMODEM_SWITCH_REQUEST: 0 unplugs the port (pending and later requests fail, opens fail), 1 replugs it */
#define IOCTL_NULLMODEM_SET_PLUGGED NULLMODEM_IOCTL(4)
/* in NULLMODEM_SWITCH_REQUEST: 1 paces the port's output at its baud rate (10 bits a byte), 0 sends at once */
#define IOCTL_NULLMODEM_SET_PACING NULLMODEM_IOCTL(5)
/* in NULLMODEM_PORT_REF: counters to 0, faults and forced lines cleared, plugged, pacing off */
#define IOCTL_NULLMODEM_RESET_PORT NULLMODEM_IOCTL(6)

/* Failure status of requests on an unplugged port (its open handles stay stale after a replug). */
#define NULLMODEM_STATUS_UNPLUGGED 0xC00002B6L /* STATUS_DEVICE_REMOVED, ERROR_DEVICE_REMOVED */

#define NULLMODEM_INFO_VERSION 1

#pragma pack(push, 4)

typedef struct NULLMODEM_INFO {
    uint32_t version;                        /* NULLMODEM_INFO_VERSION */
    uint32_t portCount;
    uint32_t ports[NULLMODEM_MAX_PORTS];     /* COM numbers; ports[2k] and ports[2k+1] are wired together */
} NULLMODEM_INFO;

typedef struct NULLMODEM_PORT_REF {
    uint32_t port;
} NULLMODEM_PORT_REF;

typedef struct NULLMODEM_LINE_REQUEST {
    uint32_t port;
    uint32_t line;   /* enum NULLMODEM_LINE */
    uint32_t source; /* enum NULLMODEM_LINE_SOURCE */
} NULLMODEM_LINE_REQUEST;

typedef struct NULLMODEM_FAULT_REQUEST {
    uint32_t port;
    uint32_t kind;   /* enum NULLMODEM_REQUEST_KIND, or NULLMODEM_REQ_ANY_ESCAPE */
    uint32_t count;  /* how many of the next requests of that kind fail; 0 clears */
    int32_t status;  /* NTSTATUS they fail with, e.g. 0xC0000001 (STATUS_UNSUCCESSFUL) */
} NULLMODEM_FAULT_REQUEST;

typedef struct NULLMODEM_SWITCH_REQUEST {
    uint32_t port;
    uint32_t on;
} NULLMODEM_SWITCH_REQUEST;

typedef struct NULLMODEM_PORT_STATE {
    uint32_t port;
    uint32_t peer;
    uint32_t isOpen;
    uint32_t plugged;
    uint32_t pacing;
    uint32_t dtr, rts, breakOn;              /* this port's outputs */
    uint32_t modemStatus;                    /* what GET_MODEMSTATUS answers: 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD */
    uint32_t lineSource[NULLMODEM_LINE_COUNT]; /* enum NULLMODEM_LINE_SOURCE, by enum NULLMODEM_LINE */
    uint32_t baudRate;
    uint32_t waitMask;
    uint32_t waitsPending;                   /* 0 or 1 */
    uint32_t readsPending;
    uint32_t writesPending;
    uint32_t bytesInInputQueue;
    uint32_t bytesReceived;                  /* since the last reset */
    uint32_t bytesSent;
    uint32_t requests[NULLMODEM_REQ_COUNT];  /* by enum NULLMODEM_REQUEST_KIND, since the last reset */
} NULLMODEM_PORT_STATE;

#pragma pack(pop)

/* The same layout for 32-bit and 64-bit clients and the driver. */
TARN_STATIC_ASSERT(sizeof(NULLMODEM_INFO) == 8 + 4 * NULLMODEM_MAX_PORTS, "info");
TARN_STATIC_ASSERT(offsetof(NULLMODEM_INFO, ports) == 8, "info: port list at byte 8");
TARN_STATIC_ASSERT(sizeof(NULLMODEM_PORT_REF) == 4, "port reference");
TARN_STATIC_ASSERT(sizeof(NULLMODEM_LINE_REQUEST) == 12, "line request");
TARN_STATIC_ASSERT(offsetof(NULLMODEM_LINE_REQUEST, source) == 8, "line request: source at byte 8");
TARN_STATIC_ASSERT(sizeof(NULLMODEM_FAULT_REQUEST) == 16, "fault request");
TARN_STATIC_ASSERT(offsetof(NULLMODEM_FAULT_REQUEST, status) == 12, "fault request: status at byte 12");
TARN_STATIC_ASSERT(sizeof(NULLMODEM_SWITCH_REQUEST) == 8, "switch request");
TARN_STATIC_ASSERT(offsetof(NULLMODEM_SWITCH_REQUEST, on) == 4, "switch request: switch at byte 4");
TARN_STATIC_ASSERT(offsetof(NULLMODEM_PORT_STATE, modemStatus) == 32 &&
                   offsetof(NULLMODEM_PORT_STATE, lineSource) == 36 &&
                   offsetof(NULLMODEM_PORT_STATE, baudRate) == 52 &&
                   offsetof(NULLMODEM_PORT_STATE, bytesSent) == 80 &&
                   offsetof(NULLMODEM_PORT_STATE, requests) == 84, "port state fields");
TARN_STATIC_ASSERT(sizeof(NULLMODEM_PORT_STATE) == 84 + 4 * NULLMODEM_REQ_COUNT, "port state");

#endif /* TARN_NULLMODEM_CONTROL_H */
