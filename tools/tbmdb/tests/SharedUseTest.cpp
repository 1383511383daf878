// tbmdb beside other programs: several processes on one database, processes
// killed in the middle of a change, files the user may only read, damaged
// files. Each test runs the real program on real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "RunProgram.h"
#include "TestSupport.h"

namespace tbm::tbmdb {
namespace {

using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::ScratchFolder;
using tbm::testing::WriteWholeFile;
namespace stdfs = std::filesystem;

constexpr int kKilled = -9;
constexpr int kProgramNotStartedByShell = 127;

class SharedUseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }

  ProgramResult Run(const std::vector<std::string>& args,
                    std::vector<std::pair<std::string, std::string>> env = {}) {
    env.emplace_back("TBM_DEVICE_ROOT", (folder_.path() / "device").string());
    return tbm::testing::RunProgram(Tbmdb(), args, {}, env);
  }

  static std::string Tbmdb() { return (tbm::testing::ProgramFolder() / "tbmdb").string(); }

  std::string Path(const std::string& name) const { return (folder_.path() / name).string(); }

  // A CSV file of n contacts with three text fields and a number.
  std::string Contacts(const std::string& name, int n) {
    std::string csv = "Name:text,City:text,Note:text,Orders:number\n";
    for (int i = 0; i < n; ++i) {
      csv += "Person " + std::to_string(i) + ",City " + std::to_string(i % 7) + ",note " +
             std::to_string(i) + "," + std::to_string(i * 3) + "\n";
    }
    WriteWholeFile(Path(name), csv);
    return Path(name);
  }

  void Create(const std::string& db, int n) {
    const ProgramResult r = Run({"create", Contacts(db + ".csv", n), Path(db)});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The records as CSV rows without the header.
  std::vector<std::string> Rows(const std::string& db) {
    const ProgramResult r = Run({"list", Path(db), "--csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> rows;
    std::size_t at = r.out.find('\n');
    while (at != std::string::npos && at + 1 < r.out.size()) {
      const std::size_t end = r.out.find('\n', at + 1);
      rows.push_back(r.out.substr(at + 1, end - at - 1));
      at = end;
    }
    return rows;
  }

  void ExpectChecksOut(const std::string& db) {
    const ProgramResult check = Run({"check", Path(db)});
    EXPECT_EQ(check.status, 0) << check.err;
    const ProgramResult states = Run({"records", Path(db), "--csv"});
    EXPECT_EQ(states.status, 0) << states.err;
  }

  ScratchFolder folder_{"tbmdb-shared"};
};

// One process adds records while another replaces the database again and
// again. Every replace either happens whole or is refused as "in use"; the
// database is never damaged, and every add that reported success landed in
// the database that was in place when it finished.
TEST_F(SharedUseTest, ReplacingWhileAnotherProgramWritesNeverDamagesTheDatabase) {
  Create("shop.tbm", 300);
  const std::string csv = Contacts("again.csv", 300);
  std::atomic<bool> done{false};
  std::atomic<int> adds{0};
  // Two writers, so that one still holds the database while another opens
  // it: a file swapped under them would meet the other's journal.
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 300 && !done; ++i) {
        const ProgramResult r = Run(
            {"add", Path("shop.tbm"), "Name=added " + std::to_string(w) + "/" + std::to_string(i)});
        if (r.status == 0) ++adds;
        EXPECT_TRUE(r.status == 0 || r.err.find("busy") != std::string::npos) << r.err;
      }
    });
  }
  int replaced = 0;
  for (int i = 0; i < 40; ++i) {
    const ProgramResult r = Run({"create", csv, Path("shop.tbm"), "--replace"});
    if (r.status == 0) ++replaced;
    EXPECT_TRUE(r.status == 0 || r.err.find("in use") != std::string::npos) << r.err;
  }
  done = true;
  for (auto& t : writers) t.join();
  EXPECT_GT(replaced, 0);
  EXPECT_GT(adds.load(), 0);
  ExpectChecksOut("shop.tbm");
  EXPECT_GE(Rows("shop.tbm").size(), 300u);
  EXPECT_FALSE(stdfs::exists(Path("shop.tbm-wal")));
}

// A change is one flush: an add or a multi-field set killed at any write or
// flush leaves the database as it was or the change whole, never a record
// with some of its values.
TEST_F(SharedUseTest, AChangeKilledAnywhereIsWholeOrAbsent) {
  Create("people.tbm", 20);
  for (const char* point : {"kill-after-write:", "kill-after-flush:"}) {
    for (int n = 1; n <= 8; ++n) {
      const std::vector<std::string> before = Rows("people.tbm");
      const std::string tag = std::string(point) + std::to_string(n);
      const ProgramResult add =
          Run({"add", Path("people.tbm"), "Name=N " + tag, "City=C " + tag, "Note=T " + tag},
              {{"TBM_STORE_FAULT", tag}});
      ASSERT_TRUE(add.status == 0 || add.status == kKilled) << tag << ": " << add.err;
      std::vector<std::string> after = Rows("people.tbm");
      if (after.size() == before.size()) {
        EXPECT_EQ(after, before) << tag;
      } else {
        ASSERT_EQ(after.size(), before.size() + 1) << tag;
        EXPECT_EQ(after.back(), "N " + tag + ",C " + tag + ",T " + tag + ",") << tag;
      }

      const ProgramResult set = Run({"set", Path("people.tbm"), "3", "Name=S " + tag,
                                     "City=S " + tag, "Orders=" + std::to_string(n)},
                                    {{"TBM_STORE_FAULT", tag}});
      ASSERT_TRUE(set.status == 0 || set.status == kKilled) << tag << ": " << set.err;
      const std::string third = Rows("people.tbm")[2];
      EXPECT_TRUE(third == after[2] ||
                  third == "S " + tag + ",S " + tag + ",note 2," + std::to_string(n))
          << tag << ": " << third;
    }
  }
  ExpectChecksOut("people.tbm");
}

// Processes adding at once each report the position their own record has.
TEST_F(SharedUseTest, ConcurrentAddsReportTheirOwnRecordsPosition) {
  Create("queue.tbm", 5);
  std::vector<std::thread> adders;
  std::vector<std::vector<std::pair<std::string, int>>> reported(4);
  for (int a = 0; a < 4; ++a) {
    adders.emplace_back([&, a] {
      for (int i = 0; i < 10; ++i) {
        const std::string name = "adder " + std::to_string(a) + " #" + std::to_string(i);
        const ProgramResult r = Run({"add", Path("queue.tbm"), "Name=" + name});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::size_t at = r.out.find("record ");
        ASSERT_NE(at, std::string::npos) << r.out;
        reported[a].emplace_back(name, std::stoi(r.out.substr(at + 7)));
      }
    });
  }
  for (auto& t : adders) t.join();
  const std::vector<std::string> rows = Rows("queue.tbm");
  ASSERT_EQ(rows.size(), 5u + 4 * 10);
  for (const auto& adder : reported) {
    for (const auto& [name, position] : adder) {
      ASSERT_GE(position, 1);
      ASSERT_LE(position, static_cast<int>(rows.size()));
      EXPECT_EQ(rows[position - 1].substr(0, name.size()), name);
    }
  }
}

// Processes deleting at once wait their turn: each delete lands on the
// record that is first when it runs, or says the database is busy.
TEST_F(SharedUseTest, ConcurrentDeletesEachLandOrSayBusy) {
  Create("stack.tbm", 30);
  std::atomic<int> deleted{0};
  std::vector<std::thread> deleters;
  for (int d = 0; d < 3; ++d) {
    deleters.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        const ProgramResult r = Run({"delete", Path("stack.tbm"), "1"});
        if (r.status == 0) ++deleted;
        EXPECT_TRUE(r.status == 0 || r.err.find("busy") != std::string::npos) << r.err;
      }
    });
  }
  for (auto& t : deleters) t.join();
  const std::vector<std::string> rows = Rows("stack.tbm");
  ASSERT_EQ(rows.size(), 30u - deleted.load());
  EXPECT_EQ(rows.front().substr(0, rows.front().find(',')), "Person " + std::to_string(deleted));
}

// A disk that fills up is named as such, and the database stays whole.
TEST_F(SharedUseTest, AFullDiskIsNamedNoSpaceAndTheDatabaseStaysWhole) {
  Create("full.tbm", 100);
  const std::string small = Path("small");
  stdfs::create_directory(small);
  const std::string big(2000, 'x');
  // A small file system of its own, in a mount namespace of its own; where
  // this test may not make one, there is nothing to test.
  const std::string script =
      "mount -t tmpfs -o size=" + std::to_string(stdfs::file_size(Path("full.tbm")) / 1024 + 96) +
      "k tmpfs \"$1\" || exit 200; cp \"$2\" \"$1/full.tbm\" || exit 201; "
      "for i in $(seq 200); do \"$3\" add \"$1/full.tbm\" Note=\"$4\" 2>\"$1/../err\" || break; "
      "done; cat \"$1/../err\" >&2; \"$3\" check \"$1/full.tbm\"";
  const ProgramResult r = tbm::testing::RunProgram(
      "/usr/bin/unshare",
      {"-m", "/bin/sh", "-c", script, "sh", small, Path("full.tbm"), Tbmdb(), big}, {},
      {{"TBM_DEVICE_ROOT", Path("device")}});
  if (r.status == 200 || r.status == kProgramNotStartedByShell) {
    GTEST_SKIP() << "no file system of its own could be made here: " << r.err;
  }
  EXPECT_NE(r.err.find("no space left"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("damaged"), std::string::npos) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;  // check, after the disk filled up
  EXPECT_NE(r.out.find("the database opens"), std::string::npos) << r.out;
}

// A database held by a change of another program (here one stopped in the
// middle of an add, as Ctrl-Z leaves it) is reported busy, never damaged:
// changes wait and then say so, a replace says it is in use, reading goes
// on, and once the program goes on its change completes.
TEST_F(SharedUseTest, ADatabaseHeldByAStoppedProgramIsNamedBusy) {
  Create("held.tbm", 10);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::setenv("TBM_DEVICE_ROOT", Path("device").c_str(), 1);
    ::setenv("TBM_STORE_FAULT", "stop-after-write:1", 1);
    const std::string program = Tbmdb();
    const std::string db = Path("held.tbm");
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(program.c_str(), program.c_str(), "add", db.c_str(), "Name=held", "City=x", nullptr);
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, WUNTRACED), holder);
  ASSERT_TRUE(WIFSTOPPED(status));

  const ProgramResult add = Run({"add", Path("held.tbm"), "Name=waiting"});
  const ProgramResult replace =
      Run({"create", Path("held.tbm.csv"), Path("held.tbm"), "--replace"});
  const ProgramResult list = Run({"list", Path("held.tbm"), "--csv"});
  ::kill(holder, SIGCONT);
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);

  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("busy"), std::string::npos) << add.err;
  EXPECT_EQ(add.err.find("damaged"), std::string::npos) << add.err;
  EXPECT_EQ(replace.status, 1);
  EXPECT_NE(replace.err.find("in use"), std::string::npos) << replace.err;
  EXPECT_EQ(list.status, 0) << list.err;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> rows = Rows("held.tbm");
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows.back(), "held,x,,");
}

// Reading commands work on a database the user may only read, and leave
// nothing beside it: no journal files, not a byte changed.
TEST_F(SharedUseTest, ReadingCommandsWorkOnADatabaseTheUserMayOnlyRead) {
  Create("shared.tbm", 40);
  const std::string before = ReadWholeFile(Path("shared.tbm"));
  // As root, the program runs as nobody, for whom the file and its folder
  // are another user's; otherwise both are made read-only.
  const bool root = ::geteuid() == 0;
  ::chmod(folder_.path().c_str(), root ? 0755 : 0555);
  ::chmod(Path("shared.tbm").c_str(), 0444);
  auto asReader = [&](std::vector<std::string> args) {
    if (!root) return Run(args);
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", Tbmdb()});
    return tbm::testing::RunProgram("/usr/bin/setpriv", args, {},
                                    {{"TBM_DEVICE_ROOT", Path("device")}});
  };
  const ProgramResult sorted = asReader(
      {"list", Path("shared.tbm"), "--sort", "Orders", "--descending", "--limit", "1", "--csv"});
  const ProgramResult found = asReader({"list", Path("shared.tbm"), "--find", "City", "city 3"});
  const ProgramResult check = asReader({"check", Path("shared.tbm")});
  const ProgramResult add = asReader({"add", Path("shared.tbm"), "Name=intruder"});
  ::chmod(folder_.path().c_str(), 0700);

  EXPECT_EQ(sorted.status, 0) << sorted.err;
  EXPECT_NE(sorted.out.find("Person 39,City 4,note 39,117"), std::string::npos) << sorted.out;
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("Person 38"), std::string::npos) << found.out;
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("permission"), std::string::npos) << add.err;
  EXPECT_FALSE(stdfs::exists(Path("shared.tbm-wal")));
  EXPECT_FALSE(stdfs::exists(Path("shared.tbm-shm")));
  EXPECT_EQ(ReadWholeFile(Path("shared.tbm")), before);
}

// check reads all that synchronisation reads: a record whose state cannot
// be read fails check as it fails the records command.
TEST_F(SharedUseTest, CheckFindsARecordWhoseStateCannotBeRead) {
  Create("flipped.tbm", 30);
  // One bit of a record's image in the file: in the identifier of its first
  // property, the record's state.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("flipped.tbm").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, "SELECT oid, image FROM rec ORDER BY oid LIMIT 1 OFFSET 13", -1, &read,
                     nullptr);
  ASSERT_EQ(sqlite3_step(read), SQLITE_ROW);
  const sqlite3_int64 oid = sqlite3_column_int64(read, 0);
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(read, 1));
  std::string image(reinterpret_cast<const char*>(bytes),
                    static_cast<std::size_t>(sqlite3_column_bytes(read, 1)));
  sqlite3_finalize(read);
  image[4] = static_cast<char>(image[4] ^ 1);  // after the count: type (2 bytes), then index
  sqlite3_stmt* write = nullptr;
  sqlite3_prepare_v2(db, "UPDATE rec SET image = ?1 WHERE oid = ?2", -1, &write, nullptr);
  sqlite3_bind_blob(write, 1, image.data(), static_cast<int>(image.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(write, 2, oid);
  ASSERT_EQ(sqlite3_step(write), SQLITE_DONE);
  sqlite3_finalize(write);
  sqlite3_close(db);
  const ProgramResult records = Run({"records", Path("flipped.tbm")});
  const ProgramResult check = Run({"check", Path("flipped.tbm")});
  EXPECT_EQ(records.status, 1);
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.err.find("cannot be read"), std::string::npos) << check.err;
}

// A file refused as damaged keeps nothing beside it, so a later replace
// does not take it for a database in use.
TEST_F(SharedUseTest, ADamagedFileRefusedLeavesNothingBesideIt) {
  Create("cut.tbm", 200);
  stdfs::resize_file(Path("cut.tbm"), stdfs::file_size(Path("cut.tbm")) / 2);
  const ProgramResult list = Run({"list", Path("cut.tbm")});
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("damaged"), std::string::npos) << list.err;
  EXPECT_FALSE(stdfs::exists(Path("cut.tbm-wal")));
  EXPECT_FALSE(stdfs::exists(Path("cut.tbm-shm")));
  const ProgramResult replace = Run({"create", Path("cut.tbm.csv"), Path("cut.tbm"), "--replace"});
  EXPECT_EQ(replace.status, 0) << replace.err;
  ExpectChecksOut("cut.tbm");
}

}  // namespace
}  // namespace tbm::tbmdb
