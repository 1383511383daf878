// The remote API on the desktop side: calls that run on the paired handheld
// through its device connection service (tbm-devicelink run), over the
// protected channel of RapiChannel.h.
//
// CeRapiInit connects to the handheld named by the desktop's partnership
// (Partnership.h; the desktop registry of the desktop root), whichever
// machine the process stands on. One connection serves the whole process;
// calls from several threads take turns on it. Every call has a time limit
// (SetCallTimeLimit; 30 seconds unless changed): a handheld that stops
// answering makes the call fail instead of hanging.
//
// Two kinds of error. A call that reached the handheld and failed there
// sets the handheld's last error, which CeGetLastError fetches. A call that
// could not reach the handheld (not initialised, refused, the time limit
// passed, the connection dropped) fails with CeRapiGetError() saying why as
// an HRESULT and tbm::rapi::RapiFailureText() in words; a dropped or timed
// out connection is closed, and CeRapiInit must be called again.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "Partnership.h"
#include "RapiStream.h"
#include "WinTypes.h"

// The argument of CeRapiInitEx. The connection is made before CeRapiInitEx
// returns, so heRapiInit is set to null (there is nothing left to wait for)
// and hrRapiInit holds the result.
struct RAPIINIT {
  DWORD cbSize;
  HANDLE heRapiInit;
  HRESULT hrRapiInit;
};

// CeRapiInit when a connection is already open.
constexpr HRESULT CERAPI_E_ALREADYINITIALIZED = static_cast<HRESULT>(0x80041001u);
// The handheld refused this desktop: not paired, or the partnership was
// forgotten, or the keys differ.
constexpr HRESULT RAPI_E_NOT_PAIRED = static_cast<HRESULT>(0x80070005u);  // (Win32 error 5)
// The handheld sent bytes that are not a well-formed reply.
constexpr HRESULT RAPI_E_BAD_REPLY = static_cast<HRESULT>(0x8007000Du);  // (Win32 error 13)
// No connection: CeRapiInit was not called or did not succeed.
constexpr HRESULT RAPI_E_NOT_CONNECTED = static_cast<HRESULT>(0x800704CAu);  // (Win32 error 1226)

extern "C" {

// Connects to the paired handheld and greets it. S_OK, or
// CERAPI_E_ALREADYINITIALIZED, or a failure as CeRapiGetError reports it.
HRESULT CeRapiInit();
// The same, with the result also stored in init->hrRapiInit. E_INVALIDARG
// for a null init or a wrong cbSize.
HRESULT CeRapiInitEx(RAPIINIT* init);
// Closes the connection. S_OK; S_FALSE when none was open.
HRESULT CeRapiUninit();

// The handheld's temporary folder as a handheld path with a trailing
// backslash ("\Temp\"), copied into buffer (bufferLength characters,
// terminator included). Returns the characters copied without the
// terminator; when it does not fit, nothing is copied and the return value
// is the size needed, terminator included. 0 on failure (CeGetLastError or
// CeRapiGetError says why).
DWORD CeGetTempPath(DWORD bufferLength, WCHAR* buffer);

// The last error the handheld set for this desktop's connection.
// ERROR_SUCCESS when nothing failed there. A call that could not reach the
// handheld gives 0 and sets CeRapiGetError.
DWORD CeGetLastError();

// Why the last call of this thread could not reach the handheld; S_OK when
// it did.
HRESULT CeRapiGetError();

}  // extern "C"

namespace tbm::rapi {

// The sentence for CeRapiGetError's failure on this thread (empty when the
// last call reached the handheld).
std::string RapiFailureText();

// The time limit of connecting and of each call, for every thread.
void SetCallTimeLimit(std::chrono::milliseconds limit);

// How many requests this process has sent the handheld on its connection
// (answered or not), for measurements.
std::uint64_t ExchangeCount();

// Pairs this desktop with the handheld whose service runs
// "tbm-devicelink pair" at address, with the code it shows, and keeps the
// partnership in the desktop registry (replacing any earlier one). A wrong
// code fails with kNoPermission; the handheld counts it as a try.
Status PairWithHandheld(const Endpoint& address, const std::string& code,
                        const std::u16string& desktopName, DesktopPartnership* partnership);

}  // namespace tbm::rapi
