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
 */
#ifndef TARN_NULLMODEM_CONTROL_H
#define TARN_NULLMODEM_CONTROL_H

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

typedef struct NULLMODEM_INFO {
    unsigned long version;                   /* NULLMODEM_INFO_VERSION */
    unsigned long portCount;
    unsigned long ports[NULLMODEM_MAX_PORTS]; /* COM numbers; ports[2k] and ports[2k+1] are wired together */
} NULLMODEM_INFO;

typedef struct NULLMODEM_PORT_REF {
    unsigned long port;
} NULLMODEM_PORT_REF;

typedef struct NULLMODEM_LINE_REQUEST {
    unsigned long port;
    unsigned long line;   /* enum NULLMODEM_LINE */
    unsigned long source; /* enum NULLMODEM_LINE_SOURCE */
} NULLMODEM_LINE_REQUEST;

typedef struct NULLMODEM_FAULT_REQUEST {
    unsigned long port;
    unsigned long kind;   /* enum NULLMODEM_REQUEST_KIND, or NULLMODEM_REQ_ANY_ESCAPE */
    unsigned long count;  /* how many of the next requests of that kind fail; 0 clears */
    long status;          /* NTSTATUS they fail with, e.g. 0xC0000001 (STATUS_UNSUCCESSFUL) */
} NULLMODEM_FAULT_REQUEST;

typedef struct NULLMODEM_SWITCH_REQUEST {
    unsigned long port;
    unsigned long on;
} NULLMODEM_SWITCH_REQUEST;

typedef struct NULLMODEM_PORT_STATE {
    unsigned long port;
    unsigned long peer;
    unsigned long isOpen;
    unsigned long plugged;
    unsigned long pacing;
    unsigned long dtr, rts, breakOn;         /* this port's outputs */
    unsigned long modemStatus;               /* what GET_MODEMSTATUS answers: 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD */
    unsigned long lineSource[NULLMODEM_LINE_COUNT]; /* enum NULLMODEM_LINE_SOURCE, by enum NULLMODEM_LINE */
    unsigned long baudRate;
    unsigned long waitMask;
    unsigned long waitsPending;              /* 0 or 1 */
    unsigned long readsPending;
    unsigned long writesPending;
    unsigned long bytesInInputQueue;
    unsigned long bytesReceived;             /* since the last reset */
    unsigned long bytesSent;
    unsigned long requests[NULLMODEM_REQ_COUNT]; /* by enum NULLMODEM_REQUEST_KIND, since the last reset */
} NULLMODEM_PORT_STATE;

#endif /* TARN_NULLMODEM_CONTROL_H */
