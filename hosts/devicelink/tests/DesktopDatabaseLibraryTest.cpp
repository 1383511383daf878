// libTBMDBCE.so as the desktop uses it: the engine's table layer working on
// a handheld database through the real device connection service on fresh,
// paired roots. What it writes, the handheld's own engine (through tbmdb)
// reads the same, and the other way round; the connection's start and end
// follow MDbInit and MDbShutdown; a handle never opened, a path outside the
// handheld and a service that dies are clear failures, not hangs.
#include <signal.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "DeviceLinkFixture.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

constexpr char16_t kRemotePath[] = u"\\My Documents\\Remote.tbm";
constexpr int kFields = 12;  // with the five leading properties: two writes per record

std::u16string FieldName(int f) { return u"Field " + Utf8ToUtf16(std::to_string(f)); }

std::u16string Value(int r, int f) {
  if (f == 1) return Utf8ToUtf16(std::to_string(r * 37 % 1000));
  return Utf8ToUtf16("R" + std::to_string(r) + " F" + std::to_string(f) + (r % 3 ? " é" : ""));
}

class DesktopDatabaseLibraryTest : public DeviceLinkTest {
 protected:
  void SetUp() override {
    DeviceLinkTest::SetUp();
    MDbEnvInitialize(&env_);
  }
  void TearDown() override {
    MDbShutdown(&env_);
    DeviceLinkTest::TearDown();
  }

  tbm::testing::ProgramResult Tbmdb(const std::vector<std::string>& args) {
    return tbm::testing::RunProgram(Program("tbmdb"), args, {}, Env());
  }

  // A database of kFields fields and `records` records, made as
  // synchronisation makes one, on env_'s connection.
  void CreateRemote(int records) {
    ASSERT_EQ(MDbCreate(&env_, kRemotePath, &env_.ref), MDbErrNone) << CeGetLastError();
    ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 0), MDbErrNone);
    std::vector<std::uint8_t> infos(kFields * MDbFieldInfoBytes);
    std::vector<std::u16string> names;
    for (int f = 0; f < kFields; ++f) {
      MDbFieldInfo info;
      info.type = f == 1 ? MDbFieldNumber : MDbFieldText;
      MDbEncodeFieldInfo(info, infos.data() + f * MDbFieldInfoBytes);
      names.push_back(FieldName(f));
    }
    std::vector<const char16_t*> namePointers;
    for (const auto& name : names) namePointers.push_back(name.c_str());
    ASSERT_EQ(MDbSchemaTblCreateEx(&env_, &env_.ref, infos.data(), namePointers.data(), kFields),
              MDbErrNone);
    std::uint8_t attrs[MDbAttrBytes] = {};
    attrs[4] = 1;
    ASSERT_EQ(MDbAttrTblCreateEx(&env_, &env_.ref, attrs, u"Remote"), MDbErrNone);
    const char16_t* lists[] = {u"North\r\nSouth"};
    ASSERT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, lists, 1), MDbErrNone);
    std::vector<std::uint8_t> options(kFields * (MDbOptionBytes + MDbOptionExBytes));
    ASSERT_EQ(MDbFieldOpTblCreateEx(&env_, &env_.ref, options.data(), kFields), MDbErrNone);
    ASSERT_EQ(MDbDataTblCreate(&env_, &env_.ref, nullptr), MDbErrNone);
    ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
    ASSERT_EQ(StartCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
    const std::uint8_t identity[MDbIdentityBytes] = {1, 2, 3};
    for (int r = 0; r < records; ++r) {
      std::vector<std::u16string> values;
      std::vector<const char16_t*> pointers;
      for (int f = 0; f < kFields; ++f) values.push_back(Value(r, f));
      for (const auto& value : values) pointers.push_back(value.c_str());
      ASSERT_EQ(MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, pointers.data(), kFields,
                                 1, nullptr, nullptr),
                MDbErrNone);
    }
    ASSERT_EQ(EndCreationSeqCache(&env_, &env_.ref, &env_.data), MDbErrNone);
    ASSERT_EQ(MDbDataTblClose(&env_, &env_.ref, &env_.data), MDbErrNone);
    ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 1), MDbErrNone);
    ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  }

  // Every field of every record of the open database env_, read through
  // the data table in creation order, as CSV-like lines.
  std::vector<std::string> ReadRemoteRecords() {
    std::vector<std::string> lines;
    MDbSchemaTbl schema{};
    std::uint16_t fields = 0;
    EXPECT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &schema), MDbErrNone);
    EXPECT_EQ(MDbSchemaTblGetCount(&env_, &env_.ref, &schema, &fields), MDbErrNone);
    std::string header;
    for (std::int16_t f = 0; f < fields; ++f) {
      char16_t name[64] = {};
      EXPECT_EQ(MDbSchemaTblReadFldName(&env_, &env_.ref, &schema, f, name, sizeof name),
                MDbErrNone);
      header += (f ? "," : "") + Utf16ToUtf8(name);
    }
    lines.push_back(header);
    EXPECT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
    std::uint32_t count = 0;
    EXPECT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &count), MDbErrNone);
    for (std::uint32_t r = 0; r < count; ++r) {
      MDbDataRec rec;
      MDbDataRecInitialize(&rec);
      MDbDataTblCursSetInx(&env_, &env_.ref, &env_.data, static_cast<std::int16_t>(r));
      EXPECT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, nullptr), MDbErrNone);
      std::string line;
      for (std::int16_t f = 0; f < fields; ++f) {
        const char16_t* text = nullptr;
        EXPECT_EQ(MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &schema, &rec, f, &text),
                  MDbErrNone);
        line += (f ? "," : "") + (text ? Utf16ToUtf8(text) : std::string("?"));
      }
      lines.push_back(line);
      MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
    }
    MDbDataTblClose(&env_, &env_.ref, &env_.data);
    MDbSchemaTblClose(&env_, &env_.ref, &schema);
    return lines;
  }

  MDbEnv env_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

TEST_F(DesktopDatabaseLibraryTest, ADatabaseMadeFromTheDesktopReadsTheSameOnTheHandheld) {
  Pair();
  std::unique_ptr<Service> service = Run();
  ASSERT_EQ(MDbInit(&env_), MDbErrNone) << RapiFailureText();
  const int records = 25;
  const std::uint64_t before = ExchangeCount();
  CreateRemote(records);
  EXPECT_GT(ExchangeCount(), before + 2u * records);  // every record crossed the connection
  EXPECT_EQ(MDbShutdown(&env_), MDbErrNone);

  // The handheld's own engine reads what the desktop wrote.
  const tbm::testing::ProgramResult listed = Tbmdb({"list", "--csv", "\\My Documents\\Remote.tbm"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::vector<std::string> lines = Lines(listed.out);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(records + 1)) << listed.out;
  EXPECT_NE(lines[0].find("Field 0"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("Field 11"), std::string::npos) << lines[0];
  for (int r = 0; r < records; ++r) {
    for (int f = 0; f < kFields; ++f) {
      EXPECT_NE(lines[r + 1].find(Utf16ToUtf8(Value(r, f))), std::string::npos)
          << "record " << r << " field " << f << ": " << lines[r + 1];
    }
  }

  // And the desktop reads back the same through the connection.
  MDbEnvInitialize(&env_);
  ASSERT_EQ(MDbInit(&env_), MDbErrNone) << RapiFailureText();
  ASSERT_EQ(MDbOpen(&env_, kRemotePath, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrNone);
  const std::vector<std::string> read = ReadRemoteRecords();
  ASSERT_EQ(read.size(), static_cast<std::size_t>(records + 1));
  for (int r = 0; r < records; ++r) {
    std::string expected;
    for (int f = 0; f < kFields; ++f) expected += (f ? "," : "") + Utf16ToUtf8(Value(r, f));
    EXPECT_EQ(read[r + 1], expected);
  }
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DesktopDatabaseLibraryTest, ADatabaseTheHandheldWroteReadsTheSameOnTheDesktop) {
  Pair();
  const std::filesystem::path csv = desktop_.path() / "contacts.csv";
  ASSERT_TRUE(tbm::testing::WriteWholeFile(
      csv,
      "Name,City,Phone\nAda Lovelace,London,0101\nJosé Núñez,Sevilla,0202\n"
      "Grace Hopper,Arlington,0303\n"));
  const tbm::testing::ProgramResult created =
      Tbmdb({"create", csv.string(), "\\My Documents\\Contacts.tbm"});
  ASSERT_EQ(created.status, 0) << created.err;
  std::unique_ptr<Service> service = Run();

  ASSERT_EQ(MDbInit(&env_), MDbErrNone) << RapiFailureText();
  ASSERT_EQ(MDbOpen(&env_, u"\\My Documents\\Contacts.tbm", &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrNone);
  const std::vector<std::string> read = ReadRemoteRecords();
  const std::vector<std::string> expected = {"Name,City,Phone", "Ada Lovelace,London,0101",
                                             "José Núñez,Sevilla,0202",
                                             "Grace Hopper,Arlington,0303"};
  EXPECT_EQ(read, expected);

  // A handle this connection never opened, and paths outside the handheld.
  MDbDataTbl stranger{};
  stranger.opened = 1;
  stranger.dataHandle = reinterpret_cast<HANDLE>(std::uintptr_t{4242});
  stranger.cursor = 0;
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  EXPECT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &stranger, &rec, nullptr), MDbErrFailed);
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_HANDLE);
  MDbRef outside{};
  EXPECT_EQ(MDbOpen(&env_, u"/etc/hostname", &outside), MDbErrCannotOpen);
  EXPECT_EQ(CeGetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MDbOpen(&env_, u"\\..\\..\\Contacts.tbm", &outside), MDbErrCannotOpen);
  EXPECT_EQ(CeGetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);

  // The frame's file calls reach the handheld's files.
  ASSERT_EQ(MDbCreateDirectory(u"\\My Documents\\Tabulon"), MDbErrNone);
  EXPECT_TRUE(std::filesystem::is_directory(device_.path() / "My Documents" / "Tabulon"));
  HANDLE find = nullptr;
  char16_t name[64] = {};
  ASSERT_EQ(MDbFindFirstFile(&find, u"\\My Documents\\*.tbm", name, sizeof name), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Contacts.tbm");
  EXPECT_EQ(MDbFindNextFile(&find, name, sizeof name), MDbErrNoMoreFiles);
  EXPECT_EQ(find, nullptr);
  EXPECT_EQ(MDbDelete(&env_, u"\\My Documents\\Contacts.tbm"), MDbErrNone);
  EXPECT_FALSE(std::filesystem::exists(device_.path() / "My Documents" / "Contacts.tbm"));
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DesktopDatabaseLibraryTest, InitAndShutdownStartAndEndTheConnectionInEveryCase) {
  Pair();
  std::unique_ptr<Service> service = Run();
  WCHAR temp[64];

  // Already initialised: 1, and the connection is started all the same.
  env_.initialised = 1;
  EXPECT_EQ(MDbInit(&env_), MDbErrFailed);
  EXPECT_EQ(CeGetTempPath(64, temp), 6u) << RapiFailureText();
  EXPECT_EQ(MDbShutdown(&env_), MDbErrNone);
  EXPECT_EQ(env_.initialised, 0);
  EXPECT_EQ(CeRapiUninit(), S_FALSE);  // MDbShutdown ended it

  // A connection the program opened itself is used, and stays open after
  // MDbShutdown, however many environments came and went on it.
  ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
  MDbEnv second;
  MDbEnvInitialize(&second);
  EXPECT_EQ(MDbInit(&env_), MDbErrNone) << RapiFailureText();
  EXPECT_EQ(MDbInit(&second), MDbErrNone) << RapiFailureText();
  EXPECT_EQ(MDbShutdown(&env_), MDbErrNone);
  EXPECT_EQ(MDbShutdown(&second), MDbErrNone);
  EXPECT_EQ(CeGetTempPath(64, temp), 6u) << RapiFailureText();
  EXPECT_EQ(CeRapiUninit(), S_OK);

  // A connection that cannot be made: 1, with env marked initialised.
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
  SetCallTimeLimit(std::chrono::milliseconds(2000));
  EXPECT_EQ(MDbInit(&env_), MDbErrFailed);
  EXPECT_EQ(env_.initialised, 1);
  EXPECT_EQ(MDbShutdown(&env_), MDbErrNone);
  EXPECT_EQ(env_.initialised, 0);
}

TEST_F(DesktopDatabaseLibraryTest, AServiceKilledMidwayFailsTheCallsInTime) {
  Pair();
  std::unique_ptr<Service> service = Run();
  ASSERT_EQ(MDbInit(&env_), MDbErrNone) << RapiFailureText();
  CreateRemote(3);
  ASSERT_EQ(MDbOpen(&env_, kRemotePath, &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  ASSERT_EQ(::kill(service->pid(), SIGKILL), 0);
  SetCallTimeLimit(std::chrono::milliseconds(1500));
  const auto started = std::chrono::steady_clock::now();
  const char16_t* values[] = {u"late"};
  const std::uint8_t identity[MDbIdentityBytes] = {};
  EXPECT_EQ(
      MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity, values, 1, 0, nullptr, nullptr),
      MDbErrFailed);
  std::uint32_t count = 0;
  EXPECT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &count), MDbErrFailed);
  EXPECT_NE(CeRapiGetError(), S_OK);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

  // The handheld's copy is whole: the three records flushed before.
  const tbm::testing::ProgramResult listed = Tbmdb({"list", "--csv", "\\My Documents\\Remote.tbm"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(Lines(listed.out).size(), 4u) << listed.out;
}

// The library exports the frame and the table layer's calls, and nothing
// of the record set, the agent layer, find or date and time text.
TEST(DesktopDatabaseLibraryExports, AreTheFrameAndTableCallsOnly) {
  const std::string library = (tbm::testing::ProgramFolder() / "libTBMDBCE.so").string();
  const tbm::testing::ProgramResult nm =
      tbm::testing::RunProgram("/usr/bin/nm", {"-D", "--defined-only", library}, {}, {});
  ASSERT_EQ(nm.status, 0) << nm.err;
  std::set<std::string> exported;
  for (const std::string& line : Lines(nm.out)) {
    const std::size_t space = line.rfind(' ');
    if (space != std::string::npos) exported.insert(line.substr(space + 1));
  }
  const std::array<const char*, 18> frame = {"MDbEnvInitialize",
                                             "MDbInit",
                                             "MDbShutdown",
                                             "MDbCreate",
                                             "MDbOpen",
                                             "MDbClose",
                                             "MDbDelete",
                                             "MDbIsOpened",
                                             "MDbRefIsOpened",
                                             "MDbCreateDirectory",
                                             "MDbFindFirstFile",
                                             "MDbFindNextFile",
                                             "MDbFindClose",
                                             "MDbVolFSpecInitialize",
                                             "MDbWriteChecksome",
                                             "MDbVerifyChecksome",
                                             "StartCreationSeqCache",
                                             "EndCreationSeqCache"};
  const std::array<const char*, 7> tables = {"MDbSchemaTbl",  "MDbFieldOpTbl", "MDbAttrTbl",
                                             "MDbValListTbl", "MDbDataTbl",    "MDbDeleteTbl",
                                             "MDbDataRec"};
  std::set<std::string> expected(frame.begin(), frame.end());
  for (const std::string& name : exported) {
    for (const char* prefix : tables) {
      if (name.rfind(prefix, 0) == 0) expected.insert(name);
    }
  }
  EXPECT_EQ(exported, expected);
  EXPECT_EQ(exported.size(), 69u);
  for (const char* name : {"MDbSchemaTblCreateEx", "MDbFieldOpTblGetDefOptionEx",
                           "MDbDataRecGetFieldPtr", "MDbDeleteTblOpenRec", "MDbValListTblOpen"}) {
    EXPECT_EQ(exported.count(name), 1u) << name;
  }
}

}  // namespace
}  // namespace tbm::rapi
