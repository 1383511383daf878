#include "ResourceLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Utf16.h"

namespace tbm::res {

ResourceLibrary::~ResourceLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

Status ResourceLibrary::Load(const std::string& path, std::unique_ptr<ResourceLibrary>* library) {
  library->reset();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == EACCES)
      return Status(StatusCode::kNoPermission,
                    "cannot read the language library " + path + ": permission denied");
    return Status(StatusCode::kNotFound, "there is no language library " + path);
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    if (access(path.c_str(), R_OK) != 0)
      return Status(StatusCode::kNoPermission,
                    "cannot read the language library " + path + ": permission denied");
    return Status(StatusCode::kDamaged, "the language library " + path +
                                            " is not a library this program can load (" +
                                            (why != nullptr ? why : "unknown reason") + ")");
  }
  auto find = reinterpret_cast<FindFunction>(dlsym(handle, "TBMResFind"));
  if (find == nullptr) {
    dlclose(handle);
    return Status(StatusCode::kDamaged,
                  "the library " + path + " holds no resources (it lacks TBMResFind)");
  }
  std::unique_ptr<ResourceLibrary> loaded(new ResourceLibrary());
  loaded->path_ = path;
  loaded->handle_ = handle;
  loaded->find_ = find;
  loaded->version_ = reinterpret_cast<VersionFunction>(dlsym(handle, "TBMGetDllVersion"));
  *library = std::move(loaded);
  return Status();
}

std::optional<LibraryVersion> ResourceLibrary::Version() const {
  if (version_ == nullptr) return std::nullopt;
  LibraryVersion version;
  std::uint32_t flags = 0;
  version_(&version.major, &version.minor, &version.build, &version.revision, &flags);
  return version;
}

bool ResourceLibrary::Find(ResourceKind kind, std::uint32_t number, std::string_view* bytes) const {
  const char* data = nullptr;
  std::uint32_t size = 0;
  if (find_(static_cast<std::uint32_t>(kind), number, &data, &size) != 1 || data == nullptr)
    return false;
  *bytes = std::string_view(data, size);
  return true;
}

std::optional<std::u16string> ResourceLibrary::String(std::uint32_t number) const {
  std::string_view bytes;
  if (!Find(ResourceKind::kString, number, &bytes)) return std::nullopt;
  return Utf8ToUtf16(bytes);
}

std::u16string ResourceLibrary::StringOrEmpty(std::uint32_t number) const {
  return String(number).value_or(std::u16string());
}

}  // namespace tbm::res
