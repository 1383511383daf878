// The desktop's file calls on the handheld: each one request over the
// shared connection (RapiConnection.h), except reads and writes larger than
// kMaxFileChunkBytes, which take as many exchanges as they need.
#include <algorithm>
#include <cstring>

#include "CallGuard.h"
#include "Rapi.h"
#include "RapiConnection.h"
#include "RapiFindEntry.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

// The longest path sent. A longer one is sent cut to one unit more than
// this, so that the handheld refuses it as too long.
constexpr std::size_t kMaxPathUnits = 32767;

// A failure found on the desktop before anything is sent.
template <typename Result>
Result RefuseLocally(Result failure) {
  Record(Status());
  SetLastError(ERROR_INVALID_PARAMETER);
  return failure;
}

// The handle number a HANDLE carries; 0 (never given) for a value no
// handle number can be, so that the handheld refuses it.
std::uint32_t HandleNumber(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

HANDLE HandleFromNumber(std::uint32_t number) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
}

std::u16string PathArgument(const WCHAR* path) {
  std::size_t units = 0;
  while (units <= kMaxPathUnits && path[units] != u'\0') ++units;
  return std::u16string(path, units);
}

// One call whose only result is success; the reply must carry nothing else.
BOOL CallWithoutResults(RapiCall call, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> results;
  if (!Call(call, payload, &results).ok()) return FALSE;
  PayloadReader reader(results);
  if (!reader.End()) {
    Record(
        reader.status().WithContext("the reply to " + CallName(static_cast<std::uint16_t>(call))));
    return FALSE;
  }
  return TRUE;
}

// Reads one find entry of a reply into *findData (left alone on failure).
bool ReadEntry(PayloadReader& reader, CE_FIND_DATA* findData) {
  FindEntry entry;
  if (!ReadFindEntry(reader, &entry) || !reader.End()) return false;
  CE_FIND_DATA data{};
  data.dwFileAttributes = entry.attributes;
  data.ftCreationTime = entry.creationTime;
  data.ftLastAccessTime = entry.lastAccessTime;
  data.ftLastWriteTime = entry.lastWriteTime;
  data.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(entry.size);
  data.dwOID = entry.oid;
  CopyUtf16Cut(data.cFileName, sizeof data.cFileName, entry.name);
  *findData = data;
  return true;
}

// One exchange of a write: count bytes from at.
bool WriteChunk(std::uint32_t handle, const std::uint8_t* at, std::uint32_t count,
                std::uint32_t* written) {
  std::vector<std::uint8_t> results;
  const std::vector<std::uint8_t> request =
      PayloadWriter().U32(handle).Bytes(std::span<const std::uint8_t>(at, count)).Take();
  if (!Call(RapiCall::kWriteFile, request, &results).ok()) return false;
  PayloadReader reader(results);
  std::uint32_t done = 0;
  if (!reader.U32(&done) || !reader.End() || done > count) {
    Record(reader.status().ok()
               ? Status(StatusCode::kCorrupt, "the handheld says it wrote more than it was sent")
               : reader.status().WithContext("the reply to CeWriteFile"));
    return false;
  }
  *written = done;
  return true;
}

}  // namespace
}  // namespace tbm::rapi

using namespace tbm::rapi;
using tbm::Guarded;

extern "C" HANDLE CeCreateFile(const WCHAR* name, DWORD access, DWORD share, void* /*security*/,
                               DWORD creation, DWORD flags, HANDLE /*templateFile*/) {
  return Guarded(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    if (name == nullptr) return RefuseLocally(INVALID_HANDLE_VALUE);
    const std::vector<std::uint8_t> request = PayloadWriter()
                                                  .String(PathArgument(name))
                                                  .U32(access)
                                                  .U32(share)
                                                  .U32(creation)
                                                  .U32(flags)
                                                  .Take();
    std::vector<std::uint8_t> results;
    if (!Call(RapiCall::kCreateFile, request, &results).ok()) return INVALID_HANDLE_VALUE;
    PayloadReader reader(results);
    std::uint32_t handle = 0;
    if (!reader.U32(&handle) || !reader.End()) {
      Record(reader.status().WithContext("the reply to CeCreateFile"));
      return INVALID_HANDLE_VALUE;
    }
    return HandleFromNumber(handle);
  });
}

extern "C" BOOL CeReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (read != nullptr) *read = 0;
    if ((buffer == nullptr && toRead != 0) || overlapped != nullptr) return RefuseLocally(FALSE);
    const std::uint32_t handle = HandleNumber(file);
    auto* at = static_cast<std::uint8_t*>(buffer);
    const auto wantOf = [toRead](std::size_t done) {
      return static_cast<std::uint32_t>(std::min<std::size_t>(toRead - done, kMaxFileChunkBytes));
    };
    // One exchange even for nothing, so that a bad handle is reported.
    const std::size_t exchanges =
        toRead == 0 ? 1 : (std::size_t{toRead} + kMaxFileChunkBytes - 1) / kMaxFileChunkBytes;
    DWORD total = 0;
    tbm::Status malformed;
    const tbm::Status status = CallAhead(
        RapiCall::kReadFile, exchanges,
        [&](std::size_t i) {
          return PayloadWriter().U32(handle).U32(wantOf(i * kMaxFileChunkBytes)).Take();
        },
        [&](std::vector<std::uint8_t>& results) {
          const std::uint32_t want = wantOf(total);
          PayloadReader reader(results);
          std::span<const std::uint8_t> bytes;
          if (!reader.BytesView(&bytes, want) || !reader.End()) {
            malformed = reader.status().WithContext("the reply to CeReadFile");
            return false;
          }
          if (!bytes.empty()) std::memcpy(at + total, bytes.data(), bytes.size());
          total += static_cast<DWORD>(bytes.size());
          if (read != nullptr) *read = total;
          return bytes.size() == want && total < toRead;  // short: the end of the file
        });
    if (!malformed.ok()) {
      Record(malformed);
      return FALSE;
    }
    return status.ok() ? TRUE : FALSE;
  });
}

extern "C" BOOL CeWriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written,
                            void* overlapped) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (written != nullptr) *written = 0;
    if ((buffer == nullptr && toWrite != 0) || overlapped != nullptr) return RefuseLocally(FALSE);
    const std::uint32_t handle = HandleNumber(file);
    const auto* at = static_cast<const std::uint8_t*>(buffer);
    DWORD total = 0;
    do {
      const std::uint32_t count = std::min<DWORD>(toWrite - total, kMaxFileChunkBytes);
      std::uint32_t done = 0;
      if (!WriteChunk(handle, at == nullptr ? nullptr : at + total, count, &done)) return FALSE;
      total += done;
      if (written != nullptr) *written = total;
      if (done < count) break;
    } while (total < toWrite);
    return TRUE;
  });
}

extern "C" DWORD CeGetFileSize(HANDLE file, DWORD* high) {
  return Guarded(INVALID_FILE_SIZE, [&]() -> DWORD {
    std::vector<std::uint8_t> results;
    const std::vector<std::uint8_t> request = PayloadWriter().U32(HandleNumber(file)).Take();
    if (!Call(RapiCall::kGetFileSize, request, &results).ok()) return INVALID_FILE_SIZE;
    PayloadReader reader(results);
    std::uint64_t size = 0;
    if (!reader.U64(&size) || !reader.End()) {
      Record(reader.status().WithContext("the reply to CeGetFileSize"));
      return INVALID_FILE_SIZE;
    }
    if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
  });
}

extern "C" BOOL CeCloseHandle(HANDLE handle) {
  return Guarded(FALSE, [&] {
    return CallWithoutResults(RapiCall::kCloseHandle,
                              PayloadWriter().U32(HandleNumber(handle)).Take());
  });
}

extern "C" BOOL CeDeleteFile(const WCHAR* name) {
  return Guarded(FALSE, [&] {
    if (name == nullptr) return RefuseLocally(FALSE);
    return CallWithoutResults(RapiCall::kDeleteFile,
                              PayloadWriter().String(PathArgument(name)).Take());
  });
}

extern "C" BOOL CeCreateDirectory(const WCHAR* name, void* /*security*/) {
  return Guarded(FALSE, [&] {
    if (name == nullptr) return RefuseLocally(FALSE);
    return CallWithoutResults(RapiCall::kCreateDirectory,
                              PayloadWriter().String(PathArgument(name)).Take());
  });
}

extern "C" HANDLE CeFindFirstFile(const WCHAR* pattern, CE_FIND_DATA* findData) {
  return Guarded(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
    if (pattern == nullptr || findData == nullptr) return RefuseLocally(INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> results;
    if (!Call(RapiCall::kFindFirstFile, PayloadWriter().String(PathArgument(pattern)).Take(),
              &results)
             .ok()) {
      return INVALID_HANDLE_VALUE;
    }
    PayloadReader reader(results);
    std::uint32_t handle = 0;
    if (!reader.U32(&handle) || !ReadEntry(reader, findData)) {
      Record(reader.status().WithContext("the reply to CeFindFirstFile"));
      // The search is open on the handheld; it ends with the connection.
      return INVALID_HANDLE_VALUE;
    }
    return HandleFromNumber(handle);
  });
}

extern "C" BOOL CeFindNextFile(HANDLE find, CE_FIND_DATA* findData) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (findData == nullptr) return RefuseLocally(FALSE);
    std::vector<std::uint8_t> results;
    if (!Call(RapiCall::kFindNextFile, PayloadWriter().U32(HandleNumber(find)).Take(), &results)
             .ok()) {
      return FALSE;
    }
    PayloadReader reader(results);
    if (!ReadEntry(reader, findData)) {
      Record(reader.status().WithContext("the reply to CeFindNextFile"));
      return FALSE;
    }
    return TRUE;
  });
}

extern "C" BOOL CeFindClose(HANDLE find) {
  return Guarded(FALSE, [&] {
    return CallWithoutResults(RapiCall::kFindClose, PayloadWriter().U32(HandleNumber(find)).Take());
  });
}
