/* Internal state of the null-modem stand-in driver. */
#ifndef TARN_NULLMODEM_H
#define TARN_NULLMODEM_H

#include <ntddk.h>
#include <ntddser.h>
#include "nullmodem_control.h"

#define NM_POOL_TAG 0x6D4E7254UL /* "TrNm" */
#define NM_MAX_FAULTS 8
#define NM_TICKS_PER_MS 10000LL /* time is kept in 100 ns ticks */
#define NM_NO_DEADLINE 0x7FFFFFFFFFFFFFFFLL
/* FsContext2 of a port's file once its open was decided; FsContext then holds the verdict (an NTSTATUS) */
#define NM_FILE_VERDICT ((PVOID)(ULONG_PTR)0x4E4D)

typedef struct NullModemFault {
    ULONG kind;   /* 0 = free slot, else kind + 1 */
    ULONG count;
    NTSTATUS status;
} NullModemFault;

/* How the current read ends, chosen from the time-outs when it starts. */
typedef enum NullModemReadMode {
    NM_READ_WAIT_ALL,      /* until n bytes, the total or the interval time-out */
    NM_READ_IMMEDIATE,     /* MAXDWORD/0/0: whatever is there, at once */
    NM_READ_FIRST_BYTE     /* MAXDWORD/MAXDWORD/c: at once if anything is there, else the first byte or c ms */
} NullModemReadMode;

typedef struct NullModemPort {
    ULONG number;                 /* COM number */
    ULONG index;
    struct NullModemPort *peer;
    PDEVICE_OBJECT device;
    WCHAR device_name[48];         /* \Device\TarnNullModemN, also the SERIALCOMM value name */
    WCHAR link_name[32];           /* \DosDevices\COMnn */
    WCHAR com_name[16];            /* COMnn */
    BOOLEAN linked;

    BOOLEAN plugged;
    BOOLEAN pacing;
    PFILE_OBJECT open_file;        /* the one open handle's file, or NULL */
    BOOLEAN owner_used;            /* the open handle has made a request */
    PFILE_OBJECT contender;       /* a newer open waiting for an idle owner's close, or NULL */
    BOOLEAN contender_sync;        /* its handle waits for each request to end */
    LONGLONG contender_deadline;
    PFILE_OBJECT displaced;       /* an idle owner an overlapped contender took over from, or NULL */
    LIST_ENTRY parked;            /* the contender's requests until the port is decided */

    /* settings, back to defaults at every open */
    ULONG baud_rate;
    SERIAL_LINE_CONTROL line_control;
    SERIAL_HANDFLOW hand_flow;
    SERIAL_CHARS chars;
    SERIAL_TIMEOUTS timeouts;
    SERIAL_QUEUE_SIZE queue_size;

    /* outputs */
    BOOLEAN dtr, rts, break_on;
    /* inputs */
    ULONG line_source[TARN_NULLMODEM_LINE_COUNT];
    ULONG modem_status;            /* last reported, to see changes */

    /* input queue (ring) */
    UCHAR *rx;
    ULONG rx_head, rx_count;
    LONGLONG last_rx_time;
    ULONG errors;                 /* SERIAL_ERROR_*, cleared by GET_COMMSTATUS */

    /* events */
    ULONG wait_mask, history;
    LIST_ENTRY waits;             /* at most one WAIT_ON_MASK */

    /* pending transfers; the head of each list is the current one */
    LIST_ENTRY reads, writes;
    BOOLEAN read_started, write_started;
    NullModemReadMode read_mode;
    LONGLONG read_start, read_deadline;
    ULONG read_interval;           /* ms, 0 = none */
    LONGLONG write_deadline, tx_ready;
    ULONG write_sent;

    NullModemFault faults[NM_MAX_FAULTS];
    ULONG requests[TARN_NULLMODEM_REQ_COUNT];
    ULONG bytes_received, bytes_sent;
} NullModemPort;

typedef enum NullModemDeviceKind { NM_DEVICE_PORT, NM_DEVICE_CONTROL } NullModemDeviceKind;

typedef struct NullModemDeviceExtension {
    NullModemDeviceKind kind;
    NullModemPort *port;
} NullModemDeviceExtension;

/* The driver record: every port and its state is guarded by one spin lock. */
typedef struct NullModemDriver {
    KSPIN_LOCK lock;
    ULONG port_count;
    NullModemPort ports[TARN_NULLMODEM_MAX_PORTS];
    PDEVICE_OBJECT control;
    BOOLEAN control_linked;
    /* timer thread */
    KEVENT wake;
    HANDLE thread;
    volatile LONG stopping;
    LARGE_INTEGER frequency;
} NullModemDriver;

extern NullModemDriver g_nm;

/* Requests finished under the lock are completed after it is released. */
typedef struct NullModemDoneList {
    LIST_ENTRY irps;
} NullModemDoneList;

/* not declared by the DDK headers at hand */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

/* clock.c */
LONGLONG nm_now(void);
NTSTATUS nm_start_timer_thread(void);
void nm_stop_timer_thread(void);
void nm_wake_timer(void);

/* irp_queue.c */
void nm_done_init(NullModemDoneList *done);
void nm_finish(NullModemDoneList *done, PIRP irp, NTSTATUS status, ULONG_PTR information);
void nm_complete_done(NullModemDoneList *done);
NTSTATUS nm_queue(LIST_ENTRY *list, PIRP irp);          /* with the lock held; STATUS_PENDING or STATUS_CANCELLED */
PIRP nm_take_head(LIST_ENTRY *list);                     /* NULL if empty; skips requests being cancelled */
PIRP nm_peek_head(LIST_ENTRY *list);
BOOLEAN nm_take_irp(PIRP irp);                            /* FALSE if it is being cancelled */
void nm_fail_all(LIST_ENTRY *list, NullModemDoneList *done, NTSTATUS status);
ULONG nm_count_list(LIST_ENTRY *list);
PVOID nm_irp_buffer(PIRP irp);
PFILE_OBJECT nm_irp_file(PIRP irp);

/* port_io.c */
void nm_service_all(LONGLONG now, NullModemDoneList *done, LONGLONG *next_wake);
void nm_deliver(NullModemPort *to, const UCHAR *data, ULONG count, LONGLONG now, NullModemDoneList *done);
void nm_raise_events(NullModemPort *port, ULONG events, NullModemDoneList *done);
void nm_update_modem_status(NullModemPort *port, NullModemDoneList *done);
ULONG nm_modem_status(const NullModemPort *port);
void nm_reset_settings(NullModemPort *port);
void nm_detach(NullModemPort *port, NullModemDoneList *done, NTSTATUS status);
NTSTATUS NTAPI nm_dispatch_read(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI nm_dispatch_write(PDEVICE_OBJECT device, PIRP irp);

/* ownership.c: one open handle at a time */
NTSTATUS nm_claim(NullModemPort *port, PIRP irp, NullModemDoneList *done);
void nm_release(NullModemPort *port, PFILE_OBJECT file, NullModemDoneList *done, LIST_ENTRY *granted);
void nm_redispatch(NullModemPort *port, LIST_ENTRY *granted);  /* without the lock */
void nm_refuse_contender(NullModemPort *port, NTSTATUS status, NullModemDoneList *done); /* and forgets a displaced owner */
/* STATUS_SUCCESS, a refusal, or STATUS_PENDING when the request waits for the port */
NTSTATUS nm_handle_status(NullModemPort *port, PIRP irp, NullModemDoneList *done);
void nm_service_contender(NullModemPort *port, LONGLONG now, NullModemDoneList *done, LONGLONG *next);

/* port_ioctl.c */
NTSTATUS nm_port_ioctl(NullModemPort *port, PIRP irp);
ULONG nm_ioctl_kind(ULONG code);

/* requests.c: counting and injected faults */
BOOLEAN nm_take_fault(NullModemPort *port, ULONG kind, NTSTATUS *status);
void nm_count(NullModemPort *port, ULONG kind);

/* control.c */
NTSTATUS nm_control_ioctl(PIRP irp);

/* registry.c */
void nm_read_parameters(PUNICODE_STRING registry_path, ULONG *pairs, ULONG *first_port);
void nm_format_name(WCHAR *buffer, ULONG capacity, const WCHAR *prefix, ULONG number);
void nm_publish_port(NullModemPort *port, BOOLEAN present);

/* driver.c: the port's COM name and its SERIALCOMM entry come and go with the plug */
void nm_show_port(NullModemPort *port, BOOLEAN present);

/* driver.c */
NullModemPort *nm_find_port(ULONG number);
NTSTATUS nm_complete_now(PIRP irp, NTSTATUS status, ULONG_PTR information);
void nm_kick(NullModemDoneList *done);  /* with the lock held: move what can move now */

/* What a read or write that ran into its time-out finishes with. */
#define NM_STATUS_TIMED_OUT STATUS_TIMEOUT

#endif
