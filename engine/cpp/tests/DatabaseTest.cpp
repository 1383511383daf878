// The owner of an opened database on real files: a database opening fails
// at each of its steps, and what it had started is released every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "Database.h"
#include "EngineEnvironment.h"
#include "TestSupport.h"

namespace tbm::engine {
namespace {

using tbm::testing::ReadWholeFile;
using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;
using tbm::testing::WriteWholeFile;
namespace stdfs = std::filesystem;

DatabasePath HostPath(const std::string& host) {
  DatabasePath path;
  EXPECT_TRUE(ResolveDatabasePath(host, &path).ok());
  return path;
}

// Writes a contact database of two text fields and two records, marked
// consistent, as synchronisation leaves one on the handheld.
void MakeContacts(const std::string& path) {
  EngineEnvironment engine;
  ASSERT_EQ(engine.Start(/*wordBreak=*/false), MDbErrNone);
  ASSERT_EQ(engine.CreateVolume(HostPath(path).engine.c_str()), MDbErrNone);
  MDbEnv* env = engine.env();
  std::uint8_t infos[2 * MDbFieldInfoBytes] = {};
  infos[0] = MDbFieldText;
  infos[MDbFieldInfoBytes] = MDbFieldText;
  const char16_t* names[] = {u"Name", u"City"};
  ASSERT_EQ(MDbSchemaTblCreateEx(env, &env->ref, infos, names, 2), MDbErrNone);
  const std::uint8_t attributes[MDbAttrBytes] = {};
  ASSERT_EQ(MDbAttrTblCreateEx(env, &env->ref, attributes, u"Contacts"), MDbErrNone);
  ASSERT_EQ(MDbDataTblCreate(env, &env->ref, nullptr), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(env, &env->ref, &env->data, nullptr), MDbErrNone);
  const std::uint8_t identity[MDbIdentityBytes] = {};
  const char16_t* ada[] = {u"Ada Okafor", u"London"};
  const char16_t* jose[] = {u"Jos\u00E9 Garc\u00EDa", u"Sevilla"};
  for (const char16_t** values : {ada, jose}) {
    ASSERT_EQ(
        MDbDataTblAddRec(env, &env->ref, &env->data, identity, values, 2, 1, nullptr, nullptr),
        MDbErrNone);
  }
  ASSERT_EQ(MDbWriteChecksome(env, &env->ref, 1), MDbErrNone);
  ASSERT_EQ(engine.Close(), MDbErrNone);
}

// Whether the lock every process keeps on a volume it has mounted is free:
// nobody, this process included, holds the file open as a database.
bool NobodyHolds(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

// While it lives, this process reads as another user than the one who
// owns the files: the superuser, who may write anything, acts as nobody
// (keeping the right to come back); anyone else is kept out by the files'
// modes alone.
class AsReader {
 public:
  AsReader() {
    if (root_) {
      EXPECT_EQ(::setresgid(65534, 65534, 0), 0);
      EXPECT_EQ(::setresuid(65534, 65534, 0), 0);
    }
  }
  ~AsReader() {
    if (root_) {
      EXPECT_EQ(::setresuid(0, 0, 0), 0);
      EXPECT_EQ(::setresgid(0, 0, 0), 0);
    }
  }
  AsReader(const AsReader&) = delete;
  AsReader& operator=(const AsReader&) = delete;

 private:
  const bool root_ = ::geteuid() == 0;
};

// Each way an open can fail, from the missing file to a find on a field the
// database does not have, ends with nothing of the open left: no owner, no
// private copy in the temporary folder, no journal beside the file, no
// process holding the file, not a byte of it changed; and the next open of
// a good database in this process starts the engine, finds and changes as
// if nothing had happened.
TEST(DatabaseTest, AFailedOpenLeavesNothingStartedHeldOrCopied) {
  ScratchFolder folder("engine-cpp");
  ScratchFolder temporary("engine-cpp-tmp");
  ASSERT_TRUE(folder.ok() && temporary.ok());
  ScopedEnvironment tmpdir("TMPDIR", temporary.path().c_str());
  // The reader reaches the files, may not write beside the read-only ones,
  // and may make its private copies.
  ::chmod(folder.path().c_str(), 0755);
  ::chmod(temporary.path().c_str(), 0777);
  const stdfs::path shared = folder.path() / "shared";
  stdfs::create_directory(shared);
  const std::string good = (folder.path() / "good.tbm").string();
  const std::string readOnly = (shared / "read-only.tbm").string();
  const std::string notes = (shared / "notes.tbm").string();
  const std::string text = (folder.path() / "text.tbm").string();
  MakeContacts(good);
  MakeContacts(readOnly);
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  WriteWholeFile(notes, "Name,City\nAda Okafor,London\n");
  WriteWholeFile(text, "Name,City\nAda Okafor,London\n");
  for (const std::string& file : {readOnly, notes}) ::chmod(file.c_str(), 0444);
  ::chmod(shared.c_str(), 0555);
  struct Writable {
    ~Writable() { ::chmod(folder.c_str(), 0755); }
    std::string folder;
  } writableAtTheEnd{shared.string()};

  auto expectNothingLeft = [&](const std::string& step, const std::string& file,
                               const std::string& bytesBefore) {
    SCOPED_TRACE(step);
    EXPECT_TRUE(stdfs::is_empty(temporary.path())) << "a private copy is left";
    EXPECT_FALSE(stdfs::exists(file + "-wal"));
    EXPECT_FALSE(stdfs::exists(file + "-shm"));
    if (stdfs::exists(file)) {
      EXPECT_TRUE(NobodyHolds(file));
      EXPECT_EQ(ReadWholeFile(file), bytesBefore);
    }
    Selection london;
    london.findField = "City";
    london.findText = "lond";
    std::unique_ptr<Database> next;
    const Status opened = OpenDatabase(good, london, Access::kChange, &next);
    ASSERT_TRUE(opened.ok()) << opened.message();
    EXPECT_EQ(next->count(), 1u);
    EXPECT_TRUE(next->Commit().ok());
    next.reset();
    EXPECT_TRUE(NobodyHolds(good));
  };
  const std::string readOnlyBytes = ReadWholeFile(readOnly);
  const std::string textBytes = ReadWholeFile(text);
  std::unique_ptr<Database> db;

  // Before anything is started: the file is not there.
  const std::string missing = (folder.path() / "missing.tbm").string();
  Status status = Database::Open(HostPath(missing), Access::kRead, &db);
  EXPECT_EQ(status.code(), StatusCode::kNotFound);
  EXPECT_NE(status.message().find("no such database file"), std::string::npos);
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a missing file", missing, "");

  // The engine started, then the agent layer refuses the file.
  status = Database::Open(HostPath(text), Access::kChange, &db);
  EXPECT_EQ(status.code(), StatusCode::kDamaged) << status.message();
  EXPECT_NE(status.message().find("not a Tabulon Mobile database"), std::string::npos);
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a text file", text, textBytes);

  // Before anything is started: a change to a file the user may only read.
  {
    AsReader reader;
    status = Database::Open(HostPath(readOnly), Access::kChange, &db);
  }
  EXPECT_EQ(status.code(), StatusCode::kNoPermission) << status.message();
  EXPECT_NE(status.message().find("you may not change the database"), std::string::npos);
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a change to a file the user may only read", readOnly, readOnlyBytes);

  // A private copy made and opened, then the engine refuses it.
  {
    AsReader reader;
    status = Database::Open(HostPath(notes), Access::kRead, &db);
  }
  EXPECT_EQ(status.code(), StatusCode::kDamaged) << status.message();
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a private copy of a text file", notes, "Name,City\nAda Okafor,London\n");

  // Everything opened and the change begun on the file itself, then the
  // sort names no field.
  Selection byAge;
  byAge.sortField = "Age";
  const std::string goodBytes = ReadWholeFile(good);
  status = OpenDatabase(good, byAge, Access::kChange, &db);
  EXPECT_EQ(status.code(), StatusCode::kNotFound) << status.message();
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a sort on an unknown field", good, goodBytes);

  // Everything opened on a private copy, then the find names no field.
  {
    AsReader reader;
    Selection shoeSize;
    shoeSize.findField = "Shoe size";
    shoeSize.findText = "42";
    status = OpenDatabase(readOnly, shoeSize, Access::kRead, &db);
  }
  EXPECT_EQ(status.code(), StatusCode::kNotFound) << status.message();
  EXPECT_EQ(status.message(),
            readOnly + ": there is no field 'Shoe size'; the fields are Name, City");
  EXPECT_EQ(db, nullptr);
  expectNothingLeft("a find on an unknown field", readOnly, readOnlyBytes);
}

}  // namespace
}  // namespace tbm::engine
