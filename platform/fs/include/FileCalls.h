// The handheld's file calls, on the host's file system.
//
// Every path argument is a handheld path or a host path and is mapped by
// HostPathFromDevicePath (DevicePath.h): case-blind, never outside the
// device root. Every call sets the per-thread last error on failure with the
// platform's numbers; calls that only succeed leave it alone unless noted.
// No call throws, and no call crashes on a stale or made-up handle: file
// handles live in a table, and a handle that is not in it is answered with
// ERROR_INVALID_HANDLE.
//
// File handles are closed with CloseFileHandle, not CloseHandle: the
// database store has handles of its own and its own closer, and the two
// tables never share a handle value.
#pragma once

#include "FileTypes.h"
#include "WinTypes.h"

extern "C" {

// Opens or creates a file and returns a handle for it, or
// INVALID_HANDLE_VALUE.
//   access       GENERIC_READ, GENERIC_WRITE, both, or 0 (size and
//                position only).
//   shareMode    FILE_SHARE_* flags; accepted, never enforced.
//   security     ignored (may be null).
//   disposition  CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS or
//                TRUNCATE_EXISTING.
//   flagsAndAttributes, templateFile  ignored.
// On success with CREATE_ALWAYS or OPEN_ALWAYS the last error is
// ERROR_ALREADY_EXISTS when the file was there before and ERROR_SUCCESS when
// it was created. Failures:
//   ERROR_FILE_EXISTS      CREATE_NEW and the file exists;
//   ERROR_FILE_NOT_FOUND   OPEN_EXISTING/TRUNCATE_EXISTING and it is missing;
//   ERROR_PATH_NOT_FOUND   the folder it would be in is missing;
//   ERROR_ACCESS_DENIED    the path names a folder, or the host refuses;
//   ERROR_INVALID_PARAMETER  an unknown disposition, an access other than
//                          the two GENERIC_ bits, or TRUNCATE_EXISTING
//                          without GENERIC_WRITE;
//   the mapping errors of HostPathFromDevicePath.
HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);

// Reads up to bytesToRead bytes at the file position into buffer and moves
// the position past them. *bytesRead (when not null) receives the count,
// which is below bytesToRead only at the end of the file (0 there: reading at
// the end is not an error). overlapped must be null.
// Failures: ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED (opened without
// GENERIC_READ), ERROR_INVALID_PARAMETER (null buffer with a count, or an
// overlapped argument), ERROR_READ_FAULT.
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);

// Writes bytesToWrite bytes from buffer at the file position, growing the
// file as needed (a gap left by seeking past the end reads as zeros), and
// moves the position past them. *bytesWritten (when not null) receives the
// count. The data is in the host file when the call returns; other openers
// and processes see it at once. overlapped must be null.
// Failures: ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED (opened without
// GENERIC_WRITE), ERROR_INVALID_PARAMETER, ERROR_DISK_FULL,
// ERROR_WRITE_FAULT.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);

// Moves the file position relative to moveMethod (FILE_BEGIN, FILE_CURRENT,
// FILE_END) and returns the low 32 bits of the new position.
// With distanceHigh null the distance is the signed 32-bit distance; with it
// set, the distance is the signed 64-bit value (*distanceHigh << 32 |
// (DWORD)distance) and *distanceHigh receives the high 32 bits of the new
// position. A position past the end is allowed.
// On success the last error is set to ERROR_SUCCESS, so a position whose low
// half is 0xFFFFFFFF can be told from a failure. On failure returns
// INVALID_SET_FILE_POINTER with ERROR_INVALID_HANDLE, ERROR_NEGATIVE_SEEK
// (before the start), or ERROR_INVALID_PARAMETER (bad moveMethod, or a
// position beyond 4 GiB with distanceHigh null); the position is unchanged.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);

// The file's size: returns the low 32 bits and stores the high 32 bits in
// *sizeHigh when it is not null. On success the last error is set to
// ERROR_SUCCESS. On failure returns INVALID_FILE_SIZE with
// ERROR_INVALID_HANDLE or ERROR_READ_FAULT.
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);

// Closes a handle from CreateFileW. The handle is dead afterwards, and stays
// dead: handle values are never reused. Fails with ERROR_INVALID_HANDLE for
// anything else (including a find handle, which FindClose closes).
BOOL CloseFileHandle(HANDLE file);

// Deletes a file. Failures: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED (it is a folder, or the host refuses), mapping errors.
// An open file can be deleted; its open handles keep working on the data.
BOOL DeleteFileW(const WCHAR* fileName);

// Renames or moves a file or folder. Fails with ERROR_ALREADY_EXISTS when
// newName exists, with ERROR_FILE_NOT_FOUND/ERROR_PATH_NOT_FOUND when
// existingName or the target folder is missing, and with ERROR_ACCESS_DENIED
// when a folder would move into itself. Giving the same name in another case
// changes the case of the entry. A file moved to another host file system is
// copied and the original deleted; a folder fails there with
// ERROR_NOT_SAME_DEVICE.
BOOL MoveFileW(const WCHAR* existingName, const WCHAR* newName);

// The attributes of a file or folder: FILE_ATTRIBUTE_DIRECTORY for a folder,
// FILE_ATTRIBUTE_READONLY when its owner may not write it, and
// FILE_ATTRIBUTE_NORMAL when neither applies. On failure returns
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND or
// a mapping error.
DWORD GetFileAttributesW(const WCHAR* fileName);

// Creates a folder; its parent must exist. security is ignored.
// Failures: ERROR_ALREADY_EXISTS (a file or folder of that name exists, in
// any case), ERROR_PATH_NOT_FOUND (the parent is missing), mapping errors.
BOOL CreateDirectoryW(const WCHAR* pathName, void* security);

// Removes an empty folder. Failures: ERROR_DIR_NOT_EMPTY,
// ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY (it is a file),
// ERROR_ACCESS_DENIED (the device root itself), mapping errors.
BOOL RemoveDirectoryW(const WCHAR* pathName);

}  // extern "C"
