// Hooking a thread's window messages into an event loop of its own.
//
// A thread that owns windows answers their messages only when it runs its
// message queue. A plain program does that with GetMessageW and
// DispatchMessageW (or RunMessageLoop below). A program with an event loop
// of its own (Qt's, for instance) watches the queue's descriptor instead and
// calls DispatchPendingMessages whenever it becomes readable:
//
//   auto* notifier = new QSocketNotifier(tbm::MessageQueueDescriptor(),
//                                        QSocketNotifier::Read, frame);
//   QObject::connect(notifier, &QSocketNotifier::activated,
//                    [] { tbm::DispatchPendingMessages(); });
//
// All three calls act on the calling thread's queue, which they create on
// first use.
#pragma once

#include "WinTypes.h"

namespace tbm {

// A descriptor that polls readable while the calling thread has sent or
// posted messages waiting (or a quit request). It belongs to the queue: do
// not read from it or close it. -1 when the queue could not be made (the
// last error says why).
int MessageQueueDescriptor();

// Answers every message sent to the calling thread's windows that has
// arrived, then dispatches the posted messages that were waiting when it
// began, in the order they were posted, to their window procedures. Never
// waits. A quit request (PostQuitMessage) stays for GetMessageW. Returns the
// number of messages handled.
DWORD DispatchPendingMessages();

// GetMessageW and DispatchMessageW until the calling thread's quit request;
// returns the exit code given to PostQuitMessage, or -1 when the queue
// failed.
int RunMessageLoop();

}  // namespace tbm
