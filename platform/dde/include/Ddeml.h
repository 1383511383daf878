// Dynamic Data Exchange between the programs of one machine: the DDE
// management calls, with the meanings and numbers of the platform's DDEML.
//
// A program calls DdeInitializeA once per thread that talks DDE. A server
// registers service names (DdeNameService); a client connects to a service
// and topic (DdeConnect) and runs transactions on the conversation
// (DdeClientTransaction): an execute carries a block of bytes to the server,
// a request brings a block back. A transaction is synchronous (a time limit
// in milliseconds) or asynchronous (TIMEOUT_ASYNC): then the call returns at
// once with the transaction's identifier in *result, and its completion
// reaches the client's callback as XTYP_XACT_COMPLETE.
//
// Callbacks run on the thread that initialised the instance, from its
// message queue (MessagePump.h): a server's callback when that thread runs
// its message loop (GetMessageW and DispatchMessageW, RunMessageLoop, or
// DispatchPendingMessages from an event loop of its own); a client's
// XTYP_XACT_COMPLETE when it pumps messages while it waits (PeekMessageW
// and DispatchMessageW).
//
// Conversations run between processes of the same user on the same
// machine: the services of a machine are named after its root (Machine.h),
// and a server accepts only peers of its own user. DDE is the desktop's:
// every process finds the services of the desktop machine
// ($TBM_DESKTOP_ROOT), whichever machine it stands on.
//
// Blocks are bytes of a stated length; nothing is cut at a zero byte. A
// block travels whole up to a few megabytes (larger ones fail with
// DMLERR_MEMORY_ERROR).
//
// Notifications reach an instance's callback unless its CBF_ filters skip
// them: XTYP_CONNECT_CONFIRM to a server once it accepted a connection;
// XTYP_DISCONNECT to the end that did not end the conversation (hsz1 and
// hsz2 null, data2 TRUE for a conversation with itself); XTYP_REGISTER and
// XTYP_UNREGISTER to every other instance of the machine when a server
// registers or withdraws a name (hsz1 the service, hsz2 the name of the
// instance that serves it). The server's callback sees XTYP_CONNECT (hsz1
// topic, hsz2 service; non-null accepts), XTYP_EXECUTE (hsz1 topic, data
// the block, valid during the call; answers DDE_FACK, DDE_FBUSY or
// DDE_FNOTPROCESSED), XTYP_POKE (as an execute, hsz2 the item) and
// XTYP_REQUEST (hsz1 topic, hsz2 item, the format; answers a data handle of
// DdeCreateDataHandle, which the library then frees, or null for none).
//
// Each instance keeps its own last error (DdeGetLastError); failures that
// a person may need to know about are also written to the program's log.
#pragma once

#include <cstdint>

#include "WinTypes.h"

namespace tbm {

using UINT = std::uint32_t;
using ULONG_PTR = std::uintptr_t;

struct HCONV__;
struct HSZ__;
struct HDDEDATA__;
using HCONV = HCONV__*;
using HSZ = HSZ__*;
using HDDEDATA = HDDEDATA__*;

// The callback of an instance: a transaction of type for the conversation
// conv; hsz1 and hsz2 name the topic and the item (or the service), data
// carries the block, data1 and data2 more of the transaction (for
// XTYP_XACT_COMPLETE, data1 is the transaction's identifier).
using PFNCALLBACK = HDDEDATA (*)(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);

// Transaction types.
constexpr UINT XTYP_ERROR = 0x8002;
constexpr UINT XTYP_ADVDATA = 0x4010;
constexpr UINT XTYP_ADVREQ = 0x2022;
constexpr UINT XTYP_ADVSTART = 0x1030;
constexpr UINT XTYP_ADVSTOP = 0x8040;
constexpr UINT XTYP_EXECUTE = 0x4050;
constexpr UINT XTYP_CONNECT = 0x1062;
constexpr UINT XTYP_CONNECT_CONFIRM = 0x8072;
constexpr UINT XTYP_XACT_COMPLETE = 0x8080;
constexpr UINT XTYP_POKE = 0x4090;
constexpr UINT XTYP_REGISTER = 0x80A2;
constexpr UINT XTYP_REQUEST = 0x20B0;
constexpr UINT XTYP_DISCONNECT = 0x80C2;
constexpr UINT XTYP_UNREGISTER = 0x80D2;
constexpr UINT XTYP_WILDCONNECT = 0x20E2;

// DdeClientTransaction's time limit that makes it asynchronous.
constexpr DWORD TIMEOUT_ASYNC = 0xFFFFFFFF;

// What a server's callback answers an execute or a poke.
constexpr ULONG_PTR DDE_FACK = 0x8000;
constexpr ULONG_PTR DDE_FBUSY = 0x4000;
constexpr ULONG_PTR DDE_FNOTPROCESSED = 0x0000;

// DdeInitializeA's flags: the application class and the filters.
constexpr DWORD APPCLASS_STANDARD = 0x00000000;
constexpr DWORD APPCMD_CLIENTONLY = 0x00000010;
constexpr DWORD CBF_FAIL_SELFCONNECTIONS = 0x00001000;
constexpr DWORD CBF_FAIL_CONNECTIONS = 0x00002000;
constexpr DWORD CBF_FAIL_ADVISES = 0x00004000;
constexpr DWORD CBF_FAIL_EXECUTES = 0x00008000;
constexpr DWORD CBF_FAIL_POKES = 0x00010000;
constexpr DWORD CBF_FAIL_REQUESTS = 0x00020000;
constexpr DWORD CBF_SKIP_CONNECT_CONFIRMS = 0x00040000;
constexpr DWORD CBF_SKIP_REGISTRATIONS = 0x00080000;
constexpr DWORD CBF_SKIP_UNREGISTRATIONS = 0x00100000;
constexpr DWORD CBF_SKIP_DISCONNECTS = 0x00200000;

// DdeNameService's commands.
constexpr UINT DNS_REGISTER = 0x0001;
constexpr UINT DNS_UNREGISTER = 0x0002;

// Clipboard format of text blocks; code page of ANSI string handles.
constexpr UINT CF_TEXT = 1;
constexpr int CP_WINANSI = 1004;

// DdeGetLastError's codes.
constexpr UINT DMLERR_NO_ERROR = 0;
constexpr UINT DMLERR_ADVACKTIMEOUT = 0x4000;
constexpr UINT DMLERR_BUSY = 0x4001;
constexpr UINT DMLERR_DATAACKTIMEOUT = 0x4002;
constexpr UINT DMLERR_DLL_NOT_INITIALIZED = 0x4003;
constexpr UINT DMLERR_DLL_USAGE = 0x4004;
constexpr UINT DMLERR_EXECACKTIMEOUT = 0x4005;
constexpr UINT DMLERR_INVALIDPARAMETER = 0x4006;
constexpr UINT DMLERR_LOW_MEMORY = 0x4007;
constexpr UINT DMLERR_MEMORY_ERROR = 0x4008;
constexpr UINT DMLERR_NOTPROCESSED = 0x4009;
constexpr UINT DMLERR_NO_CONV_ESTABLISHED = 0x400A;
constexpr UINT DMLERR_POKEACKTIMEOUT = 0x400B;
constexpr UINT DMLERR_POSTMSG_FAILED = 0x400C;
constexpr UINT DMLERR_REENTRANCY = 0x400D;
constexpr UINT DMLERR_SERVER_DIED = 0x400E;
constexpr UINT DMLERR_SYS_ERROR = 0x400F;
constexpr UINT DMLERR_UNADVACKTIMEOUT = 0x4010;
constexpr UINT DMLERR_UNFOUND_QUEUE_ID = 0x4011;

extern "C" {

// Makes an instance for the calling thread (*instance 0 on entry); flags
// are APPCLASS_ / APPCMD_ and CBF_ flags. DMLERR_NO_ERROR or the failure.
// With *instance a live instance of this thread, sets its filters anew.
// The calls that touch conversations and services work only on the thread
// that made the instance (DMLERR_DLL_USAGE elsewhere); an instance that is
// not ended when its thread ends ends with it.
UINT DdeInitializeA(DWORD* instance, PFNCALLBACK callback, DWORD flags, DWORD reserved);
// Ends the instance: its services, conversations and handles go (the
// peers are told; no callback of this instance runs).
BOOL DdeUninitialize(DWORD instance);
// DMLERR_ code of the instance's last failed call, and clears it.
UINT DdeGetLastError(DWORD instance);

HSZ DdeCreateStringHandleA(DWORD instance, const char* text, int codePage);
BOOL DdeFreeStringHandle(DWORD instance, HSZ handle);
// Copies the handle's text (terminated) into text of size bytes; returns
// its length without the terminator. With text null, only the length.
DWORD DdeQueryStringA(DWORD instance, HSZ handle, char* text, DWORD size, int codePage);
// 0 when the two handles name the same text (case-blind), else -1 or 1.
int DdeCmpStringHandles(HSZ first, HSZ second);

// Registers (DNS_REGISTER) or withdraws (DNS_UNREGISTER; a null service:
// all of the instance's) a service name. Non-null on success. A name has one
// server on a machine: while another instance has it registered (in this
// process or another), registering it fails with DMLERR_DLL_USAGE, as it
// does for an APPCMD_CLIENTONLY instance. Withdrawing a name leaves its open
// conversations open.
HDDEDATA DdeNameService(DWORD instance, HSZ service, HSZ reserved, UINT command);

// A conversation with the server of service on topic; null (and
// DMLERR_NO_CONV_ESTABLISHED) when no server takes it. service and topic
// must be given. Waits, running the thread's messages, until the server's
// callback answers, at most the connect time limit (30 s;
// SetDdeConnectTimeLimit).
HCONV DdeConnect(DWORD instance, HSZ service, HSZ topic, void* context);
BOOL DdeDisconnect(HCONV conversation);

// Runs a transaction: XTYP_EXECUTE carries data (size bytes), XTYP_REQUEST
// asks for item in format. timeout in milliseconds, or TIMEOUT_ASYNC.
// Synchronous: the request's data handle (the program frees it), or
// non-null for a done execute; null on failure. Asynchronous: non-null when
// started, *result the transaction's identifier. Otherwise *result (when
// given) receives the server's DDE_ flags.
// A synchronous transaction runs the thread's messages while it waits (a
// quit request is kept for the thread's own loop). Its failures: an execute
// or poke not acknowledged, DMLERR_NOTPROCESSED (DMLERR_BUSY when the
// server answered DDE_FBUSY); a request without data, DMLERR_NOTPROCESSED;
// no answer in time, DMLERR_EXECACKTIMEOUT, DMLERR_POKEACKTIMEOUT or
// DMLERR_DATAACKTIMEOUT (the late answer is dropped); a server that went,
// DMLERR_SERVER_DIED; a conversation that ended, DMLERR_NO_CONV_ESTABLISHED.
// An asynchronous transaction completes when the thread runs its messages:
// XTYP_XACT_COMPLETE with data1 its identifier, data2 the DDE_ flags, data
// the request's data handle (valid during the call), non-null for a done
// execute, null for a failure (also when the server went meanwhile).
// XTYP_EXECUTE, XTYP_POKE and XTYP_REQUEST are the transactions there are
// (others fail with DMLERR_INVALIDPARAMETER). A size of 0xFFFFFFFF passes a
// data handle (cast to data) instead of bytes; the transaction takes it.
HDDEDATA DdeClientTransaction(const BYTE* data, DWORD size, HCONV conversation, HSZ item,
                              UINT format, UINT type, DWORD timeout, DWORD* result);
// Gives up an asynchronous transaction (identifier 0: all of the
// conversation's; conversation null: of all the instance's conversations);
// its completion never comes, and its late answer is dropped.
// DMLERR_UNFOUND_QUEUE_ID for an identifier that is not pending.
BOOL DdeAbandonTransaction(DWORD instance, HCONV conversation, DWORD transaction);

// A data handle holding size bytes of source (from offset), for item in
// format; a server returns one from its request callback.
HDDEDATA DdeCreateDataHandle(DWORD instance, const BYTE* source, DWORD size, DWORD offset, HSZ item,
                             UINT format, UINT command);
// Copies up to size bytes from offset into target; with target null, the
// handle's size.
DWORD DdeGetData(HDDEDATA data, BYTE* target, DWORD size, DWORD offset);
BYTE* DdeAccessData(HDDEDATA data, DWORD* size);
BOOL DdeUnaccessData(HDDEDATA data);
BOOL DdeFreeDataHandle(HDDEDATA data);

}  // extern "C"

// How long DdeConnect waits for a server to answer, in milliseconds, for
// the whole process (tests shorten it). 30000 unless set.
void SetDdeConnectTimeLimit(DWORD milliseconds);

}  // namespace tbm
