/*
 * The USB stand-in driver's shared types.  One spin lock (Standin.lock) guards
 * all mutable state: Wine calls the dispatch routines, cancel routines and the
 * delay worker from different threads.  Requests are completed only after the
 * lock is released.
 */
#ifndef TARN_USB_STANDIN_H
#define TARN_USB_STANDIN_H

#include <ntifs.h>
#include "driver_support.h"
#include "usb_control.h"

#define TAG_STANDIN 0x55726E54u /* "TnrU" in pool dumps */
/* Frees a block of the driver's pool, if one is held, and forgets it. */
#define FREE_POOL_BLOCK(pointer)                         \
    do {                                                 \
        if (pointer)                                     \
            ExFreePoolWithTag((pointer), TAG_STANDIN);   \
        (pointer) = NULL;                                \
    } while (0)
#define MAX_DEVICES_PER_KIND 16
#define DEFAULT_DEVICES_PER_KIND 2
#define DEFAULT_LOOPBACK_BYTES (1024 * 1024)
#define ARMED_FAILURES 8
#define VENDOR_CODES 256

struct Standin;

typedef struct VendorRegister {
    ULONG length;
    UCHAR data[TARN_USB_MAX_VENDOR_DATA];
} VendorRegister;

typedef struct ArmedFailure {
    ULONG code;
    ULONG count;
    NTSTATUS status;
} ArmedFailure;

/* The main endpoint's loopback: bytes written wait here until read. */
typedef struct Loopback {
    UCHAR *buffer;
    ULONG capacity;
    ULONG head;  /* index of the oldest byte */
    ULONG count;
} Loopback;

struct OpenFile;

/* Extension of a USB device object (\Device\TarnUsbLUMO0 ...). */
typedef struct UsbDevice {
    ULONG is_control; /* FALSE; shares the offset with Standin.is_control */
    struct Standin *standin;
    PDEVICE_OBJECT object;
    TarnUsbDeviceId id;
    WCHAR name[12];          /* LUMO0, Q02151 */
    BOOLEAN plugged;
    ULONG generation;        /* bumped by every unplug; older handles are dead */
    ULONG open_handles;

    ULONG requests, in_flight, max_in_flight, resets_in, resets_out;

    VendorRegister *registers[VENDOR_CODES];
    struct OpenFile *lock_holders[TARN_USB_LOCK_TYPES];
    Loopback loopback;
    LIST_ENTRY pending_reads; /* parked reads, waiting for their bytes */
    LIST_ENTRY delayed;       /* parked requests, waiting for their due time */

    ArmedFailure failures[ARMED_FAILURES];
    ULONG delay_ms, delay_count;
    ULONG short_read_bytes;
    BOOLEAN short_read_armed;
} UsbDevice;

/* FsContext of a handle on a USB device.  Its requests keep it alive: one of
   them may still be on its way through the delay worker when the handle closes. */
typedef struct OpenFile {
    UsbDevice *device;
    ULONG generation;
    ULONG handle_id;
    ULONG references; /* the open handle and each of its requests in flight */
    BOOLEAN closed;
} OpenFile;

typedef struct RequestLog {
    TarnUsbLogEntry *entries; /* ring of TARN_USB_LOG_ENTRIES */
    ULONG next_sequence;
    ULONG oldest_sequence;    /* 0 while empty */
} RequestLog;

/* Extension of the control device: the driver's whole context. */
typedef struct Standin {
    ULONG is_control; /* TRUE */
    PDRIVER_OBJECT driver;
    PDEVICE_OBJECT control;
    KSPIN_LOCK lock;
    ULONG next_handle_id;
    RequestLog log;
    ULONG device_count;
    UsbDevice *devices[2 * MAX_DEVICES_PER_KIND];
    ULONG loopback_bytes;
    HANDLE worker;
    KEVENT worker_wake;
    KEVENT worker_stop;
} Standin;

#ifndef min
#define min(a, b) ((a) < (b) ? (a) : (b))
#define max(a, b) ((a) > (b) ? (a) : (b))
#endif

/* What the driver keeps in a request it owns (Tail.Overlay.DriverContext):
   its log sequence number, while delayed its due time, and its handle's OpenFile. */
static inline ULONG irp_log_sequence(PIRP irp)
{
    return (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[0];
}
static inline void set_irp_log_sequence(PIRP irp, ULONG sequence)
{
    irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)sequence;
}
static inline ULONGLONG irp_due(PIRP irp)
{
    return ((ULONGLONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[2] << 32)
         | (ULONG_PTR)irp->Tail.Overlay.DriverContext[1];
}
static inline void set_irp_due(PIRP irp, ULONGLONG due)
{
    irp->Tail.Overlay.DriverContext[1] = (PVOID)(ULONG_PTR)(ULONG)due;
    irp->Tail.Overlay.DriverContext[2] = (PVOID)(ULONG_PTR)(ULONG)(due >> 32);
}
static inline OpenFile *irp_file(PIRP irp)
{
    return irp->Tail.Overlay.DriverContext[3];
}
static inline void set_irp_file(PIRP irp, OpenFile *file)
{
    irp->Tail.Overlay.DriverContext[3] = file;
}

/* The code a request is logged and steered by. */
static inline ULONG request_code(PIO_STACK_LOCATION stack)
{
    switch (stack->MajorFunction) {
    case IRP_MJ_READ: return TARN_USB_BULK_READ;
    case IRP_MJ_WRITE: return TARN_USB_BULK_WRITE;
    default: return stack->Parameters.DeviceIoControl.IoControlCode;
    }
}

/* driver.c */
void complete_request(UsbDevice *device, PIRP irp, NTSTATUS status, ULONG_PTR information);
UsbDevice *find_device(Standin *standin, const TarnUsbDeviceId *id);
void set_plugged(UsbDevice *device, BOOLEAN plugged);

/* parked.c: cancel-safe queues of pending requests.  Called with the lock held. */
BOOLEAN park_request_locked(LIST_ENTRY *queue, PIRP irp);
BOOLEAN unpark_locked(PIRP irp);
void unpark_all_locked(LIST_ENTRY *queue, PFILE_OBJECT only_file, LIST_ENTRY *taken);
void complete_taken(UsbDevice *device, LIST_ENTRY *taken, NTSTATUS status);

/* requests.c: the device's answers to its requests. */
NTSTATUS carry_out_request(UsbDevice *device, PIRP irp);
void release_locks_of_locked(UsbDevice *device, OpenFile *file);
void forget_device_state_locked(UsbDevice *device);

/* loopback.c */
NTSTATUS loopback_init(Loopback *loopback, ULONG capacity);
void loopback_free(Loopback *loopback);
BOOLEAN loopback_put_locked(Loopback *loopback, const UCHAR *data, ULONG length);
void loopback_take_locked(Loopback *loopback, UCHAR *data, ULONG length);
void loopback_clear_locked(Loopback *loopback);

/* request_log.c */
NTSTATUS log_init(RequestLog *log);
void log_free(RequestLog *log);
ULONG log_append_locked(RequestLog *log, const UsbDevice *device, ULONG handle_id, ULONG code,
                        const void *input, ULONG input_length, ULONG output_length);
void log_complete_locked(RequestLog *log, ULONG sequence, NTSTATUS status, ULONG information);
void log_clear_locked(RequestLog *log);
ULONG log_copy_locked(RequestLog *log, ULONG after_sequence, void *out, ULONG out_length);

/* delay.c: the worker that carries out delayed requests when they are due. */
NTSTATUS delay_worker_start(Standin *standin);
void delay_worker_stop(Standin *standin);
void delay_request_locked(UsbDevice *device, PIRP irp, ULONG milliseconds, LIST_ENTRY *cancelled);

/* control.c */
NTSTATUS control_device_request(Standin *standin, PIRP irp);

#endif
