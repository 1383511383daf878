// The registry: each machine's keys and values, kept in one text file in
// the machine's root (<root>/registry.reg) that a person can read, diff
// and edit.
//
// The calls keep the names, arguments and error conventions of the
// platform's registry calls, because the system's code is written against
// them: each returns a LONG error number, ERROR_SUCCESS (0) on success.
//
// Keys. The predefined keys HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE and HKEY_USERS always exist and stand for the hives of
// the current machine (tbm::CurrentMachine(), asked at every call); a key
// opened or created below one belongs to the machine it was opened on.
// tbm::RegConnectMachine opens a hive of a given machine. Key and value
// names are compared without regard to case and keep the case they were
// made with. A key name is 1 to 255 UTF-16 units without a backslash or
// control characters; a sub-key argument is a path of such names joined by
// backslashes (a trailing backslash is allowed), at most 512 levels below
// its hive. Subkeys enumerate in case-blind order of their names, values in
// the order they were first set.
//
// Values. REG_SZ (stored up to the first NUL and always read back with one
// terminator), REG_DWORD (exactly 4 bytes), REG_BINARY, and any other type
// number as raw bytes. Value names are up to 16383 units; the default value
// of a key has the empty name (or a null pointer).
//
// Sharing. A change is saved before its call returns: under a file lock
// (registry.reg.lock beside the file) the newest file is read again if
// another process changed it, the change applied, the whole file written
// to a temporary file and renamed into place. A reader never sees a half
// written file and always sees the changes other processes have saved. A
// change that cannot be saved is not kept.
//
// A damaged or hand-edited file never stops the registry: lines that cannot
// be read are reported (through tbm::SetRegistryMessageHandler, naming the
// file and the line) and left out, and everything else is kept. Before the
// first change is saved over such a file, the file is kept as
// registry.reg.damaged beside it. Comments in the file are not kept across
// a change.
//
// The access masks, options and security arguments are accepted and not
// enforced: every key opened can be read and changed, as on the handheld.
// Thread safety: every call may be made from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Machine.h"
#include "WinTypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003u});

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// Options of RegCreateKeyExW. Volatile keys are kept like the others.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;

// What RegCreateKeyExW did.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Access masks (accepted, not enforced).
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

extern "C" {

// Opens subKey below key, creating it and every missing level, and stores
// a new handle in *result. A null or empty subKey opens key itself again.
// *disposition (when not null) says REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY; opening an existing key writes nothing.
// reserved, className, options, access and security are ignored.
// Errors: ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (null result, a bad
// name), ERROR_BAD_PATHNAME (a path that starts with a backslash or has an
// empty level), ERROR_KEY_DELETED (key was deleted), and the errors of
// saving: ERROR_ACCESS_DENIED, ERROR_DISK_FULL, ERROR_WRITE_FAULT,
// ERROR_PATH_NOT_FOUND.
LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* className, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);

// Opens the existing subKey below key (null or empty: key itself again).
// options and access are ignored. Errors: ERROR_FILE_NOT_FOUND (no such
// key), and as RegCreateKeyExW; the errors of reading the file:
// ERROR_ACCESS_DENIED, ERROR_READ_FAULT.
LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* result);

// Closes a handle. Closing a predefined key succeeds and does nothing.
// Error: ERROR_INVALID_HANDLE.
LONG RegCloseKey(HKEY key);

// Reads the value valueName (null or empty: the default value) of key.
//   reserved    must be null.
//   type        receives the value's type (when not null).
//   data        receives the value's bytes; may be null to ask the size.
//   dataBytes   in: the size of data; out: the value's size. May be null
//               only when data is null.
// When data is too small, nothing is stored in it, *dataBytes is set to
// the size needed and the result is ERROR_MORE_DATA. A REG_SZ value's size
// includes its terminator.
// Errors: ERROR_FILE_NOT_FOUND (no such value), ERROR_MORE_DATA,
// ERROR_INVALID_PARAMETER, ERROR_INVALID_HANDLE, ERROR_KEY_DELETED.
LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataBytes);

// Sets the value valueName (null or empty: the default value) of key to
// dataBytes bytes of data with that type, replacing any value of that name.
// REG_SZ data is taken up to its first NUL unit (an odd last byte is
// ignored); REG_DWORD data must be 4 bytes. reserved is ignored.
// Errors: ERROR_INVALID_PARAMETER (null data with a size, a REG_DWORD that
// is not 4 bytes, a name too long), ERROR_INVALID_HANDLE, ERROR_KEY_DELETED,
// and the errors of saving.
LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataBytes);

// Deletes the value valueName (null or empty: the default value) of key.
// Errors: ERROR_FILE_NOT_FOUND, and as RegSetValueExW.
LONG RegDeleteValueW(HKEY key, const WCHAR* valueName);

// Deletes subKey below key with all its values and everything below it,
// as the handheld does. A null or empty subKey deletes key itself, which
// must not be a hive. Handles open on deleted keys answer
// ERROR_KEY_DELETED from then on. Errors: ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED (a hive), and as RegCreateKeyExW.
LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey);

// The name of key's subkey number index (from 0, in case-blind order).
//   name, nameChars  the buffer and its size in characters, terminator
//                    included; on success *nameChars is the length without
//                    the terminator. When the buffer is too small nothing is
//                    stored, *nameChars is set to the size needed (with the
//                    terminator) and the result is ERROR_MORE_DATA.
//   reserved         must be null.
//   className, classChars   optional: keys have no class; an empty string
//                    is stored when there is room, and *classChars is 0.
//   lastWriteTime    optional: not kept; set to zero.
// Errors: ERROR_NO_MORE_ITEMS (index past the last subkey),
// ERROR_MORE_DATA, ERROR_INVALID_PARAMETER, ERROR_INVALID_HANDLE,
// ERROR_KEY_DELETED.
LONG RegEnumKeyExW(HKEY key, DWORD index, WCHAR* name, DWORD* nameChars, DWORD* reserved,
                   WCHAR* className, DWORD* classChars, FILETIME* lastWriteTime);

// Value number index of key (from 0, in the order the values were set):
// its name as for RegEnumKeyExW (the default value's name is empty), and
// its type and data as for RegQueryValueExW (type, data and dataBytes are
// optional). When either the name or the data does not fit, the result is
// ERROR_MORE_DATA with the sizes needed, and nothing is stored.
// Errors: ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA, ERROR_INVALID_PARAMETER,
// ERROR_INVALID_HANDLE, ERROR_KEY_DELETED.
LONG RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataBytes);

}  // extern "C"

namespace tbm {

// Opens the hive predefinedKey (HKEY_CLASSES_ROOT ... HKEY_USERS) of
// machine's registry, whichever machine this process stands on, and stores
// a handle in *result; keys opened below it are that machine's too. The
// machine's root is taken when the call is made. Errors:
// ERROR_INVALID_HANDLE (not a predefined key), ERROR_INVALID_PARAMETER.
LONG RegConnectMachine(Machine machine, HKEY predefinedKey, HKEY* result);

// The REG_SZ value valueName (null or empty: the default value) of
// key\subKey (null or empty: key itself), without its terminator; nothing
// when the key or the value is missing or is not a string.
std::optional<std::u16string> RegGetString(HKEY key, const char16_t* subKey,
                                           const char16_t* valueName);
// Sets that value as REG_SZ, making the keys on the way. The registry's
// error number.
LONG RegSetString(HKEY key, const char16_t* subKey, const char16_t* valueName,
                  std::u16string_view value);

// The host path of machine's registry file.
std::string RegistryFilePath(Machine machine);

// Where sentences about a registry file go: one per line that could not be
// read ("/.../registry.reg line 12: ...; the line is ignored") and one when
// a damaged file is kept aside. Each file version is reported once per
// process. The default handler writes them to standard error; an empty
// handler drops them.
void SetRegistryMessageHandler(std::function<void(const std::string& message)> handler);

}  // namespace tbm
