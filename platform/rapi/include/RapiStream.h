// The byte stream of a remote invocation: the desktop calls a function that
// a handheld library exports and the two then talk through one stream, each
// side reading what the other wrote.
//
// IRAPIStream is the interface both ends implement, whatever carries the
// bytes (a pair of ends in one process, LocalStream.h, or a network
// connection). Its calls behave like a stream socket's:
//
// - Read waits until at least one byte has arrived and may return fewer
//   bytes than asked for; ReadExactly below loops until all have come.
// - Write returns when all bytes are handed over (it may wait for room).
// - Release gives up the caller's reference; when the last reference to an
//   end goes, that end is closed: the other end reads what was already
//   written, then learns that the stream has ended, and its writes fail.
// - SetRapiStat(STREAM_TIMEOUT_READ, ms) bounds how long a Read waits.
//
// Every call reports an HRESULT. The failures particular to streams are the
// RAPI_E_ values below; DescribeStreamResult turns any of them into words.
#pragma once

#include <atomic>
#include <memory>

#include "WinTypes.h"

// The other end has closed and everything it wrote has been read.
constexpr HRESULT RAPI_E_STREAM_ENDED = static_cast<HRESULT>(0x80070026u);  // (Win32 error 38)
// A Read or Write waited longer than the stream's timeout for it.
constexpr HRESULT RAPI_E_TIMEOUT = static_cast<HRESULT>(0x800705B4u);  // (Win32 error 1460)
// A Write could not be delivered: the other end has closed.
constexpr HRESULT RAPI_E_STREAM_BROKEN = static_cast<HRESULT>(0x8007006Du);  // (Win32 error 109)
// ReadExactly met the end of the stream after some but not all bytes.
constexpr HRESULT RAPI_E_SHORT_READ = static_cast<HRESULT>(0x8007001Eu);  // (Win32 error 30)

// What SetRapiStat and GetRapiStat set or read.
enum RAPISTREAMFLAG {
  STREAM_TIMEOUT_READ = 0,  // milliseconds a Read waits; INFINITE (the default) waits without limit
  STREAM_TIMEOUT_WRITE = 1,  // milliseconds a Write waits for room; INFINITE by default
};

// The two time limits of one stream end, as its SetRapiStat and
// GetRapiStat set and read them (E_INVALIDARG for an unknown flag or a null
// value); any thread may use them.
class StreamTimeouts {
 public:
  HRESULT Set(RAPISTREAMFLAG flag, DWORD value);
  HRESULT Get(RAPISTREAMFLAG flag, DWORD* value) const;
  DWORD read() const { return read_.load(); }
  DWORD write() const { return write_.load(); }

 private:
  std::atomic<DWORD> read_{INFINITE};
  std::atomic<DWORD> write_{INFINITE};
};

class IRAPIStream {
 public:
  // Takes another reference to this end; returns the new count.
  virtual ULONG AddRef() = 0;
  // Gives up a reference; the last one closes this end and frees it.
  // Returns the count that is left.
  virtual ULONG Release() = 0;

  // Copies between 1 and size bytes that the other end wrote into buffer and
  // their number into *read (which may be null). Waits while nothing has
  // arrived. S_OK with *read 0 when size is 0. On failure *read is 0:
  // RAPI_E_STREAM_ENDED, RAPI_E_TIMEOUT, E_INVALIDARG for a null buffer with
  // a size above 0.
  virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;

  // Hands all size bytes to the other end, waiting for room as needed, and
  // their number into *written (which may be null). On failure *written holds
  // the bytes delivered before it: RAPI_E_STREAM_BROKEN, RAPI_E_TIMEOUT,
  // E_INVALIDARG for a null buffer with a size above 0. Writes from several
  // threads to one end may interleave.
  virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;

  // Sets or reads a stream setting (RAPISTREAMFLAG). E_INVALIDARG for an
  // unknown flag or a null value.
  virtual HRESULT SetRapiStat(RAPISTREAMFLAG flag, DWORD value) = 0;
  virtual HRESULT GetRapiStat(RAPISTREAMFLAG flag, DWORD* value) = 0;

 protected:
  // Ends go through Release, never delete.
  virtual ~IRAPIStream() = default;
};

// The signature of the functions a handheld library exports for remote
// invocation: the input bytes, where to put output bytes (allocated by the
// callee with malloc, freed by the caller with free), and the stream the conversation runs on
// (null when the caller asked for none). The callee releases the stream
// before it returns.
using RapiInvokeFunction = HRESULT (*)(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                                       BYTE** ppOutput, IRAPIStream* stream);

// Holds one reference to a stream end and releases it when it goes.
struct ReleaseRapiStream {
  void operator()(IRAPIStream* stream) const {
    if (stream != nullptr) stream->Release();
  }
};
using RapiStreamPtr = std::unique_ptr<IRAPIStream, ReleaseRapiStream>;

// Reads until size bytes are in buffer. S_OK when all came; otherwise
// RAPI_E_SHORT_READ when the stream ended after some but not all of them, or
// the failure of the Read that stopped it (RAPI_E_STREAM_ENDED when none
// came). *read (when not null) holds the number of bytes read either way.
HRESULT ReadExactly(IRAPIStream* stream, void* buffer, ULONG size, ULONG* read = nullptr);

// A sentence for a stream result, for messages shown to a person. Never null.
const char* DescribeStreamResult(HRESULT result);
