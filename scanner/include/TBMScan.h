// TBMScanCE.so: the barcode scanner library the handheld program loads by
// name on a device that has the scanner interface library (ScnAPI32.so).
// It wraps that interface behind seven plain exports, so the program never
// talks to the scanner itself.
//
// A read is asynchronous. The program names a window and a message with
// TBMScanRequestRead; when the scanner has read a label, the scanner
// interface posts that message to the window, with the label buffer in
// lParam. The window's procedure hands both message parameters to
// TBMScanReadLabel and gets the label text. At most one read is pending; the
// program asks for the next one after each delivered label.
//
// The program's calling order: TBMScanInit once at start; TBMScanRequestRead
// with the main window, kTBMScanLabelMessage and timeout 0 when the main
// window is made and again after each delivered label; TBMScanOnActivate on
// every activation change of the main window and of each dialog, with that
// window; TBMScanReadLabel for each delivered message; TBMScanStopRead when
// the main window goes; TBMScanExit at the end, before the library is
// unloaded.
//
// Threads: every export is called on the program's user-interface thread.
// The library has no thread of its own; labels arrive only as posted
// messages on that thread. No export throws.
//
// Without the scanner interface, or without a scanner set up on the device,
// TBMScanInit returns 0 and every other export returns 0 or null, so the
// program simply works without a scanner.
#pragma once

#include <cstdint>

#include "WinTypes.h"
#include "WinUser.h"

// The message the program asks to be told of a read label with.
inline constexpr UINT kTBMScanLabelMessage = WM_APP + 1;  // 0x8001

// Result codes of this library, beside those of the scanner interface
// (ScnApi.h).
inline constexpr DWORD kTBMScanErrorNoBuffer = 0xA0000005;  // the label buffer could not be made
inline constexpr DWORD kTBMScanErrorNoBufferStatus = 0xA0000022;  // no buffer to ask the status of
inline constexpr DWORD kTBMScanErrorCancelOutstanding = 0xA0000027;  // read refused: cancel pending

// Room of the label buffer, in UTF-16 units with the terminator: enough for
// the longest label a scanner reads (a QR code of 7089 digits).
inline constexpr DWORD kTBMScanLabelUnits = 7095;

// The exports' types, for a program that looks them up by name.
using TBMGetDllVersionProc = void (*)(std::uint16_t*, std::uint16_t*, std::uint16_t*,
                                      std::uint16_t*, std::uint32_t*);
using TBMScanInitProc = DWORD (*)();
using TBMScanExitProc = DWORD (*)();
using TBMScanRequestReadProc = DWORD (*)(HWND, UINT, DWORD);
using TBMScanStopReadProc = DWORD (*)();
using TBMScanReadLabelProc = const WCHAR* (*)(WPARAM, LPARAM);
using TBMScanOnActivateProc = DWORD (*)(HWND, DWORD, UINT, DWORD);

extern "C" {

// Stores the library's version, 2.1.1.17, and flags 0 into the pointers
// that are not null.
void TBMGetDllVersion(std::uint16_t* major, std::uint16_t* minor, std::uint16_t* build,
                      std::uint16_t* revision, std::uint32_t* flags);

// Opens the scanner "SCN1:", enables it and sets it to foreground scanning
// (reads only while the program is active); registers the program with the
// scanner software when the device has its "ScanApps" key. Returns 1 when
// the scanner was opened, enabled and configured, 0 otherwise (the reason
// is in the log, <device root>/log/TBMScanCE.log). Calling it again while
// open only configures and registers again.
DWORD TBMScanInit();

// Stops a pending read, disables and closes the scanner and frees the label
// buffer. Returns 0, or the scanner interface's error when disabling or
// closing failed (the scanner is closed all the same). Labels of messages
// still queued are not readable afterwards (TBMScanReadLabel gives null).
DWORD TBMScanExit();

// Asks for the next label to be reported by posting message to window
// (timeout in milliseconds, 0 for none). Returns 1 when a read was attempted
// (whether the scanner took it shows only in the log), 0 when the library is
// closed, suspended (the program is inactive) or a read is already pending.
// A failed submission closes the scanner; later calls then return 0 until
// TBMScanInit runs again.
DWORD TBMScanRequestRead(HWND window, UINT message, DWORD timeout);

// Cancels the pending read and waits until the scanner has let go of the
// label buffer. Returns 1 when it cancelled, 0 when closed or a cancellation
// was already outstanding (one is consumed by the next TBMScanRequestRead).
DWORD TBMScanStopRead();

// The label text (UTF-16, terminated) of a delivered message: lParam is the
// label buffer the message carried; wParam is not used. The text lies
// inside the buffer and stays valid until the next read is asked for. Null
// when the library is closed, when lParam is not the library's current
// buffer (a message left from before a TBMScanExit, say), while a read is
// pending in it, or when the buffer's offsets do not lead to a terminated
// text inside it.
const WCHAR* TBMScanReadLabel(WPARAM wParam, LPARAM lParam);

// Follows the activation of the program's window (state is the activation
// message's state, nonzero when activated; a value of 0x10000 or more counts
// as 0). With foreground scanning, deactivation stops the pending read and
// suspends the library; activation resumes it and asks for a read for the
// window given now. Returns 0, or the scanner interface's error when the
// scan parameters could not be read.
DWORD TBMScanOnActivate(HWND window, DWORD state, UINT message, DWORD timeout);

}  // extern "C"
