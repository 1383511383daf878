// The sync agent's four exports as the desktop drives them: loaded by name,
// talking through an in-process invocation stream, with a stand-in
// handheld program running as a process of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "CeDb.h"
#include "DatabaseList.h"
#include "DatabaseStore.h"
#include "DevicePath.h"
#include "ExchangeFile.h"
#include "HandheldCalls.h"
#include "HandheldProgram.h"
#include "LocalStream.h"
#include "MDb.h"
#include "Registry.h"
#include "RunProgram.h"
#include "SyncActiveFlag.h"
#include "TestSupport.h"
#include "Utf16.h"

extern char** environ;

namespace tbm::sync {
namespace {

using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;
namespace stdfs = std::filesystem;

stdfs::path ProgramFolder() { return stdfs::canonical("/proc/self/exe").parent_path(); }

// The agent, loaded as the connection service loads it.
struct Agent {
  void* library = dlopen((ProgramFolder() / "TBMSYNBKCE.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  RapiInvokeFunction Export(const char* name) const {
    return library ? reinterpret_cast<RapiInvokeFunction>(dlsym(library, name)) : nullptr;
  }
  ~Agent() {
    if (library) dlclose(library);
  }
};

// The handheld program itself, running on a platform that needs no
// screen (as on a display) with database open ("" for none), until the
// object goes. Ready once its main window answers.
class RunningProgram {
 public:
  explicit RunningProgram(const std::string& database) {
    ScopedEnvironment platform("QT_QPA_PLATFORM", "minimal");
    std::vector<std::string> args;
    if (!database.empty()) args.push_back(database);
    program_ = std::make_unique<tbm::testing::RunningProgram>(Path(), args);
    if (program_->pid() <= 0) return;
    const std::u16string path = Utf8ToUtf16(Path());
    for (int tries = 0; tries < 400 && !ready_; ++tries) {
      const HWND window = FindHandheldProgramWindow(path);
      std::optional<std::u16string> name;
      ready_ = window != nullptr && CallOpenDatabaseName(window, 2000, &name).ok() &&
               name.has_value() == !database.empty();
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool ready() const { return ready_; }
  static std::string Path() { return (ProgramFolder() / "Tabulon Mobile").string(); }

 private:
  std::unique_ptr<tbm::testing::RunningProgram> program_;
  bool ready_ = false;
};

// The bytes the desktop end reads.
std::vector<std::uint8_t> ReadBytes(IRAPIStream* stream, std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  ULONG read = 0;
  if (FAILED(ReadExactly(stream, bytes.data(), static_cast<ULONG>(n), &read))) bytes.resize(read);
  return bytes;
}

std::int32_t Int32(const std::vector<std::uint8_t>& b, std::size_t at = 0) {
  return static_cast<std::int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                   (static_cast<std::uint32_t>(b[at + 3]) << 24));
}

void WriteInt32(IRAPIStream* stream, std::int32_t value) {
  const std::uint8_t b[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  stream->Write(b, 4, nullptr);
}

// A desktop copy of Sales with the given customers and amounts, all new.
std::vector<std::uint8_t> SalesCopyWithAmounts(
    const std::vector<std::pair<std::string, std::string>>& records) {
  std::unique_ptr<AnsiCodePage> page;
  AnsiCodePage::Open("1252", &page);
  ExchangeLayout layout;
  layout.header.name = "Sales";
  layout.header.dateSeparator = '/';
  layout.header.timeSeparator = ':';
  layout.fields = {{1, "Customer", "C-CUST", 0, 0, -1}, {2, "Amount", "C-AMT", 0, 0, -1}};
  layout.header.fieldCount = 2;
  layout.header.recordCount = static_cast<std::int32_t>(records.size());
  MemoryByteSink sink;
  ExchangeWriter writer(sink, *page);
  writer.WriteLayout(layout);
  std::uint8_t n = 0;
  for (const auto& [customer, amount] : records) {
    RecordHeader header;
    header.changeCode = kChangeNew;
    header.identity = {1, ++n, 0, 0, 0, 0, 0, 0, 0, n};
    const std::vector<std::string> values = {customer, amount};
    writer.WriteRecord(header, values);
  }
  writer.Finish();
  return sink.bytes();
}

// A desktop copy of Sales with the given customers, each with amount 10.
std::vector<std::uint8_t> SalesCopy(const std::vector<std::string>& customers) {
  std::vector<std::pair<std::string, std::string>> records;
  for (const std::string& customer : customers) records.emplace_back(customer, "10");
  return SalesCopyWithAmounts(records);
}

class SyncAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    ASSERT_NE(agent_.library, nullptr) << dlerror();
    RegisterProgram();
  }

  void RegisterProgram() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string command = u"\"" + Utf8ToUtf16(RunningProgram::Path()) + u"\" \"%1\"";
    ASSERT_EQ(
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * 2)),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  HRESULT Call(const char* name, IRAPIStream* stream = nullptr, std::uint8_t mode = 0) {
    const RapiInvokeFunction function = agent_.Export(name);
    if (function == nullptr) return E_FAIL;
    BYTE input[4] = {mode, 0, 0, 0};
    DWORD outputBytes = 99;
    BYTE* output = nullptr;
    const HRESULT result = function(4, input, &outputBytes, &output, stream);
    EXPECT_EQ(outputBytes, 0u);
    EXPECT_EQ(output, nullptr);
    return result;
  }

  // Runs an export that talks through a stream on its own thread; the test
  // is the desktop.
  std::thread Start(const char* name, LocalStreamPair& pair, std::uint8_t mode = 0) {
    IRAPIStream* handheld = pair.handheld.release();
    handheld->SetRapiStat(STREAM_TIMEOUT_READ, 20000);
    pair.desktop->SetRapiStat(STREAM_TIMEOUT_READ, 20000);
    return std::thread([this, name, handheld, mode] { Call(name, handheld, mode); });
  }

  std::vector<DatabaseListEntry> FindFiles() {
    LocalStreamPair pair = CreateLocalStreamPair();
    std::thread agent = Start("FindFiles", pair);
    const std::vector<std::uint8_t> flag = ReadBytes(pair.desktop.get(), 4);
    std::vector<DatabaseListEntry> entries;
    if (flag.size() == 4 && Int32(flag) == 1) {
      const std::vector<std::uint8_t> list = ReadBytes(pair.desktop.get(), kDatabaseListBytes);
      if (auto decoded = DecodeDatabaseList(list.data(), list.size())) entries = *decoded;
    }
    agent.join();
    return entries;
  }

  // Creates a database through SyncDatabase in mode 2; the trailer words.
  std::pair<std::int32_t, std::int16_t> CreateThroughAgent(const std::vector<std::uint8_t>& copy) {
    LocalStreamPair pair = CreateLocalStreamPair();
    std::thread agent = Start("SyncDatabase", pair, 1);
    pair.desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr);
    const std::vector<std::uint8_t> echoSize = ReadBytes(pair.desktop.get(), 4);
    if (echoSize.size() != 4) {
      agent.join();
      return {-1, -1};
    }
    ReadBytes(pair.desktop.get(), static_cast<std::size_t>(Int32(echoSize)));
    const std::vector<std::uint8_t> trailer = ReadBytes(pair.desktop.get(), 6);
    agent.join();
    if (trailer.size() != 6) return {-1, -1};
    return {Int32(trailer), static_cast<std::int16_t>(trailer[4] | (trailer[5] << 8))};
  }

  // Starts synchronising Sales (mode 1): sends its name and reads the word
  // that says the handheld's changes are ready, or nothing.
  std::thread StartSynchronisingSales(LocalStreamPair& pair, std::optional<std::int32_t>* ready) {
    std::thread agent = Start("SyncDatabase", pair, 0);
    WriteInt32(pair.desktop.get(), 6);
    pair.desktop->Write("Sales", 6, nullptr);
    const std::vector<std::uint8_t> word = ReadBytes(pair.desktop.get(), 4);
    *ready = word.size() == 4 ? std::optional<std::int32_t>(Int32(word)) : std::nullopt;
    return agent;
  }

  // Starts creating Sales from a copy that the desktop stops sending ten
  // bytes before its end, going away after the name echo.
  void CreateFromCutCopy() {
    std::vector<std::uint8_t> copy = SalesCopy({"Ann", "Bo", "Cy"});
    copy.resize(copy.size() - 10);
    LocalStreamPair pair = CreateLocalStreamPair();
    std::thread agent = Start("SyncDatabase", pair, 1);
    pair.desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr);
    ReadBytes(pair.desktop.get(), 10);  // the echo
    pair.desktop.reset();
    agent.join();
  }

  // The user edits a record's amount on the handheld.
  void EditAmount(const char16_t* path, std::int16_t position, const char16_t* amount) {
    MDbEnv env;
    MDbEnvInitialize(&env);
    MDbInit(&env, 0);
    ASSERT_EQ(MDbAgentOpenDb(&env, path), MDbErrNone);
    MDbRecset rs;
    MDbRecsetInitialize(&rs);
    MDbAgentQuery(&env, &rs, nullptr);
    MDbRecsetSetInx(&env, &rs, position);
    ASSERT_EQ(MDbRecsetOpenRec(&env, &rs), MDbErrNone);
    EXPECT_EQ(MDbRecsetSetField(&env, &rs, 1, amount), MDbErrNone);
    MDbRecsetCloseRec(&env, &rs);
    MDbRecsetDestroy(&env, &rs);
    MDbAgentCloseDb(&env);
    MDbShutdown(&env);
  }

  std::uint32_t RecordCount(const char16_t* path) {
    MDbEnv env;
    MDbEnvInitialize(&env);
    MDbInit(&env, 0);
    std::uint32_t count = 0xFFFFFFFF;
    if (MDbAgentOpenDb(&env, path) == MDbErrNone) {
      MDbDataTblGetRecCount(&env, &env.ref, &env.data, &count);
      MDbAgentCloseDb(&env);
    }
    MDbShutdown(&env);
    return count;
  }

  // Every record's amount as the handheld program reads it, sorted by
  // amount; empty when the database does not open.
  std::vector<std::u16string> SortedAmounts(const char16_t* path) {
    MDbEnv env;
    MDbEnvInitialize(&env);
    MDbInit(&env, 0);
    std::vector<std::u16string> amounts;
    if (MDbAgentOpenDb(&env, path) == MDbErrNone) {
      MDbRecset rs;
      MDbRecsetInitialize(&rs);
      std::uint32_t count = 0;
      if (MDbAgentQuery(&env, &rs, nullptr) == MDbErrNone &&
          MDbRecsetSort(&env, &rs, 1, 0) == MDbErrNone &&
          MDbRecsetGetRecCount(&env, &rs, &count) == MDbErrNone) {
        for (std::uint32_t i = 0; i < count; ++i) {
          MDbRecsetSetInx(&env, &rs, static_cast<std::int16_t>(i));
          const char16_t* amount = nullptr;
          if (MDbRecsetOpenRec(&env, &rs) != MDbErrNone) break;
          if (MDbRecsetGetFieldPtr(&env, &rs, 1, &amount) == MDbErrNone) amounts.push_back(amount);
          MDbRecsetCloseRec(&env, &rs);
        }
      }
      MDbRecsetDestroy(&env, &rs);
      MDbAgentCloseDb(&env);
    }
    MDbShutdown(&env);
    return amounts;
  }

  ScratchFolder root_{"tbm-agent-e2e"};
  // What the agent wrote into its log on this handheld.
  std::string AgentLog() const {
    return tbm::testing::ReadWholeFile(root_.path() / "log" / "TBMSYNBKCE.log");
  }

  ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  Agent agent_;
};

TEST_F(SyncAgentTest, StartSyncWithTheProgramClosedReturnsOneAndStillSetsTheFlag) {
  SyncActiveHolder provider;  // the device sync provider keeps the word alive
  EXPECT_EQ(Call("StartSync"), 1);
  EXPECT_EQ(ReadSyncActive(), true);
  EXPECT_EQ(Call("EndSync"), 0);
  EXPECT_EQ(ReadSyncActive(), false);
  const std::string log = AgentLog();
  EXPECT_LT(log.find("info: synchronisation started"), log.find("info: synchronisation ended"))
      << log;
}

TEST_F(SyncAgentTest, StartSyncTellsARunningProgramToCloseItsViews) {
  SyncActiveHolder provider;
  ASSERT_EQ(CreateThroughAgent(SalesCopy({"Ann"})), std::make_pair(0, std::int16_t{0}));
  RunningProgram program("\\My Documents\\Tabulon\\Sales.tbm");
  ASSERT_TRUE(program.ready());
  EXPECT_EQ(Call("StartSync"), 0);
  EXPECT_EQ(ReadSyncActive(), true);
  // The program let its database go.
  EXPECT_NE(AgentLog().find("the handheld program closed its views"), std::string::npos)
      << AgentLog();
  EXPECT_NE(tbm::testing::ReadWholeFile(root_.path() / "log" / "Tabulon Mobile.log")
                .find("the views were closed for a synchronisation"),
            std::string::npos);
}

TEST_F(SyncAgentTest, WithoutTheProgramsRegistrationStartSyncFails) {
  HKEY classes = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS, &classes), ERROR_SUCCESS);
  RegDeleteKeyW(classes, u"tbmfile");
  RegCloseKey(classes);
  EXPECT_EQ(Call("StartSync"), E_FAIL);
  EXPECT_NE(AgentLog().find("error: the handheld program is not registered"), std::string::npos);
}

TEST_F(SyncAgentTest, FindFilesOnAnEmptyHandheldSendsAnEmptyList) {
  LocalStreamPair pair = CreateLocalStreamPair();
  std::thread agent = Start("FindFiles", pair);
  const std::vector<std::uint8_t> answer = ReadBytes(pair.desktop.get(), 4 + 2 + 39100);
  agent.join();
  ASSERT_EQ(answer.size(), 4u + 2 + 39100);
  EXPECT_EQ(Int32(answer), 1);
  EXPECT_EQ(answer[4], 0);
  EXPECT_EQ(answer[5], 0);
  EXPECT_TRUE(ReadBytes(pair.desktop.get(), 1).empty()) << "nothing follows the list";
}

// Rewrites the header entry of the volume at hostPath to say version 3.0.
void WriteVersionThree(const std::filesystem::path& hostPath) {
  CEGUID volume{};
  ASSERT_TRUE(CeMountDBVol(&volume, tbm::Utf8ToUtf16(hostPath.string()).c_str(), OPEN_EXISTING));
  CEOID oid = 0;
  HANDLE objects = CeOpenDatabaseEx(&volume, &oid, u"OBJG_0", PropId(1, CEVT_UI4), 0, nullptr);
  ASSERT_NE(objects, INVALID_HANDLE_VALUE);
  CEPROPVAL key{};
  key.propid = PropId(1, CEVT_UI4);
  key.val.ulVal = 0x50000;  // the header entry
  const CEOID entry = CeSeekDatabase(objects, CEDB_SEEK_VALUEFIRSTEQUAL,
                                     reinterpret_cast<std::uintptr_t>(&key), nullptr);
  ASSERT_NE(entry, 0u);
  BYTE header[8] = {0x54, 0x52, 0x46, 0x43, 3, 0, 0, 0};
  CEPROPVAL value{};
  value.propid = PropId(3, CEVT_BLOB);
  value.val.blob = {sizeof header, header};
  EXPECT_NE(CeWriteRecordProps(objects, entry, 1, &value), 0u);
  CeCloseHandle(objects);
  CeUnmountDBVol(&volume);
}

TEST_F(SyncAgentTest, FindFilesLeavesOutTheOpenDatabaseAndSkipsDamagedFiles) {
  ASSERT_EQ(CreateThroughAgent(SalesCopy({"Ann"})), std::make_pair(0, std::int16_t{0}));
  std::vector<std::uint8_t> orders = SalesCopy({"Bo"});
  orders[0] = 6;
  std::memcpy(orders.data() + 1, "Orders", 6);
  ASSERT_EQ(CreateThroughAgent(orders), std::make_pair(0, std::int16_t{0}));
  // A damaged file that sorts before the others.
  const MappedPath damaged = HostPathFromDevicePath(u"\\My Documents\\Tabulon\\Aardvark.tbm");
  ASSERT_TRUE(tbm::testing::WriteWholeFile(damaged.hostPath, "not a database"));
  // A database of another version, also before the others: the engine
  // leaves such a volume mounted when it refuses it.
  const MappedPath sales = HostPathFromDevicePath(u"\\My Documents\\Tabulon\\Sales.tbm");
  const MappedPath other = HostPathFromDevicePath(u"\\My Documents\\Tabulon\\Abacus.tbm");
  std::filesystem::copy_file(sales.hostPath, other.hostPath);
  WriteVersionThree(other.hostPath);

  std::vector<DatabaseListEntry> entries = FindFiles();
  ASSERT_EQ(entries.size(), 2u);

  RunningProgram program("\\My Documents\\Tabulon\\Sales.tbm");
  ASSERT_TRUE(program.ready());
  entries = FindFiles();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Orders");
  EXPECT_EQ(entries[0].path, u"\\My Documents\\Tabulon\\Orders.tbm");
  EXPECT_EQ(entries[0].kind, kDatabaseExisting);
}

TEST_F(SyncAgentTest, ASynchronisationExportsChangesAndTakesTheDesktopsCopy) {
  ASSERT_EQ(CreateThroughAgent(SalesCopy({"Ann", "Bo"})), std::make_pair(0, std::int16_t{0}));
  const char16_t* path = u"\\My Documents\\Tabulon\\Sales.tbm";
  EditAmount(path, 1, u"99");
  LocalStreamPair pair = CreateLocalStreamPair();
  std::optional<std::int32_t> ready;
  std::thread agent = StartSynchronisingSales(pair, &ready);
  IRAPIStream* desktop = pair.desktop.get();
  ASSERT_TRUE(ready.has_value());
  EXPECT_EQ(*ready, 0);

  // The desktop copies the handheld's changes from its temporary folder.
  const MappedPath temp = DeviceTempFolder();
  HostFileSource file(temp.hostPath + "/TBSC.sdb");
  ASSERT_TRUE(file.ok());
  ExchangeReader reader(file);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  ASSERT_EQ(layout.header.recordCount, 1);
  ExchangeRecord changed;
  ASSERT_TRUE(reader.ReadRecord(&changed).ok());
  EXPECT_EQ(changed.header.changeCode, kChangeModified);
  EXPECT_EQ(changed.values[1], "99");

  WriteInt32(desktop, 0);  // take the desktop's copy
  const std::vector<std::uint8_t> copy = SalesCopy({"Ann", "Bo", "Cy"});
  desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr);
  const std::vector<std::uint8_t> echo = ReadBytes(desktop, 10);
  ASSERT_EQ(echo.size(), 10u);
  EXPECT_EQ(Int32(echo), 6);
  EXPECT_EQ(echo[4], 5);
  const std::vector<std::uint8_t> skipped = ReadBytes(desktop, 4);
  ASSERT_EQ(skipped.size(), 4u);
  EXPECT_EQ(Int32(skipped), 0);
  agent.join();

  EXPECT_EQ(RecordCount(path), 3u);
  EXPECT_FALSE(stdfs::exists(temp.hostPath + "/TBSC.sdb"));
  EXPECT_NE(AgentLog().find("info: Sales: synchronised, rebuilt from the desktop's copy"),
            std::string::npos)
      << AgentLog();
}

TEST_F(SyncAgentTest, ALongValueInANumberFieldIsTakenAsTheDesktopSentIt) {
  ASSERT_EQ(CreateThroughAgent(SalesCopy({"Ann", "Bo"})), std::make_pair(0, std::int16_t{0}));
  const char16_t* path = u"\\My Documents\\Tabulon\\Sales.tbm";
  // Someone pasted a note into Bo's amount on the desktop: 300 characters,
  // more than the handheld's editor takes in a number field.
  std::string note = "250 paid on delivery, the rest when the spring order is complete";
  while (note.size() < 300) note += "; see the delivery notes";
  note.resize(300);
  LocalStreamPair pair = CreateLocalStreamPair();
  std::optional<std::int32_t> ready;
  std::thread agent = StartSynchronisingSales(pair, &ready);
  IRAPIStream* desktop = pair.desktop.get();
  ASSERT_TRUE(ready.has_value());
  WriteInt32(desktop, 0);  // take the desktop's copy
  const std::vector<std::uint8_t> copy =
      SalesCopyWithAmounts({{"Ann", "10"}, {"Bo", note}, {"Cy", "7"}});
  desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr);
  ReadBytes(desktop, 10);  // the name echo
  const std::vector<std::uint8_t> skipped = ReadBytes(desktop, 4);
  agent.join();
  ASSERT_EQ(skipped.size(), 4u);
  EXPECT_EQ(Int32(skipped), 0);

  // The database opens whole, and the note sorts by the number it starts with.
  const std::vector<std::u16string> amounts = SortedAmounts(path);
  ASSERT_EQ(amounts.size(), 3u);
  EXPECT_EQ(amounts[0], u"7");
  EXPECT_EQ(amounts[1], u"10");
  EXPECT_EQ(amounts[2], Utf8ToUtf16(note));
}

TEST_F(SyncAgentTest, KeepingTheHandheldDataLeavesItAndItsStatesUntouched) {
  ASSERT_EQ(CreateThroughAgent(SalesCopy({"Ann", "Bo"})), std::make_pair(0, std::int16_t{0}));
  const char16_t* path = u"\\My Documents\\Tabulon\\Sales.tbm";
  EditAmount(path, 0, u"12");
  LocalStreamPair pair = CreateLocalStreamPair();
  std::optional<std::int32_t> ready;
  std::thread agent = StartSynchronisingSales(pair, &ready);
  IRAPIStream* desktop = pair.desktop.get();
  ASSERT_TRUE(ready.has_value());
  WriteInt32(desktop, 0x00010001);  // low word not 0: keep the handheld's data
  const std::vector<std::uint8_t> skipped = ReadBytes(desktop, 4);
  agent.join();
  ASSERT_EQ(skipped.size(), 4u);
  EXPECT_EQ(Int32(skipped), 0);
  EXPECT_EQ(RecordCount(path), 2u);
  DatabaseStore store;
  ASSERT_EQ(store.Open(path), MDbErrNone);
  ASSERT_EQ(store.GatherChanges(), MDbErrNone);
  ASSERT_EQ(store.changes().size(), 1u) << "the edit still waits for the next synchronisation";
  EXPECT_EQ(store.changes()[0].state, MDbRecModified);
}

TEST_F(SyncAgentTest, KeepingTheDataOfAHalfRebuiltDatabaseDoesNotPassItForWhole) {
  CreateFromCutCopy();
  const char16_t* path = u"\\My Documents\\Tabulon\\Sales.tbm";
  LocalStreamPair pair = CreateLocalStreamPair();
  std::optional<std::int32_t> ready;
  std::thread agent = StartSynchronisingSales(pair, &ready);
  IRAPIStream* desktop = pair.desktop.get();
  ASSERT_TRUE(ready.has_value());
  WriteInt32(desktop, 1);  // keep the handheld's data
  ReadBytes(desktop, 4);
  agent.join();
  EXPECT_EQ(RecordCount(path), 0xFFFFFFFFu) << "still refused by the handheld program";
}

TEST_F(SyncAgentTest, ANameTooLongForItsSlotGetsNoAnswer) {
  LocalStreamPair pair = CreateLocalStreamPair();
  std::thread agent = Start("SyncDatabase", pair, 0);
  WriteInt32(pair.desktop.get(), 261);
  const std::string name(261, 'n');
  pair.desktop->Write(name.data(), 261, nullptr);
  agent.join();
  EXPECT_TRUE(ReadBytes(pair.desktop.get(), 4).empty());
  EXPECT_NE(AgentLog().find("error: the desktop sent no database name, or one of a wrong length"),
            std::string::npos)
      << AgentLog();
}

TEST_F(SyncAgentTest, AnUnknownDatabaseGetsNoAnswer) {
  LocalStreamPair pair = CreateLocalStreamPair();
  std::thread agent = Start("SyncDatabase", pair, 0);
  WriteInt32(pair.desktop.get(), 8);
  pair.desktop->Write("Missing", 8, nullptr);
  agent.join();
  EXPECT_TRUE(ReadBytes(pair.desktop.get(), 4).empty());
  EXPECT_NE(AgentLog().find("error: Missing: the database cannot be opened"), std::string::npos)
      << AgentLog();
}

TEST_F(SyncAgentTest, ACopyCutShortLeavesTheNewDatabaseMarkedInconsistent) {
  CreateFromCutCopy();
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  EXPECT_EQ(MDbAgentOpenDb(&env, u"\\My Documents\\Tabulon\\Sales.tbm"), MDbErrInconsistent);
  MDbShutdown(&env);
}

}  // namespace
}  // namespace tbm::sync
