#include "ProviderResources.h"

#include <dlfcn.h>

#include "DevicePath.h"
#include "HandheldLibrary.h"
#include "ProgramLog.h"
#include "Registry.h"
#include "SharedMemory.h"
#include "SyncActiveFlag.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

// The handheld's names of the two libraries the provider keeps loaded.
constexpr char kWordBreakLibrary[] = "TBMWBRKCE.dll";
constexpr char kEngineLibrary[] = "TBMDBCEPPC.dll";

// "Store" is read into a buffer of this size, as the service's providers
// always have: a handheld path of up to MAX_PATH - 1 characters.
constexpr DWORD kStoreBytes = 520;

// How long the load waits for another holder of the flag's mutex (the
// agent holds it only for one store of the word).
constexpr DWORD kFlagMutexWaitMs = 10000;

constexpr char kStoreWhere[] =
    "the registry value \"Store\" of HKEY_LOCAL_MACHINE\\Windows CE Services\\"
    "synchronization\\objects\\Tabulon Mobile";

// What to do about a registration that does not lead to the libraries.
constexpr char kReinstallAdvice[] =
    "; install Tabulon Mobile on the handheld again so that it registers the folder "
    "that holds its libraries";

// The handheld path of the provider's library, as its registration gives it.
Status ReadStore(std::u16string* path) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kObjectTypeKey, 0, KEY_READ, &key);
  WCHAR buffer[kStoreBytes / sizeof(WCHAR)] = {};
  DWORD type = REG_NONE;
  DWORD bytes = kStoreBytes;
  if (rc == ERROR_SUCCESS) {
    rc =
        RegQueryValueExW(key, kStoreValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
  }
  if (rc == ERROR_FILE_NOT_FOUND) {
    return Status(StatusCode::kNotFound,
                  std::string(kStoreWhere) + " is missing" + kReinstallAdvice);
  }
  if (rc == ERROR_MORE_DATA) {
    return Status(
        StatusCode::kBadLength,
        std::string(kStoreWhere) + " is longer than a handheld path may be" + kReinstallAdvice);
  }
  if (rc != ERROR_SUCCESS) {
    return Status(
        StatusCode::kIoFailed,
        std::string(kStoreWhere) + " cannot be read: " + DescribeError(static_cast<DWORD>(rc)),
        static_cast<DWORD>(rc));
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return Status(StatusCode::kCorrupt,
                  std::string(kStoreWhere) + " is not text" + kReinstallAdvice);
  }
  buffer[kStoreBytes / sizeof(WCHAR) - 1] = u'\0';
  *path = buffer;
  return {};
}

// The host folder of the library a handheld path names: the path cut at its
// last backslash (or, for a host path, its last slash), then mapped.
Status HostFolderOf(std::u16string_view libraryPath, std::string* folder) {
  const std::size_t cut = libraryPath.find_last_of(u"\\/");
  if (cut == std::u16string_view::npos) {
    return Status(StatusCode::kInvalidArgument, std::string(kStoreWhere) + " (\"" +
                                                    Utf16ToUtf8(libraryPath) +
                                                    "\") names no folder" + kReinstallAdvice);
  }
  const std::u16string_view devicePath =
      cut == 0 ? libraryPath.substr(0, 1) : libraryPath.substr(0, cut);
  const MappedPath mapped = HostPathFromDevicePath(devicePath);
  if (!mapped) {
    return Status(StatusCode::kInvalidArgument,
                  "the folder \"" + Utf16ToUtf8(devicePath) + "\" of " + kStoreWhere +
                      " cannot be used: " + DescribeError(mapped.error) + kReinstallAdvice,
                  mapped.error);
  }
  *folder = mapped.hostPath;
  return {};
}

}  // namespace

Status LoadedLibrary::Load(const std::string& folder, std::string_view handheldName) {
  Unload();
  const std::string path = folder + "/" + LinkedLibraryFile(Utf8ToUtf16(handheldName));
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) return {};
  const char* why = ::dlerror();
  return Status(StatusCode::kNotFound,
                std::string(handheldName) + " (" + path + ") cannot be loaded: " +
                    (why != nullptr ? why : "no reason given") + kReinstallAdvice);
}

void LoadedLibrary::Unload() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

Status SyncActiveSection::OpenAndReset() {
  Close();
  section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                kSyncActiveSectionBytes, kSyncActiveSectionName);
  if (section_ != nullptr) mutex_ = CreateMutexW(nullptr, FALSE, kSyncActiveMutexName);
  if (mutex_ != nullptr) {
    view_ = MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, kSyncActiveSectionBytes);
  }
  if (view_ == nullptr) {
    const DWORD error = GetLastError();
    Close();
    return Status(
        error == ERROR_NOT_ENOUGH_MEMORY ? StatusCode::kNoMemory : StatusCode::kFailed,
        std::string("the synchronisation-in-progress word cannot be made: ") + DescribeError(error),
        error);
  }
  // A holder that died leaves the mutex abandoned; the word is whole either
  // way (one aligned store), so the wait counts as taken.
  const DWORD waited = WaitForSingleObject(mutex_, kFlagMutexWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const DWORD error = waited == WAIT_TIMEOUT ? ERROR_BUSY : GetLastError();
    Close();
    if (waited == WAIT_TIMEOUT) {
      return Status(StatusCode::kBusy,
                    "another program held the synchronisation-in-progress word for more than " +
                        std::to_string(kFlagMutexWaitMs / 1000) +
                        " seconds, so it was not reset; restart the handheld's connection "
                        "service when the synchronisation is over",
                    error);
    }
    return Status(StatusCode::kFailed,
                  std::string("the synchronisation-in-progress word cannot be locked: ") +
                      DescribeError(error),
                  error);
  }
  *static_cast<std::uint32_t*>(view_) = 0;
  ReleaseMutex(mutex_);
  return {};
}

void SyncActiveSection::Close() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mutex_ != nullptr) CloseSharedHandle(mutex_);
  if (section_ != nullptr) CloseSharedHandle(section_);
  view_ = nullptr;
  mutex_ = nullptr;
  section_ = nullptr;
}

ProviderResources::ProviderResources() {
  const Status acquired = Acquire();
  if (acquired.ok()) return;
  flag_.Close();
  engine_.Unload();
  wordBreak_.Unload();
  WriteLog(kProviderLogName, LogLevel::kError,
           acquired.message() +
               ". The provider stays loaded without the engine and without the "
               "synchronisation-in-progress word.");
}

ProviderResources::~ProviderResources() {
  flag_.Close();
  engine_.Unload();
  wordBreak_.Unload();
}

Status ProviderResources::Acquire() {
  std::u16string store;
  if (Status s = ReadStore(&store); !s.ok()) return s;
  std::string folder;
  if (Status s = HostFolderOf(store, &folder); !s.ok()) return s;
  if (Status s = wordBreak_.Load(folder, kWordBreakLibrary); !s.ok()) return s;
  if (Status s = engine_.Load(folder, kEngineLibrary); !s.ok()) return s;
  if (Status s = flag_.OpenAndReset(); !s.ok()) return s;
  WriteLog(kProviderLogName, LogLevel::kInfo,
           "the engine from " + folder +
               " stays loaded and the synchronisation-in-progress word is reset");
  return {};
}

}  // namespace tbm::sync
