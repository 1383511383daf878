// ScnAPI32.so: the device's scanner interface, as the scanner library
// (TBMScan.h) uses it. Its operations are reached by ordinal, as the device
// numbers them: ScnApiProcByOrdinal hands out the operation of an ordinal,
// to be cast to the type given here beside it.
//
// Where labels come from. The scanner "SCN1:" reads from the sources the
// device's registry names under
//   HKEY_LOCAL_MACHINE\Software\Symbol\Scanner\SCN1
// (kScannerSettingsKey, then the device name without its colon):
//   "Port"         REG_SZ     a serial device or a FIFO to read label lines
//                             from: "/dev/ttyACM0", or a handheld path such
//                             as "\Temp\scanner". A line ends with CR or LF;
//                             a barcode reader in serial mode sends exactly
//                             that.
//   "BaudRate"     REG_DWORD  the serial port's speed (default 9600);
//                             ignored for a FIFO.
//   "ImageFolder"  REG_SZ     a folder (handheld or host path; made when
//                             missing) where image files (PNG, BMP, PPM,
//                             JPEG and the other formats Qt reads) are
//                             dropped; each is decoded (EAN-13, UPC-A,
//                             Code 128, Code 39, QR) and then moved into its
//                             "Scanned" subfolder, or into "Unreadable" when
//                             it holds no barcode. Names starting with '.'
//                             are left alone, so a writer can write under
//                             such a name and rename.
// A scanner with neither source does not exist (kScnErrorNoDevice). The
// settings are read when the scanner is opened.
//
// Label lines: each line must be UTF-8 text (ASCII is) without control
// characters other than TAB and GS (0x1D, which GS1 labels carry), and at
// most kScnMaxLabelUnits UTF-16 units long; other lines, empty ones, and a
// line of more than kScnMaxLineBytes bytes are dropped and logged
// (<device root>/log/ScnAPI32.log). Lines that arrive while no read is
// pending wait, up to kScnQueuedLabels of them (the oldest goes first).
// A port that cannot be opened, or goes away (a reader unplugged, a FIFO
// removed or replaced), is looked for again every second; images go on
// being read meanwhile.
//
// Threads: the scanner reads on a thread of its own while it is enabled,
// and reports a read by posting its message from there. Every operation may
// be called from any thread of the process. No operation throws.
#pragma once

#include <cstdint>

#include "WinTypes.h"
#include "WinUser.h"

// The registry key whose subkeys, one per device name, set up scanners.
inline constexpr char16_t kScannerSettingsKey[] = u"Software\\Symbol\\Scanner";
inline constexpr char16_t kScannerPortValue[] = u"Port";
inline constexpr char16_t kScannerBaudRateValue[] = u"BaudRate";
inline constexpr char16_t kScannerImageFolderValue[] = u"ImageFolder";
inline constexpr char16_t kScannedImagesFolder[] = u"Scanned";
inline constexpr char16_t kUnreadableImagesFolder[] = u"Unreadable";

inline constexpr std::uint32_t kScnMaxLabelUnits = 7094;  // without the terminator
inline constexpr std::uint32_t kScnMaxLineBytes = 3 * kScnMaxLabelUnits;
inline constexpr std::uint32_t kScnQueuedLabels = 32;

// Ordinals of the operations.
inline constexpr DWORD kScnOrdinalAllocateBuffer = 2;
inline constexpr DWORD kScnOrdinalFreeBuffer = 4;
inline constexpr DWORD kScnOrdinalOpen = 10;
inline constexpr DWORD kScnOrdinalClose = 11;
inline constexpr DWORD kScnOrdinalEnable = 12;
inline constexpr DWORD kScnOrdinalDisable = 13;
inline constexpr DWORD kScnOrdinalReadLabelMessage = 18;
inline constexpr DWORD kScnOrdinalCancelRead = 22;
inline constexpr DWORD kScnOrdinalGetScanParameters = 35;
inline constexpr DWORD kScnOrdinalSetScanParameters = 37;
inline constexpr DWORD kScnOrdinalNoteReader = 39;

// Result codes. 0 is success.
inline constexpr DWORD kScnSuccess = 0;
inline constexpr DWORD kScnErrorFailed = 0xA0000001;        // the host refused (see the log)
inline constexpr DWORD kScnErrorBadHandle = 0xA0000002;     // no open scanner has this handle
inline constexpr DWORD kScnErrorBadParameter = 0xA0000003;  // a null or malformed argument
inline constexpr DWORD kScnErrorNoDevice = 0xA0000004;      // no such scanner set up
inline constexpr DWORD kScnErrorDeviceBusy = 0xA0000006;    // the scanner is open already
inline constexpr DWORD kScnErrorNoMemory = 0xA0000007;
inline constexpr DWORD kScnErrorNotEnabled = 0xA0000008;     // reads need an enabled scanner
inline constexpr DWORD kScnErrorReadPending = 0xA0000009;    // a read is pending already
inline constexpr DWORD kScnErrorNoReadPending = 0xA000000A;  // nothing to cancel
inline constexpr DWORD kScnErrorBufferInUse = 0xA000000B;    // a pending read holds the buffer
// Read statuses, found in a label buffer (LabelBuffer.h).
inline constexpr DWORD kScnStatusLabelTooLong = 0xA000000C;  // the label did not fit the buffer
inline constexpr DWORD kScnStatusReadPending = 0xA0000020;
inline constexpr DWORD kScnStatusReadTimedOut = 0xA0000021;
inline constexpr DWORD kScnStatusReadCancelled = 0xA0000023;

// A sentence for a result code of the scanner interface or the scanner
// library, for logs. Never null.
const char* DescribeScanResult(DWORD result);

// What ordinal 39 takes: a note of the reader's intent, made before each
// read request and stop. The interface checks it (reserved must be 0,
// active 0 or 1) and keeps the last one; a scanner here has no power states
// that it would change.
struct ScnReaderNote {
  std::uint32_t reserved;  // 0
  std::uint32_t message;   // the message reads are reported with
  std::uint32_t timeout;   // milliseconds, 0 for none
  std::uint32_t active;    // 1
};
static_assert(sizeof(ScnReaderNote) == 16);

// The operations, by ordinal.
//  2  Makes a label buffer for mode (kLabelModeText or kLabelModeBinary) with
//     room for size units (UTF-16 units in text mode, bytes in binary mode)
//     including a terminator, laid out as LabelBuffer.h says and at least
//     LabelBufferBytes(mode, size) bytes long. Null for a size of 0, a
//     buffer over 1 MiB, a bad mode, or when memory runs out.
using ScnAllocateBufferProc = BYTE* (*)(DWORD mode, DWORD size);
//  4  Frees a buffer made by ordinal 2. kScnErrorBufferInUse while a pending
//     read holds it (it stays valid), kScnErrorBadParameter for a pointer
//     the interface did not make.
using ScnFreeBufferProc = DWORD (*)(BYTE* buffer);
// 10  Opens a scanner by device name ("SCN1:") and stores its handle
//     (nonzero). kScnErrorNoDevice when the registry sets up no source for
//     it, kScnErrorDeviceBusy when it is open already.
using ScnOpenProc = DWORD (*)(const WCHAR* deviceName, DWORD* handle);
// 11  Closes a handle; a pending read is cancelled and the scanner disabled
//     first.
using ScnCloseProc = DWORD (*)(DWORD handle);
// 12, 13  Enables (starts reading the sources) and disables a scanner;
//     disabling cancels a pending read and drops waiting labels. Enabling an
//     enabled scanner, or disabling a disabled one, does nothing.
using ScnEnableProc = DWORD (*)(DWORD handle);
using ScnDisableProc = DWORD (*)(DWORD handle);
// 18  Submits a read into buffer (made by ordinal 2), to be reported by
//     posting message to window (a window of this process), with wParam the
//     read's status and lParam the buffer. The buffer reports
//     kScnStatusReadPending until the read ends: with a label (status 0),
//     after timeout milliseconds without one (kScnStatusReadTimedOut, an
//     empty label, also posted; 0 waits without limit), or by cancellation
//     (not posted). requestId, when not null, receives a number for the
//     read. kScnErrorNotEnabled, kScnErrorReadPending, kScnErrorBadParameter.
using ScnReadLabelMessageProc = DWORD (*)(DWORD handle, BYTE* buffer, HWND window, UINT message,
                                          DWORD timeout, DWORD* requestId);
// 22  Cancels the pending read at once: when it returns, the interface no
//     longer writes into that read's buffer. kScnErrorNoReadPending when
//     there is none.
using ScnCancelReadProc = DWORD (*)(DWORD handle);
// 35, 37  Read and write the scan parameter record (ScanParameters.h).
using ScnGetScanParametersProc = DWORD (*)(DWORD handle, BYTE* record);
using ScnSetScanParametersProc = DWORD (*)(DWORD handle, const BYTE* record);
// 39  Takes a reader note (above).
using ScnNoteReaderProc = DWORD (*)(DWORD handle, const ScnReaderNote* note);

using ScnProc = void (*)();

extern "C" {

// The operation of an ordinal, or null for an ordinal the interface does
// not have.
ScnProc ScnApiProcByOrdinal(DWORD ordinal);

}  // extern "C"
