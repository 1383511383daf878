// The host files behind named sections and mutexes as another process of
// the user (or a damaged /dev/shm) may leave them. The file is held by this
// process through an open of its own, as a live holder would hold it, so
// that opening reads its header instead of discarding it as a leftover.
//
//   bytes 0-3   how many bytes longer the file is than the rest of the
//               input (modulo 65536; the extension reads as zeros)
//   bytes 4-    the file's first bytes: its header and what follows
//
// Opening as a section and as a mutex must refuse or succeed cleanly; a
// section that opens must be mapped whole: its header's payload size lies
// within the file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "SharedMemory.h"
#include "SharedObject.h"

namespace {

constexpr char16_t kName[] = u"TBMFuzzedObject";
// Where the header keeps the payload's size.
constexpr std::size_t kPayloadBytesAt = 24;

const std::string& ObjectPath() {
  static const std::string path = [] {
    ::setenv("TBM_DEVICE_ROOT", tbm::fuzz::ScratchFolder("tbm-shm-header-fuzz-").c_str(), 1);
    return "/dev/shm/" + tbm::shm::HostObjectName(kName);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tbm::fuzz::InputBytes input(data, size);
  const std::uint32_t extension = input.Word() % 65536;
  const std::vector<std::uint8_t> bytes = input.Bytes(size);

  ::unlink(ObjectPath().c_str());
  const int holder = ::open(ObjectPath().c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (holder < 0) std::abort();
  if ((!bytes.empty() &&
       ::write(holder, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ||
      ::ftruncate(holder, static_cast<off_t>(bytes.size() + extension)) != 0 ||
      ::flock(holder, LOCK_SH) != 0) {
    std::abort();
  }

  if (HANDLE section = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kName); section != nullptr) {
    std::uint8_t word[8] = {};  // the file reads as zeros past the input
    for (std::size_t i = 0; i < sizeof word && kPayloadBytesAt + i < bytes.size(); ++i) {
      word[i] = bytes[kPayloadBytesAt + i];
    }
    std::uint64_t payloadBytes = 0;
    std::memcpy(&payloadBytes, word, sizeof payloadBytes);
    auto* view =
        static_cast<volatile std::uint8_t*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr) std::abort();  // an opened section maps
    view[0] = view[payloadBytes - 1];
    UnmapViewOfFile(const_cast<std::uint8_t*>(view));
    CloseSharedHandle(section);
  }
  if (HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kName); mutex != nullptr) {
    CloseSharedHandle(mutex);
  }
  ::unlink(ObjectPath().c_str());
  ::close(holder);
  return 0;
}
