#include "HandheldLibrary.h"

#include "Utf16.h"

namespace tbm {
namespace {

// name without a final ".dll" in any case.
std::u16string_view WithoutDllSuffix(std::u16string_view name) {
  constexpr std::u16string_view kHandheldSuffix = u".dll";
  if (name.size() > kHandheldSuffix.size() &&
      EqualsIgnoreCase(name.substr(name.size() - kHandheldSuffix.size()), kHandheldSuffix)) {
    name.remove_suffix(kHandheldSuffix.size());
  }
  return name;
}

}  // namespace

std::string LoadedLibraryFile(std::u16string_view handheldName) {
  return Utf16ToUtf8(WithoutDllSuffix(handheldName)) + ".so";
}

std::string LinkedLibraryFile(std::u16string_view handheldName) {
  return "lib" + Utf16ToUtf8(WithoutDllSuffix(handheldName)) + ".so";
}

MappedPath HostPathOfHandheldLibrary(std::u16string_view devicePath) {
  if (devicePath.find(u'/') != std::u16string_view::npos) return {{}, ERROR_ACCESS_DENIED};
  const std::size_t cut = devicePath.find_last_of(u'\\');
  const std::u16string_view folder =
      cut == std::u16string_view::npos ? u"\\Windows" : devicePath.substr(0, cut + 1);
  const std::u16string_view name =
      cut == std::u16string_view::npos ? devicePath : devicePath.substr(cut + 1);
  if (name.empty() || name == u"." || name == u"..") return {{}, ERROR_INVALID_NAME};
  // The name is checked as a handheld path component would be.
  const MappedPath whole =
      HostPathFromDevicePath(std::u16string(folder) + u"\\" + std::u16string(name));
  if (!whole) return whole;
  MappedPath mapped = HostPathFromDevicePath(folder);
  if (!mapped) return mapped;
  mapped.hostPath += "/" + LoadedLibraryFile(name);
  return mapped;
}

}  // namespace tbm
