#include "RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include "Descriptor.h"
#include "HostErrors.h"
#include "Registry.h"
#include "RegistryText.h"

namespace tbm::registry {

namespace {

constexpr const char* kHeading =
    "Tabulon Mobile registry: this machine's keys and values.\n"
    "Saved whole at every change; comments are not kept.";

std::mutex handlerLock;
std::function<void(const std::string&)>& Handler() {
  static std::function<void(const std::string&)> handler = [](const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
  };
  return handler;
}

// The error of writing the file: running out of room, being refused, or
// anything else the host reports.
LONG WriteError(int error, const std::string& path) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ErrorFromErrno(error, path);
    default:
      return ERROR_WRITE_FAULT;
  }
}

}  // namespace

void ReportRegistryMessage(const std::string& message) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard guard(handlerLock);
    handler = Handler();
  }
  if (handler) handler(message);
}

RegistryFile::Identity RegistryFile::Identity::Of(const struct stat& info) {
  Identity identity;
  identity.exists = true;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = info.st_size;
  identity.modified = info.st_mtim;
  return identity;
}

bool RegistryFile::Identity::operator==(const Identity& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && modified.tv_sec == other.modified.tv_sec &&
         modified.tv_nsec == other.modified.tv_nsec;
}

std::shared_ptr<RegistryFile> RegistryFile::ForPath(const std::string& path) {
  // Kept for the life of the process, so the tree read is not lost between
  // calls on the predefined keys; a process uses few machines.
  static std::mutex lock;
  static auto* files = new std::map<std::string, std::shared_ptr<RegistryFile>>;
  std::lock_guard guard(lock);
  std::shared_ptr<RegistryFile>& file = (*files)[path];
  if (!file) file = std::make_shared<RegistryFile>(path);
  return file;
}

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {}

LONG RegistryFile::Read(const std::function<LONG(const Tree&)>& look) {
  LONG result;
  {
    std::lock_guard guard(lock_);
    result = RefreshLocked();
    if (result == ERROR_SUCCESS) result = look(tree_);
  }
  ReportPending();
  return result;
}

LONG RegistryFile::Change(const std::function<LONG(Tree&, bool& changed)>& change) {
  LONG result;
  {
    std::lock_guard guard(lock_);
    result = [&]() -> LONG {
      std::error_code error;
      std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
      if (error) return WriteError(error.value(), path_);
      const std::string lockPath = path_ + ".lock";
      const Descriptor fileLock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
      if (fileLock.get() < 0) return WriteError(errno, lockPath);
      int locked;
      do {
        locked = ::flock(fileLock.get(), LOCK_EX);
      } while (locked != 0 && errno == EINTR);
      if (locked != 0) return ERROR_WRITE_FAULT;

      if (const LONG read = RefreshLocked(); read != ERROR_SUCCESS) return read;
      bool changed = false;
      if (const LONG changing = change(tree_, changed); changing != ERROR_SUCCESS) {
        return changing;
      }
      if (!changed) return ERROR_SUCCESS;
      const LONG saved = SaveLocked();
      if (saved != ERROR_SUCCESS) loaded_ = false;  // the next call reads what is really saved
      return saved;
    }();  // the file lock goes here, after the new file is in place
  }
  ReportPending();
  return result;
}

LONG RegistryFile::RefreshLocked() {
  const Descriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      return errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_READ_FAULT;
    }
    if (!loaded_ || identity_.exists) {
      tree_ = Tree();
      identity_ = Identity();
      damaged_ = false;
      loaded_ = true;
    }
    return ERROR_SUCCESS;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return ERROR_READ_FAULT;
  if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
  const Identity identity = Identity::Of(info);
  if (loaded_ && identity == identity_) return ERROR_SUCCESS;

  // The descriptor stays on the version it opened even if a writer renames
  // a newer one into place meanwhile; that one is read on the next call.
  std::string bytes;
  const std::size_t wanted =
      std::min<std::size_t>(static_cast<std::size_t>(info.st_size), kMaxRegistryFileBytes + 1);
  bytes.resize(wanted);
  std::size_t got = 0;
  while (got < wanted) {
    const ssize_t result = ::read(file.get(), bytes.data() + got, wanted - got);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return ERROR_READ_FAULT;
    if (result == 0) break;
    got += static_cast<std::size_t>(result);
  }
  bytes.resize(got);

  std::vector<Problem> problems;
  tree_ = ParseRegistryText(bytes, problems);
  for (const Problem& problem : problems) {
    pendingMessages_.push_back(path_ + " line " + std::to_string(problem.line) + ": " +
                               problem.message);
  }
  damaged_ = !problems.empty();
  identity_ = identity;
  loaded_ = true;
  return ERROR_SUCCESS;
}

LONG RegistryFile::SaveLocked() {
  const std::string text = FormatRegistryText(tree_, kHeading);
  const std::string temporary = path_ + ".new";
  {
    Descriptor out(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (out.get() < 0) return WriteError(errno, temporary);
    int error = WriteAll(out.get(), text.data(), text.size());
    if (error == 0 && ::fsync(out.get()) != 0) error = errno;
    if (error == 0) error = out.Close();
    if (error != 0) {
      ::unlink(temporary.c_str());
      return WriteError(error, temporary);
    }
  }
  if (damaged_ && identity_.exists) {
    // The lines left out are still in the old file: keep it for a person.
    const std::string kept = path_ + ".damaged";
    ::unlink(kept.c_str());
    if (::link(path_.c_str(), kept.c_str()) == 0) {
      pendingMessages_.push_back(path_ +
                                 " had lines that could not be read; the file as it was "
                                 "is kept as " +
                                 kept);
    } else {
      pendingMessages_.push_back(path_ +
                                 " had lines that could not be read, and a copy of it "
                                 "could not be kept; those lines are lost");
    }
  }
  if (::rename(temporary.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return WriteError(error, path_);
  }
  // The folder's entry for the new file is made durable too.
  const Descriptor folder(::open(std::filesystem::path(path_).parent_path().c_str(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());

  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) {
    loaded_ = false;
    return ERROR_SUCCESS;
  }
  identity_ = Identity::Of(info);
  damaged_ = false;
  return ERROR_SUCCESS;
}

void RegistryFile::ReportPending() {
  std::vector<std::string> messages;
  {
    std::lock_guard guard(lock_);
    messages.swap(pendingMessages_);
  }
  for (const std::string& message : messages) ReportRegistryMessage(message);
}

}  // namespace tbm::registry

namespace tbm {

void SetRegistryMessageHandler(std::function<void(const std::string& message)> handler) {
  std::lock_guard guard(registry::handlerLock);
  registry::Handler() = std::move(handler);
}

}  // namespace tbm
