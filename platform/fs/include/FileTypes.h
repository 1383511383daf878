// Types and numbers shared by the handheld's file calls: access rights,
// attributes, seek origins, error numbers and the time stamp the find calls
// fill in. The values are the platform's, because the system's code passes
// and compares them as it always has.
#pragma once

#include "WinTypes.h"

// The longest path the handheld accepts, in characters, terminator included.
constexpr DWORD MAX_PATH = 260;

// Access rights asked of CreateFileW.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;

// Share flags. CreateFileW accepts them; Linux has no share modes, so two
// openers of one file are never refused because of them.
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;

// The dispositions of CreateFileW (CREATE_NEW ... TRUNCATE_EXISTING) are
// shared with the database volumes and come from WinTypes.h.

// Attributes reported by GetFileAttributesW and the find calls.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

// Failure answers of the calls that return a number rather than a BOOL.
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

// Origins for SetFilePointer.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
