#include "ScannerInterface.h"

#include <dlfcn.h>

#include <string>

namespace tbm::scan {
namespace {

constexpr char kInterfaceFile[] = "ScnAPI32.so";

// The folder this library was loaded from, with a trailing '/'; empty when
// the loader cannot say.
std::string OwnFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

template <typename Proc>
bool Look(ScnProc (*byOrdinal)(DWORD), DWORD ordinal, Proc* proc) {
  *proc = reinterpret_cast<Proc>(byOrdinal(ordinal));
  return *proc != nullptr;
}

}  // namespace

Status ScannerInterface::Load() {
  if (module_ != nullptr) return Status();
  const std::string folder = OwnFolder();
  if (folder.empty()) return Status::Error("cannot tell which folder the scanner library is in");
  const std::string path = folder + kInterfaceFile;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    return Status(StatusCode::kNotFound, "the device's scanner interface " + path +
                                             " cannot be loaded: " + (why ? why : "unknown"));
  }
  auto byOrdinal = reinterpret_cast<ScnProc (*)(DWORD)>(dlsym(module, "ScnApiProcByOrdinal"));
  ScannerCalls calls;
  const bool complete = byOrdinal != nullptr && Look(byOrdinal, kScnOrdinalOpen, &calls.open) &&
                        Look(byOrdinal, kScnOrdinalClose, &calls.close) &&
                        Look(byOrdinal, kScnOrdinalEnable, &calls.enable) &&
                        Look(byOrdinal, kScnOrdinalDisable, &calls.disable) &&
                        Look(byOrdinal, kScnOrdinalGetScanParameters, &calls.getParameters) &&
                        Look(byOrdinal, kScnOrdinalSetScanParameters, &calls.setParameters) &&
                        Look(byOrdinal, kScnOrdinalAllocateBuffer, &calls.allocateBuffer) &&
                        Look(byOrdinal, kScnOrdinalFreeBuffer, &calls.freeBuffer) &&
                        Look(byOrdinal, kScnOrdinalReadLabelMessage, &calls.readLabelMessage) &&
                        Look(byOrdinal, kScnOrdinalCancelRead, &calls.cancelRead) &&
                        Look(byOrdinal, kScnOrdinalNoteReader, &calls.noteReader);
  if (!complete) {
    dlclose(module);
    return Status(StatusCode::kDamaged,
                  "the device's scanner interface " + path + " lacks operations it should have");
  }
  module_ = module;
  calls_ = calls;
  return Status();
}

void ScannerInterface::Unload() {
  if (module_ == nullptr) return;
  dlclose(module_);
  module_ = nullptr;
  calls_ = ScannerCalls();
}

}  // namespace tbm::scan
