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

#include "FileTypes.h"
#include "Partnership.h"
#include "RapiStream.h"
#include "Registry.h"
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
// CeRapiInvoke with a stream while the stream of an earlier one stayed open
// for longer than the call time limit.
constexpr HRESULT RAPI_E_BUSY = static_cast<HRESULT>(0x800700AAu);  // (Win32 error 170)

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

// ---- Files on the handheld (RapiFiles.cpp) ----
//
// Paths are handheld paths ("\My Documents\Sales.tbm"), case-blind, inside
// the handheld's device root; the handheld refuses anything else (a host
// path with '/', a ".." component, a link leading out) with
// ERROR_ACCESS_DENIED or ERROR_INVALID_NAME and changes nothing. The calls
// behave as the handheld's own file calls (FileCalls.h, FindFile.h), whose
// error numbers CeGetLastError reports after a failure.
//
// A handle is the handle number the handheld gave, carried in the HANDLE
// value; it means something only on this connection, and dies with it.
// A handle that was never given, was closed, or is of another kind (a
// search given to CeReadFile) fails with ERROR_INVALID_HANDLE.
//
// Arguments that are wrong before anything is sent (a null buffer with a
// count, an overlapped argument, a null path) fail on the desktop: the
// desktop's own GetLastError() says ERROR_INVALID_PARAMETER, CeRapiGetError
// says S_OK, and nothing reaches the handheld.

// What the find calls report about one entry.
struct CE_FIND_DATA {
  DWORD dwFileAttributes;     // FILE_ATTRIBUTE_DIRECTORY, _READONLY or _NORMAL
  FILETIME ftCreationTime;    //
  FILETIME ftLastAccessTime;  //
  FILETIME ftLastWriteTime;   //
  DWORD nFileSizeHigh;        // 0 for folders
  DWORD nFileSizeLow;         //
  DWORD dwOID;                // 0: the handheld keeps no object identifiers for files
  WCHAR cFileName[MAX_PATH];  // the name alone, terminated
};

// Opens or creates a file on the handheld, as CreateFileW does there, and
// returns its handle, or INVALID_HANDLE_VALUE. security, flags and
// templateFile are ignored. With CREATE_ALWAYS or
// OPEN_ALWAYS, CeGetLastError then says ERROR_ALREADY_EXISTS when the file
// was there before.
HANDLE CeCreateFile(const WCHAR* name, DWORD access, DWORD share, void* security, DWORD creation,
                    DWORD flags, HANDLE templateFile);

// Reads up to toRead bytes at the file's position into buffer; *read (when
// not null) gets the count, which is below toRead only at the end of the
// file. Reads of any size work: more than kMaxFileChunkBytes travel in
// several exchanges, the next asked for while the last arrives.
// overlapped must be null (ERROR_INVALID_PARAMETER). When a later exchange
// of a long read fails, FALSE is returned with *read holding the bytes that
// did arrive in buffer; the file's position on the handheld may then lie up
// to one exchange further on.
BOOL CeReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);

// Writes toWrite bytes from buffer at the file's position; *written (when
// not null) gets the count. Split into exchanges like CeReadFile, and on a
// failure *written holds the bytes the handheld did write.
BOOL CeWriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);

// The file's size: the low 32 bits, and the high 32 in *high when not
// null. INVALID_FILE_SIZE on failure. On success the handheld's last error
// is ERROR_SUCCESS, so a size whose low half is 0xFFFFFFFF can be told from
// a failure by CeGetLastError.
DWORD CeGetFileSize(HANDLE file, DWORD* high);

// Closes any handle the handheld gave this desktop: a file, a search, a
// registry key, a database. FALSE with ERROR_INVALID_HANDLE for anything
// else.
BOOL CeCloseHandle(HANDLE handle);

// Deletes a file on the handheld.
BOOL CeDeleteFile(const WCHAR* name);

// Creates a folder on the handheld; its parent must exist. security is
// ignored.
BOOL CeCreateDirectory(const WCHAR* name, void* security);

// Starts a search of one folder of the handheld with a name pattern ('*'
// and '?', case-blind; FindFile.h) and reports the first entry. Returns the
// search's handle, or INVALID_HANDLE_VALUE (ERROR_FILE_NOT_FOUND when
// nothing matches).
HANDLE CeFindFirstFile(const WCHAR* pattern, CE_FIND_DATA* findData);

// The search's next entry. FALSE once the entries are used up, with
// ERROR_NO_MORE_FILES (18) as the handheld's last error.
BOOL CeFindNextFile(HANDLE find, CE_FIND_DATA* findData);

// Ends a search. ERROR_INVALID_HANDLE for a handle that is not a search.
BOOL CeFindClose(HANDLE find);

// ---- The handheld's registry (RapiRegistry.cpp) ----
//
// The calls take the arguments of the registry calls of Registry.h and
// return their LONG results, computed by those calls on the handheld's
// registry: HKEY_CLASSES_ROOT ... HKEY_USERS stand for the handheld's
// hives, and a key opened or created is a handle the handheld gave (closed
// with CeRegCloseKey or CeCloseHandle, and with the connection). The
// buffer rules are the same: a name or value that does not fit stores
// nothing and answers ERROR_MORE_DATA with the size needed.
//
// A registry error is the call's result; CeGetLastError is not changed by
// it. A call that could not reach the handheld returns the Win32 error
// inside CeRapiGetError's HRESULT (ERROR_INTERNAL_ERROR when it holds
// none); a reply that was not well formed returns ERROR_INVALID_DATA.
// Values travel whole in one exchange: at most kMaxRegistryValueBytes
// (1 MiB); a larger one is refused with ERROR_INVALID_PARAMETER when set
// and ERROR_NOT_ENOUGH_MEMORY when read.

LONG CeRegOpenKeyEx(HKEY key, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* result);
LONG CeRegCreateKeyEx(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* className,
                      DWORD options, REGSAM access, void* security, HKEY* result,
                      DWORD* disposition);
// Closing a predefined key succeeds without asking the handheld.
LONG CeRegCloseKey(HKEY key);
LONG CeRegQueryValueEx(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                       DWORD* dataBytes);
LONG CeRegSetValueEx(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data,
                     DWORD dataBytes);
LONG CeRegDeleteKey(HKEY key, const WCHAR* subKey);
LONG CeRegDeleteValue(HKEY key, const WCHAR* valueName);
LONG CeRegEnumKeyEx(HKEY key, DWORD index, WCHAR* name, DWORD* nameChars, DWORD* reserved,
                    WCHAR* className, DWORD* classChars, FILETIME* lastWriteTime);
LONG CeRegEnumValue(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars, DWORD* reserved,
                    DWORD* type, BYTE* data, DWORD* dataBytes);
// Calls functionName, exported by the handheld library dllPath, on the
// handheld (RapiInvokeFunction, RapiStream.h, is its signature).
//
// dllPath is a handheld path ("\Windows\TBMSYNBKCE.dll"; a bare name lies
// in "\Windows") whose folder lies inside the device root; ".dll" names
// the host's ".so" of the same name. A library that is missing, cannot be
// loaded, lies outside the device root, or lacks the function fails the
// call with the handheld's error as an HRESULT (0x8007007E, 0x8007000B,
// 0x80070005, 0x8007007F), CeGetLastError giving the error number.
//
// Without a stream (ppIRAPIStream null) the call waits while the function
// runs (within the call time limit) and returns what the function returned,
// its output in *ppOutput and *pcbOutput (either may be null to drop it):
// a block allocated with malloc that the caller frees with CeRapiFreeBuffer
// (or free), null for none.
//
// With a stream the call returns S_OK once the function has started on the
// handheld, with *ppIRAPIStream the desktop's end holding one reference;
// the function's output and result stay on the handheld (*pcbOutput 0,
// *ppOutput null). The stream's bytes travel over the connection, as does
// the end of the stream when either side releases its end. A dropped or
// failed connection, or a handheld from which nothing has come for the
// call time limit (it shows it is alive while the stream is open), fails
// the end's Read and Write with RAPI_E_STREAM_BROKEN at once and closes the
// connection. STREAM_TIMEOUT_READ and STREAM_TIMEOUT_WRITE of the end bound
// its own waits as RapiStream.h says.
//
// One stream at a time. While it is open, the other calls of the process
// (from any thread, CeRapiInvoke without a stream included) go over the
// same connection between the stream's frames and work as usual; a
// CeRapiInvoke with a stream waits until the open stream has ended on both
// sides (within the call time limit, else RAPI_E_BUSY), so the caller
// releases its end first. Once the caller has released its end, every
// other call waits the same way for the handheld to end the stream (the
// function has returned), so what the caller does next follows the whole
// invocation; after the call time limit it goes beside the stream.
// CeRapiUninit closes the connection and breaks an open stream.
//
// E_INVALIDARG for a null dllPath or functionName, or a null pInput with a
// cbInput above 0. dwReserved is not used.
HRESULT CeRapiInvoke(const WCHAR* dllPath, const WCHAR* functionName, DWORD cbInput, BYTE* pInput,
                     DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream** ppIRAPIStream,
                     DWORD dwReserved);

// Frees a block that CeRapiInvoke returned. S_OK; null is fine.
HRESULT CeRapiFreeBuffer(void* buffer);

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
// The handheld a connection is open to: docked, as the desktop connection
// service reports it.
struct DockedDevice {
  std::u16string name;    // the handheld's name, as it calls itself
  std::string partnerId;  // the partnership the connection was let in under
  Endpoint address;       // where its service was reached
};

// The handheld of the open connection, as its greeting described it.
// kFailed (platformError RAPI_E_NOT_CONNECTED) when no connection is open.
Status QueryDevice(DockedDevice* device);

// Pairs this desktop with the handheld whose service runs
// "tbm-devicelink pair" at address, with the code it shows, and keeps the
// partnership in the desktop registry (replacing any earlier one), with the
// default settings of the new handheld where it has none (CeUtil.h). A
// wrong code fails with kNoPermission; the handheld counts it as a try.
Status PairWithHandheld(const Endpoint& address, const std::string& code,
                        const std::u16string& desktopName, DesktopPartnership* partnership);

}  // namespace tbm::rapi
