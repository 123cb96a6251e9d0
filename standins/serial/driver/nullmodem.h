/* Internal state of the null-modem stand-in driver. */
#ifndef TARN_NULLMODEM_H
#define TARN_NULLMODEM_H

#include <ntddk.h>
#include <ntddser.h>
#include "../nullmodem_control.h"

#define NM_POOL_TAG 0x6D4E7254UL /* "TrNm" */
#define NM_MAX_FAULTS 8
#define NM_TICKS_PER_MS 10000LL /* time is kept in 100 ns ticks */
#define NM_NO_DEADLINE 0x7FFFFFFFFFFFFFFFLL
/* FsContext2 of a port's file once its open was decided; FsContext then holds the verdict (an NTSTATUS) */
#define NM_FILE_VERDICT ((PVOID)(ULONG_PTR)0x4E4D)

typedef struct NM_FAULT {
    ULONG kind;   /* 0 = free slot, else kind + 1 */
    ULONG count;
    NTSTATUS status;
} NM_FAULT;

/* How the current read ends, chosen from the time-outs when it starts. */
typedef enum NM_READ_MODE {
    NM_READ_WAIT_ALL,      /* until n bytes, the total or the interval time-out */
    NM_READ_IMMEDIATE,     /* MAXDWORD/0/0: whatever is there, at once */
    NM_READ_FIRST_BYTE     /* MAXDWORD/MAXDWORD/c: at once if anything is there, else the first byte or c ms */
} NM_READ_MODE;

typedef struct NM_PORT {
    ULONG number;                 /* COM number */
    ULONG index;
    struct NM_PORT *peer;
    PDEVICE_OBJECT device;
    WCHAR deviceName[48];         /* \Device\TarnNullModemN, also the SERIALCOMM value name */
    WCHAR linkName[32];           /* \DosDevices\COMnn */
    WCHAR comName[16];            /* COMnn */
    BOOLEAN linked;

    BOOLEAN plugged;
    BOOLEAN pacing;
    PFILE_OBJECT openFile;        /* the one open handle's file, or NULL */
    BOOLEAN ownerUsed;            /* the open handle has made a request */
    PFILE_OBJECT contender;       /* a newer open waiting for an idle owner's close, or NULL */
    BOOLEAN contenderSync;        /* its handle waits for each request to end */
    LONGLONG contenderDeadline;
    PFILE_OBJECT displaced;       /* an idle owner an overlapped contender took over from, or NULL */
    LIST_ENTRY parked;            /* the contender's requests until the port is decided */

    /* settings, back to defaults at every open */
    ULONG baudRate;
    SERIAL_LINE_CONTROL lineControl;
    SERIAL_HANDFLOW handFlow;
    SERIAL_CHARS chars;
    SERIAL_TIMEOUTS timeouts;
    SERIAL_QUEUE_SIZE queueSize;

    /* outputs */
    BOOLEAN dtr, rts, breakOn;
    /* inputs */
    ULONG lineSource[NULLMODEM_LINE_COUNT];
    ULONG modemStatus;            /* last reported, to see changes */

    /* input queue (ring) */
    UCHAR *rx;
    ULONG rxHead, rxCount;
    LONGLONG lastRxTime;
    ULONG errors;                 /* SERIAL_ERROR_*, cleared by GET_COMMSTATUS */

    /* events */
    ULONG waitMask, history;
    LIST_ENTRY waits;             /* at most one WAIT_ON_MASK */

    /* pending transfers; the head of each list is the current one */
    LIST_ENTRY reads, writes;
    BOOLEAN readStarted, writeStarted;
    NM_READ_MODE readMode;
    LONGLONG readStart, readDeadline;
    ULONG readInterval;           /* ms, 0 = none */
    LONGLONG writeDeadline, txReady;
    ULONG writeSent;

    NM_FAULT faults[NM_MAX_FAULTS];
    ULONG requests[NULLMODEM_REQ_COUNT];
    ULONG bytesReceived, bytesSent;
} NM_PORT;

typedef enum NM_DEVICE_KIND { NM_DEVICE_PORT, NM_DEVICE_CONTROL } NM_DEVICE_KIND;

typedef struct NM_DEVICE_EXTENSION {
    NM_DEVICE_KIND kind;
    NM_PORT *port;
} NM_DEVICE_EXTENSION;

/* The driver record: every port and its state is guarded by one spin lock. */
typedef struct NM_DRIVER {
    KSPIN_LOCK lock;
    ULONG portCount;
    NM_PORT ports[NULLMODEM_MAX_PORTS];
    PDEVICE_OBJECT control;
    BOOLEAN controlLinked;
    /* timer thread */
    KEVENT wake;
    HANDLE thread;
    volatile LONG stopping;
    LARGE_INTEGER frequency;
} NM_DRIVER;

extern NM_DRIVER g_nm;

/* Requests finished under the lock are completed after it is released. */
typedef struct NM_DONE_LIST {
    LIST_ENTRY irps;
} NM_DONE_LIST;

/* not declared by the DDK headers at hand */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

/* clock.c */
LONGLONG NmNow(void);
NTSTATUS NmStartTimerThread(void);
void NmStopTimerThread(void);
void NmWakeTimer(void);

/* irp_queue.c */
void NmDoneInit(NM_DONE_LIST *done);
void NmFinish(NM_DONE_LIST *done, PIRP irp, NTSTATUS status, ULONG_PTR information);
void NmCompleteDone(NM_DONE_LIST *done);
NTSTATUS NmQueue(LIST_ENTRY *list, PIRP irp);          /* with the lock held; STATUS_PENDING or STATUS_CANCELLED */
PIRP NmTakeHead(LIST_ENTRY *list);                     /* NULL if empty; skips requests being cancelled */
PIRP NmPeekHead(LIST_ENTRY *list);
BOOLEAN NmTakeIrp(PIRP irp);                            /* FALSE if it is being cancelled */
void NmFailAll(LIST_ENTRY *list, NM_DONE_LIST *done, NTSTATUS status);
ULONG NmCountList(LIST_ENTRY *list);
PVOID NmIrpBuffer(PIRP irp);
PFILE_OBJECT NmIrpFile(PIRP irp);

/* port_io.c */
void NmServiceAll(LONGLONG now, NM_DONE_LIST *done, LONGLONG *nextWake);
void NmDeliver(NM_PORT *to, const UCHAR *data, ULONG count, LONGLONG now, NM_DONE_LIST *done);
void NmRaiseEvents(NM_PORT *port, ULONG events, NM_DONE_LIST *done);
void NmUpdateModemStatus(NM_PORT *port, NM_DONE_LIST *done);
ULONG NmModemStatus(const NM_PORT *port);
void NmResetSettings(NM_PORT *port);
void NmDetach(NM_PORT *port, NM_DONE_LIST *done, NTSTATUS status);
NTSTATUS NTAPI NmDispatchRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI NmDispatchWrite(PDEVICE_OBJECT device, PIRP irp);

/* ownership.c: one open handle at a time */
NTSTATUS NmClaim(NM_PORT *port, PIRP irp, NM_DONE_LIST *done);
void NmRelease(NM_PORT *port, PFILE_OBJECT file, NM_DONE_LIST *done, LIST_ENTRY *granted);
void NmRedispatch(NM_PORT *port, LIST_ENTRY *granted);  /* without the lock */
void NmRefuseContender(NM_PORT *port, NTSTATUS status, NM_DONE_LIST *done); /* and forgets a displaced owner */
/* STATUS_SUCCESS, a refusal, or STATUS_PENDING when the request waits for the port */
NTSTATUS NmHandleStatus(NM_PORT *port, PIRP irp, NM_DONE_LIST *done);
void NmServiceContender(NM_PORT *port, LONGLONG now, NM_DONE_LIST *done, LONGLONG *next);

/* port_ioctl.c */
NTSTATUS NmPortIoctl(NM_PORT *port, PIRP irp);
ULONG NmIoctlKind(ULONG code);

/* requests.c: counting and injected faults */
BOOLEAN NmTakeFault(NM_PORT *port, ULONG kind, NTSTATUS *status);
void NmCount(NM_PORT *port, ULONG kind);

/* control.c */
NTSTATUS NmControlIoctl(PIRP irp);

/* registry.c */
void NmReadParameters(PUNICODE_STRING registryPath, ULONG *pairs, ULONG *firstPort);
void NmFormatName(WCHAR *buffer, ULONG capacity, const WCHAR *prefix, ULONG number);
void NmPublishPort(NM_PORT *port, BOOLEAN present);

/* driver.c: the port's COM name and its SERIALCOMM entry come and go with the plug */
void NmShowPort(NM_PORT *port, BOOLEAN present);

/* driver.c */
NM_PORT *NmFindPort(ULONG number);
NTSTATUS NmCompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information);
void NmKick(NM_DONE_LIST *done);  /* with the lock held: move what can move now */

/* What a read or write that ran into its time-out finishes with. */
#define NM_STATUS_TIMED_OUT STATUS_TIMEOUT

#endif
