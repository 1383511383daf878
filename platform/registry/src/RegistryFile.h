// One machine's registry file as this process sees it: the tree read from
// it, read again whenever another process has saved a new version, and
// changes saved whole under the file lock.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KeyTree.h"
#include "WinTypes.h"

namespace tbm::registry {

class RegistryFile {
 public:
  // The process's one object for the registry file at path.
  static std::shared_ptr<RegistryFile> ForPath(const std::string& path);

  explicit RegistryFile(std::string path);
  RegistryFile(const RegistryFile&) = delete;
  RegistryFile& operator=(const RegistryFile&) = delete;

  // Runs look on the newest saved contents and returns its result, or the
  // error of reading the file (ERROR_ACCESS_DENIED, ERROR_READ_FAULT). A
  // missing file is an empty registry.
  LONG Read(const std::function<LONG(const Tree&)>& look);

  // Holding the file lock, runs change on the newest saved contents. When
  // change returns ERROR_SUCCESS having set changed, the tree is saved;
  // when saving fails, its error is returned and the change is dropped.
  // change must leave the tree alone when it returns an error.
  LONG Change(const std::function<LONG(Tree&, bool& changed)>& change);

 private:
  // What tells one saved version of the file from another.
  struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    static Identity Of(const struct stat& info);  // of an existing file
    bool operator==(const Identity& other) const;
  };

  // Reads the file again when its identity changed. Needs lock_.
  LONG RefreshLocked();
  // Writes tree_ as the new file. Needs lock_ and the file lock.
  LONG SaveLocked();
  // Hands the messages gathered under lock_ to the message handler.
  void ReportPending();

  const std::string path_;
  std::mutex lock_;
  Tree tree_;
  bool loaded_ = false;
  Identity identity_;
  bool damaged_ = false;  // the loaded version had lines that could not be read
  std::vector<std::string> pendingMessages_;
};

// Hands a sentence to the registry's message handler.
void ReportRegistryMessage(const std::string& message);

}  // namespace tbm::registry
