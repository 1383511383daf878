// Work of another platform layer that joins a thread's message queue.
//
// A layer that receives on descriptors of its own and must act on the
// thread that owns them, from that thread's message loop (the DDE calls:
// their callbacks run where the program pumps its messages), watches a
// descriptor here. Whenever the thread looks at its queue (GetMessageW,
// PeekMessageW, DispatchPendingMessages) and the descriptor polls readable,
// the handler runs, on that thread; GetMessageW's wait and the descriptor of
// MessageQueueDescriptor wake when it becomes readable. SendMessageW's wait
// does not run handlers, as it answers only sent messages.
//
// A handler must take what made its descriptor readable (or stop watching
// it), or the loop keeps calling it. It may run a message loop of its own,
// which may call it again. It must not throw.
#pragma once

#include <cstdint>
#include <functional>

#include "WinTypes.h"

namespace tbm {

// Returns the number of things it handled (for DispatchPendingMessages's
// count).
using QueueWatchHandler = std::function<DWORD()>;

// Watches descriptor on the calling thread's queue (made on first use).
// Returns the watch's identifier, never 0; 0 when the queue could not be
// made or the descriptor not watched (the last error says why). The
// descriptor stays the caller's: stop the watch before closing it.
std::uint64_t WatchOnMessageQueue(int descriptor, QueueWatchHandler handler);

// Ends a watch of the calling thread; also from inside its own handler.
// An unknown identifier is ignored.
void StopWatchOnMessageQueue(std::uint64_t watch);

}  // namespace tbm
