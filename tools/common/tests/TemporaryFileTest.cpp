// Temporary files beside their targets: names that fit the folder, the
// leftovers of processes that are gone, and the clean-up on a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TemporaryFile.h"
#include "TestSupport.h"

namespace tbm::tools {
namespace {

namespace stdfs = std::filesystem;
using tbm::testing::ScratchFolder;

void Touch(const stdfs::path& path) { std::ofstream(path) << "x"; }

std::vector<std::string> Files(const stdfs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The id of a process that has ended and been collected.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST(TemporaryFileTest, TemporaryNamesFitTheFolderForEveryNameThatDoes) {
  ScratchFolder folder("temporary");
  const std::size_t limit = NameLimit(folder.path().string());
  // The longest name a database may have, and one of multi-byte characters
  // that must be cut between characters.
  const std::string longest(limit - kJournalSuffixBytes, 'n');
  std::string accented;
  while (accented.size() + 2 <= limit - kJournalSuffixBytes) accented += "\xC3\xA9";
  for (const std::string& name : {std::string("Sales.tbm"), longest, accented}) {
    const std::string target = (folder.path() / name).string();
    const std::string temporary = TemporaryNameBeside(target, "creating");
    EXPECT_EQ(stdfs::path(temporary).parent_path(), folder.path());
    const std::string base = stdfs::path(temporary).filename().string();
    EXPECT_EQ(base.front(), '.');
    EXPECT_LE(base.size() + kJournalSuffixBytes, limit);
    EXPECT_NE(base.find(".creating-" + std::to_string(::getpid())), std::string::npos);
    // It can be made, with its journal beside it.
    std::ofstream(temporary + "-wal") << "x";
    EXPECT_TRUE(stdfs::exists(temporary + "-wal")) << base;
    stdfs::remove(temporary + "-wal");
  }
  EXPECT_EQ(TemporaryNameBeside((folder.path() / "Sales.tbm").string(), "writing"),
            (folder.path() / (".Sales.tbm.writing-" + std::to_string(::getpid()))).string());
}

TEST(TemporaryFileTest, RemovesOnlyTheLeftoversOfProcessesThatAreGone) {
  ScratchFolder folder("temporary");
  const std::string target = (folder.path() / "Sales.tbm").string();
  const std::string gone = std::to_string(EndedProcess());
  const std::string running = std::to_string(::getppid());
  const std::string mine = std::to_string(::getpid());
  for (const std::string& name :
       {".Sales.tbm.creating-" + gone, ".Sales.tbm.creating-" + gone + "-wal",
        ".Sales.tbm.creating-" + gone + "-shm", ".Sales.tbm.creating-" + running,
        ".Sales.tbm.creating-" + mine, ".Sales.tbm.writing-" + gone,
        ".Sales.tbm.creating-" + gone + ".bak", ".Other.tbm.creating-" + gone,
        std::string("Sales.tbm")}) {
    Touch(folder.path() / name);
  }
  EXPECT_EQ(RemoveStaleTemporaries(target, "creating"), 3);
  std::vector<std::string> left = {
      ".Other.tbm.creating-" + gone, ".Sales.tbm.creating-" + gone + ".bak",
      ".Sales.tbm.creating-" + mine, ".Sales.tbm.creating-" + running,
      ".Sales.tbm.writing-" + gone,  "Sales.tbm"};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(Files(folder.path()), left);
}

// In a child: guards the files, then is ended by the signal; the files are
// gone and the child ended by that signal, as it would have unguarded.
void ExpectRemovedWhenEndedBy(int signal) {
  ScratchFolder folder("temporary");
  const stdfs::path kept = folder.path() / "kept";
  const stdfs::path guarded = folder.path() / ".db.creating";
  const stdfs::path journal = folder.path() / ".db.creating-wal";
  for (const auto& path : {kept, guarded, journal}) Touch(path);
  const pid_t child = ::fork();
  if (child == 0) {
    RemovedOnSignal cleanup({guarded.string(), journal.string()});
    ::kill(::getpid(), signal);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_EQ(Files(folder.path()), std::vector<std::string>{"kept"});
}

TEST(TemporaryFileTest, InterruptTerminateAndHangUpRemoveGuardedFiles) {
  ExpectRemovedWhenEndedBy(SIGINT);
  ExpectRemovedWhenEndedBy(SIGTERM);
  ExpectRemovedWhenEndedBy(SIGHUP);
}

TEST(TemporaryFileTest, FilesNoLongerGuardedStayAndIgnoredSignalsStayIgnored) {
  ScratchFolder folder("temporary");
  const stdfs::path finished = folder.path() / "finished";
  Touch(finished);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGHUP, SIG_IGN);  // as under nohup
    { RemovedOnSignal cleanup({finished.string()}); }
    ::kill(::getpid(), SIGHUP);
    ::kill(::getpid(), SIGTERM);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_TRUE(stdfs::exists(finished));
}

}  // namespace
}  // namespace tbm::tools
