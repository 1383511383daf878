#include "BridgeTexts.h"

#include <dlfcn.h>

#include <filesystem>

#include "DeviceLanguage.h"

namespace tbm::bridge {

std::string PluginFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&PluginFolder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return ".";
  }
  std::error_code error;
  const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, error);
  return (error ? std::filesystem::path(info.dli_fname) : file).parent_path().string();
}

Status LoadBridgeTexts(const std::string& folder, std::unique_ptr<res::ResourceLibrary>* texts) {
  Status last(StatusCode::kNotFound,
              "the plug-in's language library qzres is not in " + folder + "/qzres");
  for (const LANGID language : res::LanguageFallbacks(GetUserDefaultLangID())) {
    const std::string path = folder + "/qzres/qzres" + res::LanguageSuffix(language) + ".so";
    std::unique_ptr<res::ResourceLibrary> library;
    Status status = res::ResourceLibrary::Load(path, &library);
    if (status.ok()) {
      *texts = std::move(library);
      return Status();
    }
    if (status.code() != StatusCode::kNotFound) last = status;
  }
  return last;
}

}  // namespace tbm::bridge
