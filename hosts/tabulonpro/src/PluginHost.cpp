#include "PluginHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ProgramLog.h"

namespace tbm::tabulonpro {

namespace {
namespace stdfs = std::filesystem;
}  // namespace

PluginHost::~PluginHost() { Stop(); }

std::string PluginHost::PathBesideProgram() {
  std::error_code error;
  const stdfs::path program = stdfs::read_symlink("/proc/self/exe", error);
  return (error ? stdfs::path(kPluginFileName) : program.parent_path() / kPluginFileName).string();
}

Status PluginHost::Load(const std::string& path) {
  name_ = stdfs::path(path).stem().string();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
      return Status(StatusCode::kNotFound, "the plug-in " + name_ + " is not there (" + path +
                                               "); synchronisation with the handheld is not "
                                               "available");
    }
    return Status(e == EACCES ? StatusCode::kNoPermission : StatusCode::kIoFailed,
                  "the plug-in " + path + " cannot be reached (" + std::strerror(e) + ")");
  }
  if (!S_ISREG(info.st_mode)) {
    return Status(StatusCode::kInvalidArgument, "the plug-in " + path + " is not a file");
  }
  // A name without a folder would be looked for in the library path.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    return Status(StatusCode::kInvalidArgument,
                  "the plug-in " + path +
                      " cannot be loaded: it is damaged, made for another "
                      "system or missing a library it needs (" +
                      (why ? why : "no reason given") + ")");
  }
  void* entry = ::dlsym(library, TB_EXTERN_CALL_PROC_NAME);
  if (entry == nullptr) {
    ::dlclose(library);
    return Status(
        StatusCode::kInvalidArgument,
        path + " is not a Tabulon Pro plug-in: it has no entry point " + TB_EXTERN_CALL_PROC_NAME);
  }
  entry_ = reinterpret_cast<TBExternCallProcFn>(entry);
  return {};
}

std::int32_t PluginHost::Start(const TBHostServices* services) {
  if (entry_ == nullptr || started_) return -1;
  block_ = TBParamBlock{};
  block_.interfaceVersion = TB_INTERFACE_VERSION;
  block_.services = services;
  block_.callCode = TB_CALL_START;
  block_.result = 0;
  inCall_ = true;
  entry_(&block_);
  inCall_ = false;
  started_ = block_.result == kPluginStarted;
  WriteLog("TabulonPro", started_ ? LogLevel::kInfo : LogLevel::kError,
           StartResultInWords(block_.result));
  return block_.result;
}

std::string PluginHost::StartResultInWords(std::int32_t result) const {
  switch (result) {
    case kPluginStarted:
      return "the plug-in " + name_ + " started";
    case -1:
      return "the plug-in " + name_ + " does not work with this Tabulon Pro (interface version " +
             std::to_string(TB_INTERFACE_VERSION) +
             ", advanced edition): synchronisation is not available";
    case -2:
      return "the plug-in " + name_ +
             " could not load its resource library (its texts and dialogs); reinstall it";
    default:
      return "the plug-in " + name_ + " did not start (it answered " + std::to_string(result) + ")";
  }
}

bool PluginHost::Call(std::uint8_t code) {
  // A dialog runs an event loop of its own, from which a menu could ask
  // for another dialog: the plug-in is never entered twice.
  if (!started_ || inCall_) return false;
  block_.callCode = code;
  inCall_ = true;
  entry_(&block_);
  inCall_ = false;
  return true;
}

void PluginHost::Stop() {
  if (!started_ || inCall_) return;
  block_.callCode = TB_CALL_STOP;
  inCall_ = true;
  entry_(&block_);
  inCall_ = false;
  started_ = false;
  WriteLog("TabulonPro", LogLevel::kInfo, "the plug-in " + name_ + " stopped");
}

}  // namespace tbm::tabulonpro
