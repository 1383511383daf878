#include "StartUp.h"

#include <algorithm>
#include <vector>

#include "DeviceLanguage.h"
#include "SystemInfo.h"
#include "SystemPaths.h"
#include "TBMApp.h"
#include "Utf16.h"

namespace tbm::app {

namespace {

constexpr std::uint16_t kUsEnglish = 1033;
constexpr std::uint16_t kSubLanguageShift = 10;
constexpr std::uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr std::uint16_t kDefaultSubLanguage = 0x400;

}  // namespace

int DeviceKind() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_CE ||
      version.dwMajorVersion < 3) {
    return kDeviceCheckFailed;
  }
  WCHAR type[260] = {};
  if (!SystemParametersInfoW(SPI_GETPLATFORMTYPE, 260, type, 0)) return kDeviceCheckFailed;
  const std::u16string_view platform(type);
  if (platform == u"PocketPC") return kDevicePocketPc;
  if (platform == u"Palm PC2") return kDevicePalmSize;
  return kDeviceOther;
}

std::string ProgramFolder() {
  // The program's path may be longer than any fixed buffer: grow until it
  // fits, since a cut path would name another folder.
  std::vector<WCHAR> buffer(260);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return std::string();
    if (length < size) {
      const std::string path = Utf16ToUtf8(std::u16string_view(buffer.data(), length));
      const std::size_t slash = path.find_last_of('/');
      return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    if (buffer.size() >= 65536) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string LanguageLibraryPath(const std::string& programFolder, const std::string& suffix) {
  std::string folder = programFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "tbmres/tbmres" + suffix + ".so";
}

Status FindLanguageLibrary(const std::string& programFolder, std::uint16_t languageId,
                           std::unique_ptr<res::ResourceLibrary>* library) {
  library->reset();
  using res::LanguageSuffix;
  std::vector<std::string> suffixes = {"", LanguageSuffix(languageId)};
  if ((languageId >> kSubLanguageShift) != 1) {
    suffixes.push_back(LanguageSuffix(
        static_cast<std::uint16_t>((languageId & kPrimaryLanguageMask) | kDefaultSubLanguage)));
  }
  if (languageId != kUsEnglish) suffixes.push_back(LanguageSuffix(kUsEnglish));

  std::string tried;
  std::vector<std::string> seen;
  for (const std::string& suffix : suffixes) {
    if (std::find(seen.begin(), seen.end(), suffix) != seen.end()) continue;
    seen.push_back(suffix);
    const std::string path = LanguageLibraryPath(programFolder, suffix);
    std::unique_ptr<res::ResourceLibrary> candidate;
    const Status loaded = res::ResourceLibrary::Load(path, &candidate);
    if (!loaded.ok()) {
      tried += (tried.empty() ? "" : "; ") + loaded.message();
      continue;
    }
    if (const std::optional<res::LibraryVersion> version = candidate->Version();
        version && version->major != kVersionMajor && version->minor != kVersionMinor) {
      return Status(StatusCode::kInvalidArgument,
                    "the language library " + path + " is version " +
                        std::to_string(version->major) + "." + std::to_string(version->minor) +
                        ", which this program (version " + std::to_string(kVersionMajor) + "." +
                        std::to_string(kVersionMinor) + ") cannot use");
    }
    *library = std::move(candidate);
    return Status();
  }
  return Status(StatusCode::kNotFound, "no language library could be loaded: " + tried);
}

std::u16string LanguageModuleMissingText(std::uint16_t languageId) {
  switch (languageId & kPrimaryLanguageMask) {
    case 0x07:  // German
      return u"Tabulon Mobile-Sprachmodul nicht gefunden.";
    case 0x0A:  // Spanish
      return u"No se ha encontrado módulo de idioma de Tabulon Mobile.";
    case 0x0C:  // French
      return u"Module de langue Tabulon Mobile introuvable.";
    case 0x10:  // Italian
      return u"Impossibile trovare il modulo lingua per Tabulon Mobile.";
    case 0x11:  // Japanese
      return u"Tabulon Mobile 言語モジュールが見つかりません。";
    default:
      return u"Tabulon Mobile Language Module not found.";
  }
}

}  // namespace tbm::app
