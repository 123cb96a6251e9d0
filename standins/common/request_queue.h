/*
 * Queues of pending requests that their callers can cancel (CancelIo, closing
 * the handle) while they wait.  The driver's lock guards a queue; its cancel
 * routine (the driver's own) takes the lock, unlinks the request with
 * unlink_queued and completes it.  A request is taken out of its queue only by
 * clearing its cancel routine first: when that fails, the cancel routine
 * already runs and finishes the request.
 */
#ifndef TARN_STANDIN_REQUEST_QUEUE_H
#define TARN_STANDIN_REQUEST_QUEUE_H

#include <ntddk.h>

#define QUEUED_ENTRY(irp) (&(irp)->Tail.Overlay.ListEntry)
#define QUEUED_IRP(entry) CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry)

/* Parks `irp` at the queue's tail with `cancel` as its cancel routine; FALSE
 * if it was cancelled before it could be parked: the caller completes it. */
static inline BOOLEAN park_cancellable(LIST_ENTRY *queue, PIRP irp, PDRIVER_CANCEL cancel)
{
    IoSetCancelRoutine(irp, cancel);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL)
        return FALSE;
    InsertTailList(queue, QUEUED_ENTRY(irp));
    return TRUE;
}

/* Unlinks a request; its entry is left linked to itself, so unlinking it again is harmless. */
static inline void unlink_queued(PIRP irp)
{
    RemoveEntryList(QUEUED_ENTRY(irp));
    InitializeListHead(QUEUED_ENTRY(irp));
}

/* Takes `irp` out of its queue; FALSE if its cancel routine already runs,
 * which leaves it where it is for that routine (a queue whose cancel routine
 * looks at the request's place keeps it there). */
static inline BOOLEAN take_queued(PIRP irp)
{
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return FALSE;
    unlink_queued(irp);
    return TRUE;
}

/* The same, but a request being cancelled leaves the queue too, so that a
 * loop over the queue's head goes on to the next one. */
static inline BOOLEAN take_queued_or_drop(PIRP irp)
{
    unlink_queued(irp);
    return IoSetCancelRoutine(irp, NULL) != NULL;
}

static inline PIRP first_queued(LIST_ENTRY *queue)
{
    return IsListEmpty(queue) ? NULL : QUEUED_IRP(queue->Flink);
}

#endif
