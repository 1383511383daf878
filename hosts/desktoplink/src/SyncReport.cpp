// The report of one requested synchronisation, passed from the service to
// the "sync" that asked for it through a file of the desktop's log folder.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "DesktopLink.h"
#include "Machine.h"

namespace tbm::desktoplink {

namespace stdfs = std::filesystem;

std::string SyncReportPath(long processId) {
  return MachineRoot(Machine::Desktop) + "/log/tbm-desktoplink-sync-" + std::to_string(processId) +
         ".txt";
}

Status WriteSyncReport(long processId, const std::vector<std::string>& lines) {
  const std::string path = SyncReportPath(processId);
  std::error_code error;
  stdfs::create_directories(stdfs::path(path).parent_path(), error);
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    out.flush();
    if (!out) {
      const int e = errno;
      stdfs::remove(partial, error);
      return Status(e == ENOSPC   ? StatusCode::kNoSpace
                    : e == EACCES ? StatusCode::kNoPermission
                                  : StatusCode::kIoFailed,
                    "the report of the synchronisation cannot be written to " + partial + " (" +
                        std::strerror(e) + ")");
    }
  }
  stdfs::rename(partial, path, error);
  if (error) {
    stdfs::remove(partial, error);
    return Status(StatusCode::kIoFailed,
                  "the report of the synchronisation cannot be put in place as " + path);
  }
  return Status();
}

Status TakeSyncReport(long processId, std::vector<std::string>* lines) {
  lines->clear();
  const std::string path = SyncReportPath(processId);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return Status(StatusCode::kNotFound, "the service left no report of the synchronisation (" +
                                             path + "); its log says what happened");
  }
  for (std::string line; std::getline(in, line);) lines->push_back(line);
  in.close();
  std::error_code error;
  stdfs::remove(path, error);
  return Status();
}

}  // namespace tbm::desktoplink
