/*
 * The USB stand-in's interface: the device requests it answers (defined with
 * the library, usb/device_interface.h) and the control device that lets tests
 * and the `standin usb` tool inspect and steer it.  Plain C with fixed-width
 * types, so the kernel-mode driver, C and C++ user-mode clients of either
 * architecture share one definition.  All structures are packed to 4 bytes.
 */
#ifndef TARN_USB_CONTROL_H
#define TARN_USB_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#include "usb/device_interface.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bulk transfers on the main endpoint, as they appear in the log and in failure
   injection (ReadFile and WriteFile carry no control code). */
#define TARN_USB_BULK_READ      0x00000003u
#define TARN_USB_BULK_WRITE     0x00000004u
/* In failure injection: any request of the device. */
#define TARN_USB_ANY_REQUEST    0x00000000u

#define TARN_USB_MAX_VENDOR_DATA    4096 /* data stage limit of a vendor request   */
#define TARN_USB_LOCK_TYPES         8

/* Answer byte of TARN_USB_QUERY_LOCK. */
#define TARN_USB_LOCK_FREE          0
#define TARN_USB_LOCK_HELD_BY_OTHER 1
#define TARN_USB_LOCK_HELD_BY_YOU   2

/* ---- The control device ---- */
#define TARN_USB_CONTROL_PATH_W  L"\\\\.\\TarnUsbControl"

#define TARN_USB_KIND_LUMO  0  /* \\.\LUMOn  */
#define TARN_USB_KIND_Q0215 1  /* \\.\Q0215n */

typedef struct TarnUsbDeviceId {
    uint16_t kind;   /* TARN_USB_KIND_* */
    int16_t number;
} TarnUsbDeviceId;

/* in: TarnUsbLogQuery; out: TarnUsbLogHeader followed by as many TarnUsbLogEntry
   (oldest first) as fit in the output buffer. */
#define TARN_USB_CONTROL_GET_LOG        TARN_USB_CTL_CODE(0x900)
/* in/out: none.  Empties the log; sequence numbers keep counting. */
#define TARN_USB_CONTROL_CLEAR_LOG      TARN_USB_CTL_CODE(0x901)
/* in: TarnUsbDeviceId; out: TarnUsbDeviceStatus. */
#define TARN_USB_CONTROL_GET_STATUS     TARN_USB_CTL_CODE(0x902)
/* in: none; out: as many TarnUsbDeviceStatus as there are devices (and fit). */
#define TARN_USB_CONTROL_LIST           TARN_USB_CTL_CODE(0x903)
/* in: TarnUsbDeviceId.  Zeroes the counters (requests, max in flight, resets)
   and drops armed failures, delays and short reads. */
#define TARN_USB_CONTROL_RESET          TARN_USB_CTL_CODE(0x904)
/* in: TarnUsbFailure.  The next `count` requests of `code` fail with `status`. */
#define TARN_USB_CONTROL_FAIL           TARN_USB_CTL_CODE(0x905)
/* in: TarnUsbDelay.  The next `count` requests are held `milliseconds` first. */
#define TARN_USB_CONTROL_DELAY          TARN_USB_CTL_CODE(0x906)
/* in: TarnUsbShortRead.  The next vendor read returns at most `bytes` bytes. */
#define TARN_USB_CONTROL_SHORT_READ     TARN_USB_CTL_CODE(0x907)
/* in: TarnUsbPlug.  Unplug: the name disappears, open handles fail every request
   from then on (also after a replug), parked requests fail, and registers,
   loopback data and locks are lost.  Replug: the name comes back, fresh. */
#define TARN_USB_CONTROL_PLUG           TARN_USB_CTL_CODE(0x908)

#pragma pack(push, 4)

typedef struct TarnUsbLogQuery {
    uint32_t after_sequence; /* return entries with a greater sequence number; 0: all kept */
} TarnUsbLogQuery;

typedef struct TarnUsbLogHeader {
    uint32_t next_sequence;   /* the number the next request will get */
    uint32_t oldest_sequence; /* the oldest entry still kept (0: log empty) */
    uint32_t count;           /* entries that follow */
} TarnUsbLogHeader;

#define TARN_USB_LOG_DATA    256 /* input bytes kept per entry */
#define TARN_USB_LOG_ENTRIES 256 /* entries kept */

typedef struct TarnUsbLogEntry {
    uint32_t sequence;      /* 1, 2, ... in the order the requests arrived */
    TarnUsbDeviceId device;
    uint32_t handle_id;     /* which open of the device sent it (1, 2, ... per driver load) */
    uint32_t code;          /* control code, TARN_USB_BULK_READ or TARN_USB_BULK_WRITE */
    uint32_t input_length;  /* bytes sent: control input, or the bytes of a write */
    uint32_t output_length; /* bytes asked for: control output, or the length of a read */
    int32_t status;         /* NTSTATUS it completed with; 0x103 (pending) until then */
    uint32_t information;   /* bytes returned or moved */
    uint32_t data_length;   /* min(input_length, TARN_USB_LOG_DATA) */
    uint8_t data[TARN_USB_LOG_DATA]; /* input as received: request block then data */
} TarnUsbLogEntry;

typedef struct TarnUsbDeviceStatus {
    TarnUsbDeviceId device;
    uint32_t plugged;
    uint32_t open_handles;
    uint32_t requests;        /* received since the last reset of the counters */
    uint32_t in_flight;       /* received and not yet completed */
    uint32_t max_in_flight;   /* the most ever in flight at once since the last reset */
    uint32_t loopback_bytes;  /* written and not yet read */
    uint32_t loopback_capacity; /* a write that would exceed it fails */
    uint32_t pending_reads;
    uint32_t resets_in;
    uint32_t resets_out;
    uint32_t lock_holders[TARN_USB_LOCK_TYPES]; /* handle_id of the holder, 0 if free */
} TarnUsbDeviceStatus;

typedef struct TarnUsbFailure {
    TarnUsbDeviceId device;
    uint32_t code;   /* a device request code, TARN_USB_BULK_*, or TARN_USB_ANY_REQUEST */
    uint32_t count;  /* 0 disarms */
    int32_t status;  /* NTSTATUS to fail with; 0 means STATUS_IO_DEVICE_ERROR */
} TarnUsbFailure;

typedef struct TarnUsbDelay {
    TarnUsbDeviceId device;
    uint32_t milliseconds;
    uint32_t count;  /* 0 disarms */
} TarnUsbDelay;

typedef struct TarnUsbShortRead {
    TarnUsbDeviceId device;
    uint32_t bytes;  /* returned instead of the length asked for, when that is larger */
} TarnUsbShortRead;

typedef struct TarnUsbPlug {
    TarnUsbDeviceId device;
    uint32_t plugged; /* 0 unplug, 1 replug */
} TarnUsbPlug;

#pragma pack(pop)

/* The same layout for 32-bit and 64-bit clients and drivers. */
TARN_STATIC_ASSERT(sizeof(TarnUsbDeviceId) == 4, "device id");
TARN_STATIC_ASSERT(sizeof(TarnUsbLogQuery) == 4, "log query");
TARN_STATIC_ASSERT(sizeof(TarnUsbLogHeader) == 12, "log header");
TARN_STATIC_ASSERT(sizeof(TarnUsbLogEntry) == 36 + TARN_USB_LOG_DATA, "log entry");
TARN_STATIC_ASSERT(offsetof(TarnUsbLogEntry, handle_id) == 8 && offsetof(TarnUsbLogEntry, status) == 24 &&
                   offsetof(TarnUsbLogEntry, data) == 36, "log entry fields");
TARN_STATIC_ASSERT(sizeof(TarnUsbDeviceStatus) == 44 + 4 * TARN_USB_LOCK_TYPES, "device status");
TARN_STATIC_ASSERT(offsetof(TarnUsbDeviceStatus, max_in_flight) == 20 &&
                   offsetof(TarnUsbDeviceStatus, lock_holders) == 44, "device status fields");
TARN_STATIC_ASSERT(sizeof(TarnUsbFailure) == 16 && offsetof(TarnUsbFailure, status) == 12, "failure");
TARN_STATIC_ASSERT(sizeof(TarnUsbDelay) == 12, "delay");
TARN_STATIC_ASSERT(sizeof(TarnUsbShortRead) == 8, "short read");
TARN_STATIC_ASSERT(sizeof(TarnUsbPlug) == 8, "plug");

#ifdef __cplusplus
}
#endif

#endif /* TARN_USB_CONTROL_H */
