#include "DatabaseFolder.h"

#include <algorithm>
#include <filesystem>

#include "Machine.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {
namespace stdfs = std::filesystem;
}  // namespace

std::string DatabaseFolder() { return MachineRoot(Machine::Desktop) + "/Databases"; }

Status CheckDatabaseName(const std::string& name) {
  if (!name.empty() && name[0] == '.') {
    return Status(StatusCode::kInvalidArgument,
                  "the database name '" + name + "' starts with '.'; a name starts otherwise");
  }
  return CheckName("the database name", name);
}

Status DatabasePath(const std::string& given, std::string* path) {
  if (given.find('/') != std::string::npos) {
    *path = given;
    return {};
  }
  if (Status s = CheckDatabaseName(given); !s.ok()) return s;
  *path = DatabaseFolder() + "/" + given + kDatabaseExtension;
  return {};
}

std::vector<std::string> DatabaseFiles() {
  std::vector<std::string> files;
  std::error_code error;
  for (stdfs::directory_iterator it(DatabaseFolder(), error), end; !error && it != end;
       it.increment(error)) {
    const stdfs::path& file = it->path();
    if (file.extension() == kDatabaseExtension && file.filename().string()[0] != '.') {
      files.push_back(file.string());
    }
  }
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return CompareIgnoreCase(Utf8ToUtf16(a), Utf8ToUtf16(b)) < 0;
  });
  return files;
}

Status OpenDatabase(const std::string& given, std::unique_ptr<DesktopDatabase>* database) {
  std::string path;
  if (Status s = DatabasePath(given, &path); !s.ok()) return s;
  return DesktopDatabase::Open(path, database);
}

}  // namespace tbm::tabulonpro
