#include "ResourceLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ResourceText.h"
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

namespace {

const char* KindName(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::kString:
      return "string";
    case ResourceKind::kMenu:
      return "menu";
    case ResourceKind::kToolBar:
      return "tool bar";
    case ResourceKind::kDialog:
      return "dialog";
    case ResourceKind::kPicture:
      return "picture";
  }
  return "resource";
}

}  // namespace

// Finds the resource and hands its bytes to parse; every failure names the
// library and the resource.
template <typename Parse>
Status ResourceLibrary::Read(ResourceKind kind, std::uint32_t number, Parse parse) const {
  const std::string what = std::string(KindName(kind)) + " " + std::to_string(number);
  std::string_view bytes;
  if (!Find(kind, number, &bytes))
    return Status(StatusCode::kNotFound, "the language library " + path_ + " has no " + what);
  Status status = parse(bytes);
  if (!status.ok() && status.code() != StatusCode::kNotFound)
    return Status(StatusCode::kDamaged, "the language library " + path_ + " is damaged: " + what +
                                            ", " + status.message() +
                                            "; install Tabulon Mobile again");
  return status;
}

Status ResourceLibrary::LoadMenu(std::uint32_t number, Menu* menu) const {
  return Read(ResourceKind::kMenu, number,
              [&](std::string_view bytes) { return ParseMenuText(bytes, menu); });
}

Status ResourceLibrary::LoadToolBar(std::uint32_t number, ToolBar* toolBar) const {
  return Read(ResourceKind::kToolBar, number, [&](std::string_view bytes) {
    ToolBar read;
    Status status = ParseToolBarText(bytes, &read);
    if (!status.ok()) return status;
    for (std::size_t i = 0; i < read.buttons.size(); ++i) {
      const ToolBarButton& button = read.buttons[i];
      std::string_view picture;
      if (!button.separator && !Find(ResourceKind::kPicture, button.picture, &picture))
        return Status(StatusCode::kDamaged, "button " + std::to_string(i + 1) + " shows picture " +
                                                std::to_string(button.picture) +
                                                ", which the library lacks");
    }
    *toolBar = std::move(read);
    return Status();
  });
}

Status ResourceLibrary::LoadPicture(std::uint32_t number, Picture* picture) const {
  return Read(ResourceKind::kPicture, number,
              [&](std::string_view bytes) { return ParsePictureText(bytes, picture); });
}

Status ResourceLibrary::LoadDialogText(std::uint32_t number, std::string* text) const {
  return Read(ResourceKind::kDialog, number, [&](std::string_view bytes) {
    if (bytes.size() > kMaxResourceBytes)
      return Status(StatusCode::kDamaged, "the text is larger than a resource may be");
    if (bytes.find('\0') != std::string_view::npos || !IsWellFormedUtf8(bytes))
      return Status(StatusCode::kDamaged, "the text is not well-formed UTF-8");
    text->assign(bytes);
    return Status();
  });
}

Status ResourceLibrary::LoadDialog(std::uint32_t number, DialogLayout* layout) const {
  return Read(ResourceKind::kDialog, number,
              [&](std::string_view bytes) { return ParseDialogText(bytes, layout); });
}

}  // namespace tbm::res
