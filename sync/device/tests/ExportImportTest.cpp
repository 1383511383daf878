// The agent's work on a database: gathering and exporting the handheld's
// changes, rebuilding from the desktop's copy and creating a database from
// one, and the names databases are stored under.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ChangeExport.h"
#include "CopyImport.h"
#include "DatabaseBuilder.h"
#include "DatabaseNames.h"
#include "DevicePath.h"
#include "ExchangeFile.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;

constexpr char16_t kSalesPath[] = u"\\My Documents\\Tabulon\\Sales.tbm";

std::array<std::uint8_t, 10> Identity(std::uint8_t first, std::uint8_t last) {
  std::array<std::uint8_t, 10> id{};
  id[0] = 7;  // the counted part is as long as it can be
  for (int i = 1; i < 8; ++i) id[i] = static_cast<std::uint8_t>(first + i);
  id[8] = 0xA0;
  id[9] = last;
  return id;
}

// A desktop copy written as the desktop writes "TBSS.sdb".
struct DesktopCopy {
  ExchangeLayout layout;
  std::vector<std::string> valueLists;
  std::vector<ExchangeRecord> records;

  DesktopCopy() {
    layout.header.name = "Sales";
    layout.header.dateSeparator = '/';
    layout.header.dateOrder = 2;  // year-month-day
    layout.header.timeSeparator = ':';
    layout.header.morningSuffix = "am";
    layout.header.afternoonSuffix = "pm";
    layout.header.twelveHourClock = true;
    layout.fields = {{1, "Customer", "C-CUST", 0, 0, -1},
                     {2, "Amount", "C-AMT", 0, 0, -1},
                     {1, "Region", "C-REG", 5, 0, 0}};
    layout.valueListCount = 1;
    valueLists = {"North\nSouth\nEast"};
    Add(kChangeNew, Identity(10, 1), {"Ann Lee", "120", "North"});
    Add(kChangeNew, Identity(20, 2), {"Bo Berg", "75", "South\nwarehouse"});
    Add(kChangeUnchanged, Identity(30, 3), {"Cy Cole", "5", "East"});
  }
  void Add(std::int16_t code, std::array<std::uint8_t, 10> identity,
           std::vector<std::string> values) {
    ExchangeRecord r;
    r.header.changeCode = code;
    r.header.identity = identity;
    r.values = std::move(values);
    records.push_back(std::move(r));
  }
  std::vector<std::uint8_t> Bytes(AnsiCodePage& page) {
    layout.header.fieldCount = static_cast<std::int32_t>(layout.fields.size());
    layout.header.recordCount = static_cast<std::int32_t>(records.size());
    MemoryByteSink sink;
    ExchangeWriter writer(sink, page);
    EXPECT_TRUE(writer.WriteLayout(layout).ok());
    if (layout.valueListCount > 0) {
      EXPECT_TRUE(writer.WriteValueLists(valueLists).ok());
    }
    for (const ExchangeRecord& r : records) {
      EXPECT_TRUE(writer.WriteRecord(r.header, r.values).ok());
    }
    EXPECT_TRUE(writer.Finish().ok());
    return sink.bytes();
  }
};

class AgentWorkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_TRUE(AnsiCodePage::Open("1252", &page_).ok());
    MDbCreateDirectory(kDatabaseFolder);
  }

  // Creates Sales from the desktop's copy, as a first synchronisation does.
  ImportResult Create(DesktopCopy copy, DatabaseStore& store, MemoryByteSink& echo) {
    const std::vector<std::uint8_t> bytes = copy.Bytes(*page_);
    MemoryByteSource source(bytes);
    return ImportDesktopCopy(store, ImportMode::kCreate, source, echo, *page_);
  }
  void CreateSales(DesktopCopy copy = {}) {
    DatabaseStore store;
    MemoryByteSink echo;
    const ImportResult result = Create(std::move(copy), store, echo);
    ASSERT_TRUE(result.status.ok()) << result.status.message();
    ASSERT_EQ(MarkConsistent(store.env(), true), MDbErrNone);
  }

  ImportResult Rebuild(DesktopCopy copy, MemoryByteSink& echo) {
    DatabaseStore store;
    EXPECT_EQ(store.Open(kSalesPath), MDbErrNone);
    const std::vector<std::uint8_t> bytes = copy.Bytes(*page_);
    MemoryByteSource source(bytes);
    ImportResult result = ImportDesktopCopy(store, ImportMode::kRebuild, source, echo, *page_);
    if (result.status.ok()) MarkConsistent(store.env(), true);
    return result;
  }

  // The handheld program's view of Sales.
  struct Handheld {
    MDbEnv env;
    MDbRecset rs;
    std::int32_t opened;
    Handheld() {
      MDbEnvInitialize(&env);
      MDbInit(&env, 0);
      MDbRecsetInitialize(&rs);
      opened = MDbAgentOpenDb(&env, kSalesPath);
      if (opened == MDbErrNone) MDbAgentQuery(&env, &rs, nullptr);
    }
    ~Handheld() {
      MDbRecsetDestroy(&env, &rs);
      MDbAgentCloseDb(&env);
      MDbShutdown(&env);
    }
    std::uint32_t Count() {
      std::uint32_t n = 0;
      MDbRecsetGetRecCount(&env, &rs, &n);
      return n;
    }
    std::u16string Text(std::int16_t position, std::int16_t field) {
      MDbRecsetSetInx(&env, &rs, position);
      if (MDbRecsetOpenRec(&env, &rs) != MDbErrNone) return u"<none>";
      const char16_t* text = nullptr;
      MDbRecsetGetFieldPtr(&env, &rs, field, &text);
      std::u16string value = text ? text : u"<none>";
      MDbRecsetCloseRec(&env, &rs);
      return value;
    }
    void Set(std::int16_t position, std::int16_t field, const char16_t* text) {
      MDbRecsetSetInx(&env, &rs, position);
      ASSERT_EQ(MDbRecsetOpenRec(&env, &rs), MDbErrNone);
      ASSERT_EQ(MDbRecsetSetField(&env, &rs, static_cast<std::uint16_t>(field), text), MDbErrNone);
      MDbRecsetCloseRec(&env, &rs);
    }
  };

  // Exports Sales's changes and reads the file back.
  struct Exported {
    Status status;
    ExchangeLayout layout;
    std::vector<ExchangeRecord> records;
  };
  Exported Export() {
    Exported out;
    DatabaseStore store;
    EXPECT_EQ(store.Open(kSalesPath), MDbErrNone);
    EXPECT_EQ(store.GatherChanges(), MDbErrNone);
    MemoryByteSink sink;
    out.status = ExportChanges(store, "Sales", *page_, sink);
    if (!out.status.ok()) return out;
    MemoryByteSource source(sink.bytes());
    ExchangeReader reader(source);
    EXPECT_TRUE(reader.ReadLayout(&out.layout).ok());
    while (reader.recordsLeft() > 0) {
      ExchangeRecord r;
      EXPECT_TRUE(reader.ReadRecord(&r).ok());
      out.records.push_back(r);
    }
    EXPECT_EQ(source.remaining(), 0u);
    return out;
  }

  ScratchFolder folder_{"tbm-agent"};
  ScopedEnvironment root_{"TBM_DEVICE_ROOT", folder_.path().c_str()};
  std::unique_ptr<AnsiCodePage> page_;
};

TEST_F(AgentWorkTest, ACreatedDatabaseHoldsTheNewRecordsOfTheCopyAndCountsTheOthers) {
  DatabaseStore store;
  MemoryByteSink echo;
  const ImportResult result = Create(DesktopCopy{}, store, echo);
  ASSERT_TRUE(result.status.ok()) << result.status.message();
  EXPECT_EQ(result.skipped, 1);
  EXPECT_TRUE(result.touched);
  // The echo: i32 6, then the counted name.
  const std::vector<std::uint8_t> expected = {6, 0, 0, 0, 5, 'S', 'a', 'l', 'e', 's'};
  EXPECT_EQ(echo.bytes(), expected);
  ASSERT_EQ(MarkConsistent(store.env(), true), MDbErrNone);
  store.Close();

  Handheld handheld;
  ASSERT_EQ(handheld.opened, MDbErrNone);
  ASSERT_EQ(handheld.Count(), 2u);
  EXPECT_EQ(handheld.Text(0, 0), u"Ann Lee");
  EXPECT_EQ(handheld.Text(1, 2), u"South\r\nwarehouse");
  char16_t list[64];
  ASSERT_EQ(MDbAgentGetValList(&handheld.env, 0, list, sizeof list), MDbErrNone);
  EXPECT_EQ(std::u16string(list), u"North\r\nSouth\r\nEast");
  MDbDateRec date{};
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&handheld.env, u"2024/12/31", &date, 1, nullptr), MDbErrNone);
  EXPECT_EQ(date.month, 12);
}

TEST_F(AgentWorkTest, CreatingNeverReplacesAFileAlreadyThere) {
  CreateSales();
  DatabaseStore store;
  MemoryByteSink echo;
  DesktopCopy copy;
  copy.layout.header.name = "Sales.2024";  // maps to Sales.tbm as well
  const ImportResult result = Create(copy, store, echo);
  EXPECT_FALSE(result.status.ok());
  EXPECT_FALSE(result.touched);
  Handheld handheld;
  EXPECT_EQ(handheld.opened, MDbErrNone);
  EXPECT_EQ(handheld.Count(), 2u);
}

TEST_F(AgentWorkTest, ExportCarriesNewModifiedAndDeletedRecordsWithTheirCodes) {
  CreateSales();
  {
    Handheld handheld;
    ASSERT_EQ(handheld.opened, MDbErrNone);
    handheld.Set(1, 1, u"80");
    ASSERT_EQ(MDbRecsetDelRec(&handheld.env, &handheld.rs, 0, 0), MDbErrNone);
    std::uint16_t position = 0;
    ASSERT_EQ(MDbRecsetNewRec(&handheld.env, &handheld.rs, &position), MDbErrNone);
    handheld.Set(static_cast<std::int16_t>(position), 0, u"Di Dahl\r\nnew client");
  }
  const Exported exported = Export();
  ASSERT_TRUE(exported.status.ok()) << exported.status.message();
  EXPECT_EQ(exported.layout.header.name, "Sales");
  EXPECT_EQ(exported.layout.header.fieldCount, 3);
  EXPECT_EQ(exported.layout.valueListCount, 0);
  EXPECT_EQ(exported.layout.fields[2].key, "C-REG");
  EXPECT_EQ(exported.layout.fields[1].type, 2);
  EXPECT_EQ(exported.layout.fields[2].valueListIndex, -1);
  EXPECT_EQ(exported.layout.header.dateSeparator, 0) << "the handheld sends no formats";
  ASSERT_EQ(exported.records.size(), 3u);
  // Data table first, in table order, then the delete table.
  EXPECT_EQ(exported.records[0].header.changeCode, kChangeModified);
  EXPECT_EQ(exported.records[0].values[1], "80");
  EXPECT_EQ(exported.records[0].header.identity, Identity(20, 2));
  EXPECT_EQ(exported.records[1].header.changeCode, kChangeNew);
  EXPECT_EQ(exported.records[1].values[0], "Di Dahl\nnew client");
  EXPECT_EQ(exported.records[2].header.changeCode, kChangeDeleted);
  EXPECT_EQ(exported.records[2].header.identity, Identity(10, 1));
  EXPECT_EQ(exported.records[2].values[0], "Ann Lee");
}

TEST_F(AgentWorkTest, AnUntouchedDatabaseExportsNoRecords) {
  CreateSales();
  const Exported exported = Export();
  ASSERT_TRUE(exported.status.ok());
  EXPECT_EQ(exported.layout.header.recordCount, 0);
  EXPECT_TRUE(exported.records.empty());
}

TEST_F(AgentWorkTest, TextTheCodePageCannotHoldFailsTheExport) {
  CreateSales();
  {
    Handheld handheld;
    handheld.Set(0, 0, u"\u03a9mega Ltd");  // not in windows-1252
  }
  const Exported exported = Export();
  EXPECT_EQ(exported.status.code(), StatusCode::kUnconvertibleText);
  EXPECT_NE(exported.status.message().find("changed record 1: field 1"), std::string::npos)
      << exported.status.message();
}

TEST_F(AgentWorkTest, ARebuildReplacesTheRecordsAndKeepsAttributesWhenFieldsAreTheSame) {
  CreateSales();
  {
    Handheld handheld;
    ASSERT_EQ(MDbAgentSetAttr(&handheld.env, 2, 0x1234), MDbErrNone);  // a view setting
    handheld.Set(0, 0, u"edited on the handheld");
  }
  DesktopCopy copy;
  copy.records.clear();
  copy.Add(kChangeNew, Identity(40, 4), {"Eve Ek", "9", "East"});
  copy.layout.header.dateOrder = 1;  // the desktop changed its format
  MemoryByteSink echo;
  const ImportResult result = Rebuild(copy, echo);
  ASSERT_TRUE(result.status.ok()) << result.status.message();
  EXPECT_EQ(result.skipped, 0);

  Handheld handheld;
  ASSERT_EQ(handheld.opened, MDbErrNone);
  ASSERT_EQ(handheld.Count(), 1u);
  EXPECT_EQ(handheld.Text(0, 0), u"Eve Ek");
  std::uint32_t word = 0;
  MDbAgentGetAttr(&handheld.env, 2, &word);
  EXPECT_EQ(word, 0x1234u) << "same fields: the stored attributes stay";
  MDbRecsetDestroy(&handheld.env, &handheld.rs);
  MDbAgentCloseDb(&handheld.env);
  MDbShutdown(&handheld.env);
  MDbInit(&handheld.env, 0);
  ASSERT_EQ(MDbAgentOpenDb(&handheld.env, kSalesPath), MDbErrNone);
  MDbAgentQuery(&handheld.env, &handheld.rs, nullptr);

  // Nothing is left to export: the rebuild cleared every state.
  const Exported exported = Export();
  EXPECT_TRUE(exported.records.empty());
}

TEST_F(AgentWorkTest, ARebuildWithOtherFieldsWritesTheDesktopsFormats) {
  CreateSales();
  {
    Handheld handheld;
    ASSERT_EQ(MDbAgentSetAttr(&handheld.env, 2, 0x1234), MDbErrNone);
  }
  DesktopCopy copy;
  copy.layout.fields.push_back({3, "Due", "C-DUE", 0, 0, -1});
  for (ExchangeRecord& r : copy.records) r.values.push_back("2025/01/31");
  copy.layout.header.dateOrder = 1;
  copy.layout.header.dateSeparator = '.';
  MemoryByteSink echo;
  const ImportResult result = Rebuild(copy, echo);
  ASSERT_TRUE(result.status.ok()) << result.status.message();

  Handheld handheld;
  ASSERT_EQ(handheld.opened, MDbErrNone);
  std::uint32_t word = 0;
  MDbAgentGetAttr(&handheld.env, 2, &word);
  EXPECT_EQ(word, 3584u);
  MDbDateRec date{};
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&handheld.env, u"31.1.2025", &date, 1, nullptr), MDbErrNone);
  EXPECT_EQ(date.day, 31);
}

TEST_F(AgentWorkTest, AFailedRebuildLeavesTheDatabaseMarkedInconsistent) {
  CreateSales();
  DesktopCopy copy;
  copy.Add(kChangeModified, Identity(50, 5), {"Flo", "1", "North"});  // not a copy's code
  MemoryByteSink echo;
  const ImportResult result = Rebuild(copy, echo);
  EXPECT_EQ(result.status.code(), StatusCode::kCorrupt);
  EXPECT_NE(result.status.message().find("record 4"), std::string::npos);
  EXPECT_TRUE(result.touched);
  EXPECT_FALSE(result.streamFailed);
  Handheld handheld;
  EXPECT_EQ(handheld.opened, MDbErrInconsistent);
}

TEST_F(AgentWorkTest, AValueLongerThanTheDesktopSendsStopsTheImport) {
  DesktopCopy copy;
  // The desktop sends at most 2048 characters in any field of a database of
  // up to 20 fields; a longer one is damage.
  copy.records[1].values[1] = std::string(2049, '9');
  DatabaseStore store;
  MemoryByteSink echo;
  const ImportResult result = Create(copy, store, echo);
  EXPECT_EQ(result.status.code(), StatusCode::kBadLength);
  EXPECT_NE(result.status.message().find("record 2, field 2"), std::string::npos)
      << result.status.message();
}

TEST_F(AgentWorkTest, ACopyCutShortIsAStreamFailure) {
  DesktopCopy copy;
  std::vector<std::uint8_t> bytes = copy.Bytes(*page_);
  bytes.resize(bytes.size() - 7);
  MemoryByteSource source(bytes);
  DatabaseStore store;
  MemoryByteSink echo;
  const ImportResult result = ImportDesktopCopy(store, ImportMode::kCreate, source, echo, *page_);
  EXPECT_FALSE(result.status.ok());
  EXPECT_TRUE(result.streamFailed);
}

TEST_F(AgentWorkTest, ACopyCutAtAnyByteEndsCleanlyAndNeverPassesForWhole) {
  DesktopCopy copy;
  copy.layout.fields.resize(2);
  copy.layout.fields[1].valueListIndex = 0;
  for (ExchangeRecord& r : copy.records) r.values.resize(2);
  const std::vector<std::uint8_t> whole = copy.Bytes(*page_);
  const MappedPath file = HostPathFromDevicePath(kSalesPath);
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + cut);
    {
      DatabaseStore store;
      MemoryByteSink echo;
      MemoryByteSource source(part);
      const ImportResult result =
          ImportDesktopCopy(store, ImportMode::kCreate, source, echo, *page_);
      ASSERT_FALSE(result.status.ok()) << "cut at " << cut;
      EXPECT_TRUE(result.streamFailed) << "cut at " << cut;
    }
    // Whatever was made of it, the handheld program does not take it for
    // a whole database.
    MDbEnv env;
    MDbEnvInitialize(&env);
    MDbInit(&env, 0);
    EXPECT_NE(MDbAgentOpenDb(&env, kSalesPath), MDbErrNone) << "cut at " << cut;
    MDbShutdown(&env);
    std::remove(file.hostPath.c_str());
  }
}

TEST(DatabaseNamesTest, NamesMapToFilesInTheDatabaseFolder) {
  EXPECT_EQ(DatabasePathForName(u"Sales"), u"\\My Documents\\Tabulon\\Sales.tbm");
  EXPECT_EQ(DatabasePathForName(u"Sales.old"), u"\\My Documents\\Tabulon\\Sales.tbm");
  EXPECT_EQ(DatabasePathForName(u"v1.2.backup"), u"\\My Documents\\Tabulon\\v1.2.tbm");
  EXPECT_EQ(DatabasePathForName(u"Caf\u00e9 orders"),
            u"\\My Documents\\Tabulon\\Caf\u00e9 orders.tbm");
}

TEST(DatabaseNamesTest, NamesThatWouldLeaveTheFolderHaveNoPath) {
  for (const char16_t* name : {u"", u".tbm", u"..", u"...x", u"..\\..\\secret", u"a/b",
                               u"/etc/passwd", u"c:x", u"tab\there"}) {
    EXPECT_FALSE(DatabasePathForName(name)) << Utf16ToUtf8(name);
  }
}

}  // namespace
}  // namespace tbm::sync
