// The calls the running handheld program answers through the RPC block
// (RpcBlock.h), and the layout of each one's request and reply.
//
//   call                       id  kind  request   reply
//   open database               1   3    528 bytes result 1 opened, 0 not (it was open
//                                        command   already, or it could not be opened)
//                                        line
//   name of the open database   2   3    528 bytes result 1 and the name at offset 16
//                                        no text   (at most 256 UTF-16 units), or 0 when
//                                                  no database is open
//   close views for sync        3   2    16 bytes  result 1 closed, 0 refused (a modal
//                                                  dialog is open; nothing changed)
//
// A second start of the program hands its command line to the running one
// with call 1; the sync agent asks calls 2 and 3 around a synchronisation.
// The program finds its calls through DispatchHandheldCall (or answers
// WM_USER with AnswerHandheldCall), and implements HandheldCallHandler.
//
// Each layout has one writer and one reader on each side: the caller writes
// a request (an RpcCall) and reads the reply (the RpcAnswer the block gave
// back); the program reads the request (a ReceivedCall) and writes the reply
// (a CallReply). The block is written by another process, so every reader
// checks the call's identifier and kind, the size word and every length
// against its layout, and refuses what does not fit with a Status saying
// why; nothing is cut to fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "RpcBlock.h"
#include "Status.h"
#include "WinUser.h"

namespace tbm::sync {

// The window class of the handheld program's main window, the window that
// answers the calls.
inline constexpr char16_t kHandheldMainWindowClass[] = u"TBMMainFrame";

// Call identifiers.
inline constexpr std::uint32_t kOpenDatabaseCall = 1;
inline constexpr std::uint32_t kOpenDatabaseNameCall = 2;
inline constexpr std::uint32_t kCloseViewsForSyncCall = 3;

// Request sizes: the bytes the caller copies into the block, which the
// program leaves in the size word, so that the caller copies as many back.
inline constexpr std::uint32_t kOpenDatabaseRequestBytes = 528;
inline constexpr std::uint32_t kOpenDatabaseNameRequestBytes = 528;
inline constexpr std::uint32_t kCloseViewsForSyncRequestBytes = kRpcHeaderBytes;

// The most UTF-16 units of the command line of call 1: its terminator must
// fit in the 528-byte request too.
inline constexpr std::size_t kOpenDatabaseCommandLineUnits =
    (kOpenDatabaseRequestBytes - kRpcHeaderBytes) / 2 - 1;  // 255
// The most UTF-16 units of the name call 2 replies: the whole data area of
// the 528-byte reply, so a name of this length comes without terminator.
inline constexpr std::size_t kOpenDatabaseNameUnits =
    (kOpenDatabaseNameRequestBytes - kRpcHeaderBytes) / 2;  // 256

// A call as the program receives it from the block: the identifier and kind
// words and, for kind 3, the text at offset 16. (The program does not learn
// the request's size.)
struct ReceivedCall {
  std::uint32_t id = 0;
  std::uint32_t kind = 0;
  std::u16string argument;
};

// The program's answer to a call it takes: the result word and, for kind 3,
// the text written at offset 16.
struct CallReply {
  std::uint32_t result = 0;
  std::u16string text;
};

// ---- The caller's side --------------------------------------------------

// Call 1. The writer refuses a command line longer than
// kOpenDatabaseCommandLineUnits (kBadLength) or holding a NUL
// (kInvalidArgument), since either would arrive cut; `request` is then
// unchanged.
Status WriteOpenDatabaseRequest(std::u16string_view commandLine, RpcCall* request);
// *opened: the program opened the database the command line names.
Status ReadOpenDatabaseReply(const RpcAnswer& reply, bool* opened);

// Call 2. *name: the open database's name, or nothing when none is open.
RpcCall WriteOpenDatabaseNameRequest();
Status ReadOpenDatabaseNameReply(const RpcAnswer& reply, std::optional<std::u16string>* name);

// Call 3. *closed: the program closed its views and documents; false when
// it refused because a modal dialog is open.
RpcCall WriteCloseViewsForSyncRequest();
Status ReadCloseViewsForSyncReply(const RpcAnswer& reply, bool* closed);

// Every reply reader refuses, leaving its output unchanged:
//  - a call the program did not take (its window answered 0): kFailed;
//  - a size word that leaves out the result word: kTruncated; one larger
//    than the block: kBadLength;
//  - a result other than 0 or 1: kCorrupt;
//  - for call 2, a name that came back without its terminator before the
//    full 256 units: kTruncated; longer than 256 units: kBadLength.

// Whole calls: writes the request, sends it to the program's main window,
// waits at most timeoutMs and reads the reply. A window that is gone, or a
// block that cannot be made, is kFailed and one that did not answer in
// time kBusy, each with the platform's error number.
Status CallOpenDatabase(HWND program, std::u16string_view commandLine, DWORD timeoutMs,
                        bool* opened);
Status CallOpenDatabaseName(HWND program, DWORD timeoutMs, std::optional<std::u16string>* name);
Status CallCloseViewsForSync(HWND program, DWORD timeoutMs, bool* closed);

// ---- The program's side -------------------------------------------------

// Every request reader refuses a call whose identifier or kind is not the
// call's (kInvalidArgument).

// Call 1. Refuses a command line longer than kOpenDatabaseCommandLineUnits
// (kBadLength). An empty command line is a request too: it names no file.
Status ReadOpenDatabaseRequest(const ReceivedCall& request, std::u16string* commandLine);
CallReply WriteOpenDatabaseReply(bool opened);

// Call 2. The writer refuses a name longer than kOpenDatabaseNameUnits
// (kBadLength) or holding a NUL (kInvalidArgument).
Status ReadOpenDatabaseNameRequest(const ReceivedCall& request);
Status WriteOpenDatabaseNameReply(const std::optional<std::u16string>& name, CallReply* reply);

// Call 3.
Status ReadCloseViewsForSyncRequest(const ReceivedCall& request);
CallReply WriteCloseViewsForSyncReply(bool closed);

// What the handheld program does for each call. Runs on the thread that
// owns the main window, between the user's actions; the caller waits.
class HandheldCallHandler {
 public:
  virtual ~HandheldCallHandler() = default;

  // Call 1: closes the open databases and opens the one the command line
  // names (an empty one names none). Returns false, changing nothing, when
  // that database is open already, and false when it could not be opened.
  virtual bool OpenDatabase(const std::u16string& commandLine) = 0;

  // Call 2: the name of the open database, or nothing when none is open.
  virtual std::optional<std::u16string> OpenDatabaseName() = 0;

  // Call 3: ends any cell edit, storing the value when it can, and closes
  // every view and document. Returns false, changing nothing, while a modal
  // dialog is open.
  virtual bool CloseViewsForSync() = 0;
};

// Performs `call` with `handler` and fills `reply`. Returns false (the call
// is not taken: the window answers 0 and the block stays as it was) for an
// identifier the program does not know, a kind that is not the call's, or
// a request its reader refuses. A name of call 2 that its writer refuses
// is answered as no open database.
bool DispatchHandheldCall(HandheldCallHandler& handler, const ReceivedCall& call, CallReply* reply);

// The main window's (and its modal dialogs') answer to WM_USER: reads the
// call from the RPC block, dispatches it to handler and writes the reply
// back. Returns what the window procedure returns: 1 taken, 0 not (also
// when the block cannot be opened).
LRESULT AnswerHandheldCall(HandheldCallHandler& handler);

}  // namespace tbm::sync
