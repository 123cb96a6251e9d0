/*
 * The null-modem stand-in driver's shared types.  One spin lock (NullModem.lock)
 * guards every port: Wine calls the dispatch routines, cancel routines and the
 * timer thread from different threads.  Requests finished under the lock are
 * completed only after it is released.
 */
#ifndef TARN_NULLMODEM_H
#define TARN_NULLMODEM_H

#include <ntddk.h>
#include <ntddser.h>
#include "driver_support.h"
#include "nullmodem_control.h"

#define TAG_NULLMODEM 0x6D4E7254UL /* "TrNm" */
#define ARMED_FAULTS 8
#define TICKS_PER_MS 10000LL /* time is kept in 100 ns ticks */
#define NO_DEADLINE 0x7FFFFFFFFFFFFFFFLL
/* FsContext2 of a port's file once its open was decided; FsContext then holds the verdict (an NTSTATUS) */
#define FILE_VERDICT ((PVOID)(ULONG_PTR)0x4E4D)

typedef struct ArmedFault {
    ULONG kind;   /* 0 = free slot, else kind + 1 */
    ULONG count;
    NTSTATUS status;
} ArmedFault;

/* How the current read ends, chosen from the time-outs when it starts. */
typedef enum ReadMode {
    READ_WAIT_ALL,      /* until n bytes, the total or the interval time-out */
    READ_IMMEDIATE,     /* MAXDWORD/0/0: whatever is there, at once */
    READ_FIRST_BYTE     /* MAXDWORD/MAXDWORD/c: at once if anything is there, else the first byte or c ms */
} ReadMode;

struct NullModem;

/* Extension of a port's device object (\Device\TarnNullModemN). */
typedef struct Port {
    ULONG is_control;              /* FALSE; shares the offset with NullModem.is_control */
    struct NullModem *modem;
    ULONG number;                 /* COM number */
    ULONG index;
    struct Port *peer;
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
    ReadMode read_mode;
    LONGLONG read_start, read_deadline;
    ULONG read_interval;           /* ms, 0 = none */
    LONGLONG write_deadline, tx_ready;
    ULONG write_sent;

    ArmedFault faults[ARMED_FAULTS];
    ULONG requests[TARN_NULLMODEM_REQ_COUNT];
    ULONG bytes_received, bytes_sent;
} Port;

/* Extension of the control device: the driver's whole context. */
typedef struct NullModem {
    ULONG is_control;              /* TRUE */
    KSPIN_LOCK lock;
    ULONG port_count;
    Port *ports[TARN_NULLMODEM_MAX_PORTS];
    PDEVICE_OBJECT control;
    BOOLEAN control_linked;
    /* timer thread */
    KEVENT wake;
    HANDLE thread;
    volatile LONG stopping;
} NullModem;

/* Requests finished under the lock are completed after it is released. */
typedef struct DoneList {
    LIST_ENTRY irps;
} DoneList;

/* not declared by the DDK headers at hand */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

/* clock.c */
LONGLONG clock_now(void);
NTSTATUS timer_start(NullModem *modem);
void timer_stop(NullModem *modem);
void timer_wake(NullModem *modem);

/* irp_queue.c */
void done_init(DoneList *done);
void done_add(DoneList *done, PIRP irp, NTSTATUS status, ULONG_PTR information);
void done_complete(DoneList *done);
NTSTATUS queue_request(LIST_ENTRY *list, PIRP irp); /* with the lock held; STATUS_PENDING or STATUS_CANCELLED */
PIRP peek_head(LIST_ENTRY *list);
BOOLEAN take_irp(PIRP irp); /* FALSE if it is being cancelled */
void fail_all(LIST_ENTRY *list, DoneList *done, NTSTATUS status);
ULONG count_list(LIST_ENTRY *list);
PVOID irp_buffer(PIRP irp);
PFILE_OBJECT irp_file(PIRP irp);

/* port_io.c */
void service_all(NullModem *modem, LONGLONG now, DoneList *done, LONGLONG *next_wake);
void deliver(Port *to, const UCHAR *data, ULONG count, LONGLONG now, DoneList *done);
void raise_events(Port *port, ULONG events, DoneList *done);
void update_modem_status(Port *port, DoneList *done);
ULONG modem_status_of(const Port *port);
void reset_settings(Port *port);
void detach(Port *port, DoneList *done, NTSTATUS status);
NTSTATUS NTAPI dispatch_read(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI dispatch_write(PDEVICE_OBJECT device, PIRP irp);

/* ownership.c: one open handle at a time */
NTSTATUS claim_port(Port *port, PIRP irp, DoneList *done);
void release_port(Port *port, PFILE_OBJECT file, DoneList *done, LIST_ENTRY *granted);
void redispatch(Port *port, LIST_ENTRY *granted);  /* without the lock */
void refuse_contender(Port *port, NTSTATUS status, DoneList *done); /* and forgets a displaced owner */
/* STATUS_SUCCESS, a refusal, or STATUS_PENDING when the request waits for the port */
NTSTATUS handle_status(Port *port, PIRP irp, DoneList *done);
void service_contender(Port *port, LONGLONG now, DoneList *done, LONGLONG *next);

/* port_ioctl.c */
NTSTATUS port_request(Port *port, PIRP irp);
ULONG request_kind(ULONG code);

/* requests.c: counting and injected faults */
BOOLEAN take_fault(Port *port, ULONG kind, NTSTATUS *status);
void count_request(Port *port, ULONG kind);

/* control.c */
NTSTATUS control_device_request(NullModem *modem, PIRP irp);

/* registry.c */
void read_parameters(PUNICODE_STRING registry_path, ULONG *pairs, ULONG *first_port);
void format_name(WCHAR *buffer, ULONG capacity, const WCHAR *prefix, ULONG number);
void publish_port(Port *port, BOOLEAN present);

/* driver.c: the port's COM name and its SERIALCOMM entry come and go with the plug */
void show_port(Port *port, BOOLEAN present);

/* driver.c */
Port *find_port(NullModem *modem, ULONG number);
void kick(NullModem *modem, DoneList *done);  /* with the lock held: move what can move now */
/* After a request's turn under the lock: kick, release the lock, complete what
 * finished, and let the timer thread see the new deadlines. */
void kick_and_unlock(NullModem *modem, DoneList *done, KIRQL irql);

/* What a read or write that ran into its time-out finishes with. */
#define TRANSFER_TIMED_OUT STATUS_TIMEOUT

#endif
