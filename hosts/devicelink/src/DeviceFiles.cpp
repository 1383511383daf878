// The file calls a desktop makes on the handheld (calls 10-29), served with
// the handheld's own file calls (FileCalls.h, FindFile.h) on the device
// root. The service thread's last error is what those calls set; a failure
// hands it to the connection for CeGetLastError.
//
// The one thing the service adds to the handheld's own calls is the fence
// around the device root: the local calls take a path with '/' as a host
// path, which a program on the handheld may give but a desktop must not.
#include <algorithm>
#include <optional>

#include "DeviceCalls.h"
#include "FileCalls.h"
#include "FindFile.h"
#include "RapiFindEntry.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

using rapi::PayloadReader;
using rapi::PayloadWriter;
using rapi::RapiCall;

// The longest path taken; longer ones are refused by the mapping anyway.
constexpr std::uint32_t kMaxPathUnits = 32768;

class OpenFile : public OpenObject {
 public:
  explicit OpenFile(HANDLE handle) : handle_(handle) {}
  ~OpenFile() override { CloseFileHandle(handle_); }
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

class OpenSearch : public OpenObject {
 public:
  explicit OpenSearch(HANDLE handle) : handle_(handle) {}
  ~OpenSearch() override { FindClose(handle_); }
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

std::vector<std::uint8_t> Succeeded() { return PayloadWriter().I32(S_OK).Take(); }

// Failed with the error the handheld's call just set.
std::vector<std::uint8_t> FailedHere(ConnectionState& state, const std::string& what) {
  const DWORD error = GetLastError();
  return Failed(state, error == ERROR_SUCCESS ? ERROR_INTERNAL_ERROR : error, what);
}

std::string Quoted(const std::u16string& path) { return "'" + Utf16ToUtf8(path) + "'"; }

// The refusal of a path a desktop may not use, or nothing when the
// handheld's mapping may judge it. A '/' makes a host path for the local
// calls and a NUL would cut the path short, so neither goes further.
std::optional<std::vector<std::uint8_t>> RefusePath(ConnectionState& state,
                                                    const std::u16string& path) {
  if (path.find(u'/') != std::u16string::npos) {
    return Failed(state, ERROR_ACCESS_DENIED,
                  "the path " + Quoted(path) +
                      " is not a handheld path (a desktop reaches only the handheld's own files, "
                      "named with '\\')");
  }
  if (path.find(u'\0') != std::u16string::npos) {
    return Failed(state, ERROR_INVALID_NAME, "the path holds a NUL character");
  }
  return std::nullopt;
}

std::string HandleText(std::uint32_t handle) { return "handle " + std::to_string(handle); }

std::vector<std::uint8_t> NotOpen(ConnectionState& state, std::uint32_t handle, const char* kind) {
  return Failed(state, ERROR_INVALID_HANDLE,
                HandleText(handle) + " is not " + kind + " this desktop has open");
}

rapi::FindEntry EntryOf(const WIN32_FIND_DATAW& data) {
  rapi::FindEntry entry;
  entry.attributes = data.dwFileAttributes;
  entry.creationTime = data.ftCreationTime;
  entry.lastAccessTime = data.ftLastAccessTime;
  entry.lastWriteTime = data.ftLastWriteTime;
  entry.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  entry.name = std::u16string(Utf16View(data.cFileName));
  return entry;
}

std::vector<std::uint8_t> CreateFile(PayloadReader& reader, std::uint16_t call,
                                     ConnectionState& state) {
  std::u16string path;
  std::uint32_t access = 0, share = 0, creation = 0, flags = 0;
  if (!reader.String(&path, kMaxPathUnits) || !reader.U32(&access) || !reader.U32(&share) ||
      !reader.U32(&creation) || !reader.U32(&flags) || !reader.End()) {
    return Malformed(reader, call);
  }
  if (auto refused = RefusePath(state, path)) return *refused;
  SetLastError(ERROR_SUCCESS);
  const HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, creation, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailedHere(state, Quoted(path) + " cannot be opened");
  // CREATE_ALWAYS and OPEN_ALWAYS say whether the file was there before.
  if (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) state.lastError = GetLastError();
  const std::uint32_t handle = state.Keep(std::make_unique<OpenFile>(file));
  return PayloadWriter().I32(S_OK).U32(handle).Take();
}

std::vector<std::uint8_t> ReadFromFile(PayloadReader& reader, std::uint16_t call,
                                       ConnectionState& state) {
  std::uint32_t handle = 0, wanted = 0;
  if (!reader.U32(&handle) || !reader.U32(&wanted) || !reader.End()) {
    return Malformed(reader, call);
  }
  if (wanted > rapi::kMaxFileChunkBytes) {
    return Failed(state, ERROR_INVALID_PARAMETER,
                  "a read of " + std::to_string(wanted) + " bytes is more than the " +
                      std::to_string(rapi::kMaxFileChunkBytes) + " one exchange carries");
  }
  const OpenFile* file = state.Find<OpenFile>(handle);
  if (file == nullptr) return NotOpen(state, handle, "a file");
  std::vector<std::uint8_t> bytes(wanted);
  DWORD got = 0;
  if (!ReadFile(file->handle(), bytes.data(), wanted, &got, nullptr)) {
    return FailedHere(state, "the file of " + HandleText(handle) + " cannot be read");
  }
  return PayloadWriter()
      .I32(S_OK)
      .Bytes(std::span<const std::uint8_t>(bytes).first(std::min<DWORD>(got, wanted)))
      .Take();
}

std::vector<std::uint8_t> WriteToFile(PayloadReader& reader, std::uint16_t call,
                                      ConnectionState& state) {
  std::uint32_t handle = 0;
  std::span<const std::uint8_t> bytes;
  if (!reader.U32(&handle) || !reader.BytesView(&bytes, rapi::kMaxFileChunkBytes) ||
      !reader.End()) {
    return Malformed(reader, call);
  }
  const OpenFile* file = state.Find<OpenFile>(handle);
  if (file == nullptr) return NotOpen(state, handle, "a file");
  DWORD written = 0;
  if (!WriteFile(file->handle(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                 nullptr)) {
    return FailedHere(state, "the file of " + HandleText(handle) + " cannot be written");
  }
  return PayloadWriter().I32(S_OK).U32(written).Take();
}

std::vector<std::uint8_t> FileSize(PayloadReader& reader, std::uint16_t call,
                                   ConnectionState& state) {
  std::uint32_t handle = 0;
  if (!reader.U32(&handle) || !reader.End()) return Malformed(reader, call);
  const OpenFile* file = state.Find<OpenFile>(handle);
  if (file == nullptr) return NotOpen(state, handle, "a file");
  DWORD high = 0;
  const DWORD low = GetFileSize(file->handle(), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    return FailedHere(state, "the size of the file of " + HandleText(handle) + " is not known");
  }
  state.lastError = ERROR_SUCCESS;
  return PayloadWriter().I32(S_OK).U64(static_cast<std::uint64_t>(high) << 32 | low).Take();
}

// Closes whatever handle names: the object's destructor lets go of it.
std::vector<std::uint8_t> CloseHandleNumber(PayloadReader& reader, std::uint16_t call,
                                            ConnectionState& state) {
  std::uint32_t handle = 0;
  if (!reader.U32(&handle) || !reader.End()) return Malformed(reader, call);
  if (state.open.erase(handle) == 0) return NotOpen(state, handle, "anything");
  return Succeeded();
}

// CeDeleteFile and CeCreateDirectory: a path in, nothing out.
std::vector<std::uint8_t> ChangePath(PayloadReader& reader, std::uint16_t call,
                                     ConnectionState& state) {
  std::u16string path;
  if (!reader.String(&path, kMaxPathUnits) || !reader.End()) return Malformed(reader, call);
  if (auto refused = RefusePath(state, path)) return *refused;
  if (call == static_cast<std::uint16_t>(RapiCall::kDeleteFile)) {
    if (!DeleteFileW(path.c_str())) return FailedHere(state, Quoted(path) + " cannot be deleted");
  } else if (!CreateDirectoryW(path.c_str(), nullptr)) {
    return FailedHere(state, "the folder " + Quoted(path) + " cannot be made");
  }
  return Succeeded();
}

std::vector<std::uint8_t> FindFirst(PayloadReader& reader, std::uint16_t call,
                                    ConnectionState& state) {
  std::u16string pattern;
  if (!reader.String(&pattern, kMaxPathUnits) || !reader.End()) return Malformed(reader, call);
  if (auto refused = RefusePath(state, pattern)) return *refused;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    return FailedHere(state, "nothing is listed for " + Quoted(pattern));
  }
  const std::uint32_t handle = state.Keep(std::make_unique<OpenSearch>(find));
  PayloadWriter writer;
  writer.I32(S_OK).U32(handle);
  rapi::WriteFindEntry(writer, EntryOf(data));
  return writer.Take();
}

std::vector<std::uint8_t> FindNext(PayloadReader& reader, std::uint16_t call,
                                   ConnectionState& state) {
  std::uint32_t handle = 0;
  if (!reader.U32(&handle) || !reader.End()) return Malformed(reader, call);
  const OpenSearch* search = state.Find<OpenSearch>(handle);
  if (search == nullptr) return NotOpen(state, handle, "a search");
  WIN32_FIND_DATAW data{};
  if (!FindNextFileW(search->handle(), &data)) {
    return FailedHere(state, "the search of " + HandleText(handle) + " has no next entry");
  }
  PayloadWriter writer;
  writer.I32(S_OK);
  rapi::WriteFindEntry(writer, EntryOf(data));
  return writer.Take();
}

std::vector<std::uint8_t> FindEnd(PayloadReader& reader, std::uint16_t call,
                                  ConnectionState& state) {
  std::uint32_t handle = 0;
  if (!reader.U32(&handle) || !reader.End()) return Malformed(reader, call);
  if (state.Find<OpenSearch>(handle) == nullptr) return NotOpen(state, handle, "a search");
  state.open.erase(handle);
  return Succeeded();
}

}  // namespace

std::vector<std::uint8_t> ServeFileCall(const rapi::Frame& request, ConnectionState& state) {
  const std::uint16_t call = request.header.call;
  PayloadReader reader(request.payload);
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kCreateFile:
      return CreateFile(reader, call, state);
    case RapiCall::kReadFile:
      return ReadFromFile(reader, call, state);
    case RapiCall::kWriteFile:
      return WriteToFile(reader, call, state);
    case RapiCall::kGetFileSize:
      return FileSize(reader, call, state);
    case RapiCall::kCloseHandle:
      return CloseHandleNumber(reader, call, state);
    case RapiCall::kDeleteFile:
    case RapiCall::kCreateDirectory:
      return ChangePath(reader, call, state);
    case RapiCall::kFindFirstFile:
      return FindFirst(reader, call, state);
    case RapiCall::kFindNextFile:
      return FindNext(reader, call, state);
    case RapiCall::kFindClose:
      return FindEnd(reader, call, state);
    default:
      break;
  }
  return UnknownCall(call);
}

}  // namespace tbm::devicelink
