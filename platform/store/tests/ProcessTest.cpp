// Volumes shared with other processes, and processes killed while writing.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "StoreFixture.h"

extern char** environ;

namespace tbm::store::testing {
namespace {

constexpr CEPROPID kTag = PropId(1, CEVT_LPWSTR);
constexpr CEPROPID kNumber = PropId(4, CEVT_UI4);
constexpr CEPROPID kText = PropId(5, CEVT_LPWSTR);

// A running tbm_store_writer whose output is read line by line.
class Writer {
 public:
  Writer(const std::string& volume, const std::string& tag, int count) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tbm_store_writer")
            .string();
    const std::string countText = std::to_string(count);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(volume.c_str()),
                    const_cast<char*>(tag.c_str()), const_cast<char*>(countText.c_str()), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
  }
  ~Writer() {
    if (pid_ > 0) Kill();
    if (out_) std::fclose(out_);
  }
  bool started() const { return pid_ > 0 && out_ != nullptr; }

  // The number of the last record reported flushed after reading n lines,
  // or -1 when the writer stopped first.
  long ReadFlushed(int lines) {
    long last = last_;
    char line[64];
    for (int i = 0; i < lines && std::fgets(line, sizeof line, out_); ++i) {
      std::sscanf(line, "flushed %ld", &last);
    }
    last_ = last;
    return last;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
  long last_ = -1;
};

class ProcessTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    CEGUID vol = MountNew("shared.tbm");
    CreateDb(vol, u"DATA_0", 0x44415441, {{kNumber, 0}});
    ASSERT_TRUE(CeUnmountDBVol(&vol));
    mounted_.clear();
  }

  // Every record of the volume, checked to be whole: tag -> numbers.
  std::map<std::u16string, std::set<std::uint32_t>> Contents() {
    std::map<std::u16string, std::set<std::uint32_t>> out;
    CEGUID vol{};
    EXPECT_TRUE(CeMountDBVol(&vol, WidePath("shared.tbm").c_str(), OPEN_EXISTING))
        << StoreLastMessage();
    CEOID db = 0;
    HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", kNumber, CEDB_AUTOINCREMENT, nullptr);
    while (auto record = ReadCurrent(h)) {
      const auto tag = std::get<std::u16string>(record->at(kTag));
      const auto number = std::get<std::uint32_t>(record->at(kNumber));
      std::u16string expected = tag + u" record " + Utf8ToUtf16(std::to_string(number));
      expected.append(200, u'.');
      EXPECT_EQ(std::get<std::u16string>(record->at(kText)), expected);
      out[tag].insert(number);
    }
    CEOIDINFO info{};
    CeOidGetInfoEx(&vol, db, &info);
    std::size_t total = 0;
    for (const auto& [tag, numbers] : out) total += numbers.size();
    EXPECT_EQ(info.infDatabase.dwNumRecords, total) << "the record count matches the records";
    CeCloseHandle(h);
    CeUnmountDBVol(&vol);
    return out;
  }
};

TEST_F(ProcessTest, AKilledWriterLosesNothingItHadFlushed) {
  std::mt19937 random(2026);
  std::set<std::uint32_t> flushedBefore;
  for (int round = 0; round < 6; ++round) {
    const std::string tag = "round" + std::to_string(round);
    Writer writer(HostPath("shared.tbm"), tag, 100000);
    ASSERT_TRUE(writer.started());
    ASSERT_GE(writer.ReadFlushed(1 + static_cast<int>(random() % 400)), 0)
        << "the writer failed before being killed";
    // Killed at once, in the middle of a write or flush; what it reported
    // before dying is still in the pipe.
    writer.Kill();
    const long flushed = writer.ReadFlushed(1000000);
    const auto contents = Contents();
    const auto it = contents.find(Utf8ToUtf16(tag));
    ASSERT_NE(it, contents.end());
    const auto& numbers = it->second;
    // Every record up to the last reported flush is there; at most the one
    // being flushed when the kill came is there too.
    for (long i = 0; i <= flushed; ++i) EXPECT_TRUE(numbers.count(static_cast<std::uint32_t>(i)));
    EXPECT_LE(*numbers.rbegin(), static_cast<std::uint32_t>(flushed + 1));
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(*numbers.rbegin() + 1)) << "no gaps";
  }
}

TEST_F(ProcessTest, TwoProcessesWritingAtOnceBothLand) {
  Writer first(HostPath("shared.tbm"), "alpha", 300);
  Writer second(HostPath("shared.tbm"), "beta", 300);
  ASSERT_TRUE(first.started() && second.started());
  EXPECT_EQ(first.ReadFlushed(100000), 299);
  EXPECT_EQ(second.ReadFlushed(100000), 299);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  const auto contents = Contents();
  ASSERT_EQ(contents.size(), 2u);
  EXPECT_EQ(contents.at(u"alpha").size(), 300u);
  EXPECT_EQ(contents.at(u"beta").size(), 300u);
}

TEST_F(ProcessTest, AMountedVolumeSeesAnotherProcesssFlushedWrites) {
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, WidePath("shared.tbm").c_str(), OPEN_EXISTING));
  mounted_.push_back(vol);
  CEOID db = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", kNumber, 0, nullptr);
  EXPECT_TRUE(WalkByPosition(h).empty());
  Writer writer(HostPath("shared.tbm"), "gamma", 40);
  EXPECT_EQ(writer.ReadFlushed(100000), 39);
  EXPECT_EQ(writer.Wait(), 0);
  // A handle opened after the flush sees it at once; one opened before sees
  // it once its snapshot has aged (20 ms).
  CEOID same = db;
  HANDLE fresh = CeOpenDatabaseEx(&vol, &same, nullptr, kNumber, 0, nullptr);
  EXPECT_EQ(WalkByPosition(fresh).size(), 40u);
  CeCloseHandle(fresh);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(WalkByPosition(h).size(), 40u);
  CEOIDINFO info{};
  ASSERT_TRUE(CeOidGetInfoEx(&vol, db, &info));
  EXPECT_EQ(info.infDatabase.dwNumRecords, 40u);
  // And this process can write after it.
  EXPECT_NE(Write(h, 0, {{kTag, std::u16string(u"local")}, {kNumber, 1000u}}), 0u);
  EXPECT_TRUE(CeFlushDBVol(&vol));
  CeCloseHandle(h);
}

TEST_F(ProcessTest, AVolumeItsCreatorKeepsMountedOpensInAnotherProcess) {
  CEGUID vol = MountNew("fresh.tbm");
  CreateDb(vol, u"DATA_0", 0x44415441, {{kNumber, 0}});
  ASSERT_TRUE(CeFlushDBVol(&vol));
  Writer writer(HostPath("fresh.tbm"), "delta", 3);
  ASSERT_TRUE(writer.started());
  EXPECT_EQ(writer.ReadFlushed(100000), 2);
  EXPECT_EQ(writer.Wait(), 0);
  CEOID db = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &db, u"DATA_0", kNumber, 0, nullptr);
  EXPECT_EQ(WalkByPosition(h).size(), 3u);
  CeCloseHandle(h);
}

}  // namespace
}  // namespace tbm::store::testing
