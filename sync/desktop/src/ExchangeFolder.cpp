#include "ExchangeFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "HostErrors.h"
#include "Machine.h"

namespace tbm::desksync {
namespace {

constexpr char kApplicationData[] = "Application Data";
constexpr std::size_t kMaxFolderNameBytes = 255;

// Makes folder when it is missing; a level that is there but no folder is
// damaged.
Status MakeLevel(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0755) == 0) return Status();
  const int error = errno;
  struct stat info {};
  if (error == EEXIST && ::stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return Status();
    return Status(StatusCode::kDamaged,
                  "cannot make the folder " + folder + ": a file of that name is in its place");
  }
  const DWORD platformError = ErrorFromErrno(error, folder);
  return PlatformFailure(platformError,
                         "cannot make the folder " + folder + ": " + DescribeError(platformError));
}

// The names of the levels below the application-data folder.
std::vector<std::string> Levels(const ProviderTexts& texts, std::string_view deviceName) {
  std::vector<std::string> levels;
  for (const std::uint32_t number : {kTextFolderCompany, kTextFolderProduct, kTextFolderMobile,
                                     kTextFolderSynchronisation, kTextFolderHandhelds}) {
    levels.push_back(SafeFolderName(texts.Utf8(number)));
  }
  levels.push_back(SafeFolderName(deviceName));
  return levels;
}

}  // namespace

Status ApplicationDataFolder(std::string* folder) {
  const std::string root = MachineRoot(Machine::Desktop);
  if (Status s = MakeLevel(root); !s.ok()) return s;
  *folder = root + "/" + kApplicationData;
  return MakeLevel(*folder);
}

std::string SafeFolderName(std::string_view name) {
  std::string safe;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    safe += (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) ? '_' : c;
  }
  if (safe.find_first_not_of('.') == std::string::npos) safe.insert(safe.begin(), '_');
  if (safe.size() > kMaxFolderNameBytes) {
    std::size_t cut = kMaxFolderNameBytes;
    // Back to the first byte of a UTF-8 character.
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
    safe.resize(cut);
  }
  return safe;
}

std::string LogFileIn(const ProviderTexts& texts, const std::string& folder) {
  return folder + "/" + SafeFolderName(texts.Utf8(kTextLogFileName));
}

std::string DeviceFolderPath(const ProviderTexts& texts, std::string_view deviceName) {
  std::string path = MachineRoot(Machine::Desktop) + "/" + kApplicationData;
  for (const std::string& level : Levels(texts, deviceName)) path += "/" + level;
  return path;
}

Status MakeDeviceFolder(const ProviderTexts& texts, std::string_view deviceName,
                        std::string* folder) {
  std::string path;
  if (Status s = ApplicationDataFolder(&path); !s.ok()) return s;
  for (const std::string& level : Levels(texts, deviceName)) {
    path += "/" + level;
    if (Status s = MakeLevel(path); !s.ok()) return s;
  }
  *folder = path;
  return Status();
}

}  // namespace tbm::desksync
