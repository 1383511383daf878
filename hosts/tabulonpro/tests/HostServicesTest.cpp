// The host at work: "Tabulon Pro run" started as a process on a fresh
// desktop root with the test plug-in TBServiceProbe.tbx, which calls the
// host services and writes what it met to a report; the test reads the
// report and the databases afterwards.
#include <algorithm>
#include <sstream>

#include "Ddeml.h"
#include "HostSession.h"
#include "Machine.h"
#include "TabulonProTestSupport.h"
#include "WinUser.h"

namespace tbm::tabulonpro {
namespace {

using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::WriteWholeFile;

class HostServicesTest : public DesktopFixture {
 protected:
  void SetUp() override {
    Ok({"create", "Sales", "-", "--values", "Colours=Red|Green", "--date-order", "dmy",
        "--date-separator", ".", "--clock", "24", "--suffix-24", " h"},
       "Name,Qty:number,Born:date\n"
       "Caf\xc3\xa9,3,12.03.1980\n"
       "\"Two\nlines\",5,\n"
       "\xe4\xb8\xad\xe6\x96\x87,7,\n");
    Ok({"select", "Sales", "--positions", "3,1"});
    Ok({"create", "Stock", "-"}, "Item\nBolt\n");
    Ok({"flags", "Stock", "--offer", "off"});
  }

  std::string report_ = (folder_.path() / "report.txt").string();

  // The report's lines.
  std::vector<std::string> Report() {
    std::vector<std::string> lines;
    std::istringstream in(ReadWholeFile(report_));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_F(HostServicesTest, ThePlugInReadsAndChangesTheOpenDatabasesThroughTheServices) {
  // The dialogs need a display; the probe's return at once, so a display
  // nobody sees does.
  RunningHost host({"--plugin", ProbePath(), "--settings", "Stock", "--about"},
                   Env({{"QT_QPA_PLATFORM", "minimal"},
                        {"TB_PROBE_REPORT", report_},
                        {"TB_PROBE_CHANGE", "1"}}));
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;
  EXPECT_EQ(host.out, "Tabulon Pro is running with 2 databases (plug-in TBServiceProbe started)\n");

  // While it runs, other commands on its databases work and it sees them.
  const ProgramResult second = Run({"run", "--headless"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("Tabulon Pro is running already on this desktop (process " +
                            std::to_string(host.pid()) + ")"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(Ok({"set", "Stock", "1", "Item=Nut"}), "Changed record 1 (modification count 1).\n");

  EXPECT_EQ(host.Stop(), 0) << host.err;
  EXPECT_EQ(host.out.substr(host.out.find('\n') + 1), "Tabulon Pro has stopped.\n");
  EXPECT_EQ(host.err.find("Tabulon Pro:"), std::string::npos) << host.err;

  const std::vector<std::string> r = Report();
  ASSERT_GT(r.size(), 20u) << ReadWholeFile(report_);
  std::string identity[3];
  for (int i = 0; i < 3; ++i) {
    const std::string prefix = "db 0 record " + std::to_string(i + 1) + " ";
    const auto line = std::find_if(r.begin(), r.end(),
                                   [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    ASSERT_NE(line, r.end()) << prefix;
    identity[i] = line->substr(prefix.size(), 16);
  }
  const std::vector<std::string> expected = {
      "start version 13 services 13 edition 2 size 1",
      "databases 2",
      "db 0 name 'Sales' flags 00200208 other 0 records 3 current yes",
      "db 0 formats . 2000 : 00 ' AM' ' PM' ' h'",
      "db 0 field 0 key F1 by key 0 type 1 name 'Name'",
      "db 0 field 1 key F2 by key 1 type 2 name 'Qty'",
      "db 0 field 2 key F3 by key 2 type 3 name 'Born'",
      "db 0 list Colours 'Red\\rGreen\\r'",
      "db 0 all 3",
      // Text in Mac OS Roman with CR line breaks; a text that has no Mac OS
      // Roman form is refused and says why.
      "db 0 record 1 " + identity[0] + " count 0 'Caf\x8e' '3' '12.03.1980'",
      "db 0 record 2 " + identity[1] + " count 0 'Two\\rlines' '5' ''",
      "db 0 record 3 " + identity[2] +
          " count 0 error -3 Sales: the text of the field 'Name' in the record " + identity[2] +
          ": the character U+4E2D at character 1 cannot be written in Mac OS Roman '7' ''",
      "db 0 selected 2",
      "db 0 record 1 " + identity[2] +
          " count 0 error -3 Sales: the text of the field 'Name' in "
          "the record " +
          identity[2] +
          ": the character U+4E2D at character 1 cannot be written in Mac OS Roman '7' ''",
      "db 0 QZP1 error -2 Sales: there is no plug-in data under \"QZP1\"",
      "db 1 name 'Stock' flags 00000208 other 0 records 1 current no",
      "edit outside -6 write 0 during 'Zo\x91 Ann\\rsecond line' moving -1 commit 0 count 0 to 1",
      "plug-in data 5 probe",
      "refused no-database null go-to-0 -4 find -2 key -2 list -2 handle -4 commit -6",
      "settings Stock",
      "about",
      "stop",
  };
  for (const std::string& line : expected) EXPECT_TRUE(Has(r, line)) << line;
  EXPECT_EQ(r.back(), "stop");
  const auto created = std::find_if(
      r.begin(), r.end(), [](const std::string& l) { return l.rfind("created ", 0) == 0; });
  ASSERT_NE(created, r.end());
  EXPECT_NE(created->find(" count 1 'Made'"), std::string::npos) << *created;
  EXPECT_TRUE(Has(r, "deleted copy, records 4 count without record -5"));
  EXPECT_TRUE(Has(r, "found 0 " + identity[0] + " count 1 'Zo\x91 Ann\\rsecond line'"));

  // What the plug-in changed is in the database, in Unicode with LF.
  const std::string list = Ok({"list", "Sales", "--csv"});
  EXPECT_NE(list.find("1," + identity[0] + ",1,\"Zo\xc3\xab Ann\nsecond line\",3,12.03.1980"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find(",1,Made,,\n"), std::string::npos) << list;
  // The settings call wrote "QZP1" into the database the option named.
  EXPECT_NE(Ok({"schema", "Stock"}).find("\"QZP1\": 812 bytes"), std::string::npos);
  EXPECT_NE(ReadWholeFile(desktop_ / "log" / "TabulonPro.log").find("stopping on Terminated"),
            std::string::npos);
}

// A plug-in's record changes reach the file together: the other programs
// see none of them until the plug-in chooses a selection or its call is
// over, and then all of them.
TEST_F(HostServicesTest, APlugInsRecordChangesAreSavedTogetherBeforeASelectionIsChosen) {
  std::unique_ptr<DesktopDatabase> db;
  ASSERT_TRUE(DesktopDatabase::Open(DatabaseFile("Sales"), &db).ok());
  std::unique_ptr<DesktopDatabase> other;  // another program on the same file
  ASSERT_TRUE(DesktopDatabase::Open(DatabaseFile("Sales"), &other).ok());
  std::unique_ptr<HostTextForm> form;
  ASSERT_TRUE(HostTextForm::OpenSystem(&form).ok());
  HostSession session(std::move(form));
  session.Add(std::move(db));
  const TBHostServices& host = *session.Services();
  TBDatabase sales = host.database(0);
  auto write = [&](const std::string& text) {
    EXPECT_EQ(host.beginEdit(sales), TB_OK);
    EXPECT_EQ(host.writeFieldText(sales, 0, text.data(), static_cast<std::int32_t>(text.size())),
              TB_OK);
    EXPECT_EQ(host.commitEdit(sales), TB_OK) << host.lastError();
  };
  auto otherSees = [&] {
    std::vector<RecordInfo> records;
    EXPECT_TRUE(other->Records(&records).ok());
    std::string names;
    for (const RecordInfo& record : records) {
      std::string name;
      EXPECT_TRUE(other->ReadText(record.row, 1, &name).ok());
      names += name + "(" + std::to_string(record.modification) + ") ";
    }
    return names;
  };
  const std::string before = otherSees();
  EXPECT_EQ(before, "Caf\xc3\xa9(0) Two\nlines(0) \xe4\xb8\xad\xe6\x96\x87(0) ");

  ASSERT_EQ(host.chooseSelection(sales, TB_SELECTION_ALL), 3);
  ASSERT_EQ(host.goToRecord(sales, 1), TB_OK);
  write("First");
  ASSERT_EQ(host.createRecord(sales), TB_OK);
  write("Made");
  ASSERT_EQ(host.goToRecord(sales, 2), TB_OK);
  ASSERT_EQ(host.deleteRecord(sales), TB_OK);
  // The plug-in sees its changes at once; the other program none yet.
  ASSERT_EQ(host.goToRecord(sales, 1), TB_OK);
  char text[16] = {};
  EXPECT_EQ(host.readFieldText(sales, 0, text, sizeof text), 5);
  EXPECT_STREQ(text, "First");
  EXPECT_EQ(host.modificationCount(sales), 1);
  EXPECT_EQ(host.recordCount(sales), 3);
  EXPECT_EQ(otherSees(), before);

  // Choosing a selection saves them all.
  EXPECT_EQ(host.chooseSelection(sales, TB_SELECTION_ALL), 3);
  EXPECT_EQ(otherSees(), "First(1) \xe4\xb8\xad\xe6\x96\x87(0) Made(1) ");

  // So does the end of the host's call into the plug-in.
  ASSERT_EQ(host.goToRecord(sales, 3), TB_OK);
  write("Made again");
  EXPECT_EQ(otherSees(), "First(1) \xe4\xb8\xad\xe6\x96\x87(0) Made(1) ");
  EXPECT_TRUE(session.EndPluginCalls().ok());
  EXPECT_EQ(otherSees(), "First(1) \xe4\xb8\xad\xe6\x96\x87(0) Made again(2) ");
}

HDDEDATA NoCallbacks(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

TEST_F(HostServicesTest, WindowMessagesAndDdeRequestsAreAnsweredOnTheMainThreadFromTheEventLoop) {
  RunningHost host(
      {"--headless", "--plugin", ProbePath(), "Sales"},
      Env({{"TB_PROBE_REPORT", report_}, {"TB_PROBE_WINDOW", "1"}, {"TB_PROBE_DDE", "1"}}));
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;
  tbm::testing::ScopedEnvironment root("TBM_DESKTOP_ROOT", desktop_.c_str());
  SelectMachine(Machine::Desktop);
  const HWND probe = FindWindowW(u"TBServiceProbe", nullptr);
  ASSERT_NE(probe, nullptr);
  DWORD_PTR answer = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(SendMessageTimeoutW(probe, WM_APP, 0, 0, SMTO_NORMAL, 10000, &answer), 0);
    EXPECT_EQ(answer, 1003u);  // 3 records, on the thread that started the plug-in
  }

  DWORD client = 0;
  ASSERT_EQ(DdeInitializeA(&client, NoCallbacks, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
  const HSZ name = DdeCreateStringHandleA(client, "TBPROBE", CP_WINANSI);
  const HCONV conversation = DdeConnect(client, name, name, nullptr);
  ASSERT_NE(conversation, nullptr) << DdeGetLastError(client);
  for (int i = 0; i < 3; ++i) {
    const HDDEDATA data =
        DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_REQUEST, 10000, nullptr);
    ASSERT_NE(data, nullptr) << DdeGetLastError(client);
    char text[16] = {};
    DdeGetData(data, reinterpret_cast<BYTE*>(text), sizeof text - 1, 0);
    EXPECT_STREQ(text, "1003");
    DdeFreeDataHandle(data);
  }
  DdeDisconnect(conversation);
  DdeUninitialize(client);

  // A quit request in the main thread's queue ends the host as a signal does.
  ASSERT_NE(SendMessageTimeoutW(probe, WM_APP + 1, 0, 0, SMTO_NORMAL, 10000, &answer), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (IsWindow(probe) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(host.Stop(), 0);
  EXPECT_NE(host.out.find("Tabulon Pro has stopped."), std::string::npos);
  const std::vector<std::string> r = Report();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[r.size() - 2], "quit asked");
  EXPECT_EQ(r.back(), "stop");
  EXPECT_NE(ReadWholeFile(desktop_ / "log" / "TabulonPro.log")
                .find("stopping on a quit request in the message queue"),
            std::string::npos);
  SelectMachine(Machine::Handheld);
}

TEST_F(HostServicesTest, InAnEastAsianCodePageTextsTravelInItAndBadBytesAreRefused) {
  Ok({"create", "Japan", "-"}, "Name\n\xe6\x97\xa5\xe6\x9c\xac\n");
  RunningHost host(
      {"--headless", "--plugin", ProbePath(), "Japan"},
      Env({{"TB_PROBE_REPORT", report_}, {"TB_PROBE_CHANGE", "1"}, {"TBM_ANSI_CODE_PAGE", "932"}}));
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;
  EXPECT_EQ(host.Stop(), 0);
  const std::vector<std::string> r = Report();
  const auto record = std::find_if(
      r.begin(), r.end(), [](const std::string& l) { return l.rfind("db 0 record 1 ", 0) == 0; });
  ASSERT_NE(record, r.end());
  EXPECT_NE(record->find(" count 0 '\x93\xfa\x96\x7b'"), std::string::npos) << *record;
  // The probe's edit writes Mac OS Roman bytes, which are not Shift-JIS.
  const auto edit = std::find_if(r.begin(), r.end(),
                                 [](const std::string& l) { return l.rfind("edit ", 0) == 0; });
  ASSERT_NE(edit, r.end());
  EXPECT_NE(edit->find("write error -3 Japan: the text for the field 'Name': the byte 0x91 at "
                       "byte 3 is not valid in windows-932"),
            std::string::npos)
      << *edit;
  EXPECT_NE(edit->find("count 0 to 0"), std::string::npos) << *edit;
}

TEST_F(HostServicesTest, WithoutAWorkingPlugInTheHostSaysWhyAndRunsOn) {
  const std::string notAPlugin = (folder_.path() / "Notes.tbx").string();
  WriteWholeFile(notAPlugin, "not a library");
  struct Case {
    std::string plugin;
    Environment env;
    const char* says;
  };
  const Case cases[] = {
      {(folder_.path() / "Missing.tbx").string(), {}, "the plug-in Missing is not there"},
      {notAPlugin, {}, "cannot be loaded: it is damaged, made for another system"},
      {ProbePath(),
       {{"TB_PROBE_RESULT", "-2"}},
       "the plug-in TBServiceProbe could not load its resource library"},
      {ProbePath(), {{"TB_PROBE_RESULT", "-1"}}, "does not work with this Tabulon Pro"},
  };
  for (const Case& c : cases) {
    RunningHost host({"--headless", "--plugin", c.plugin, "Sales"}, Env(c.env));
    ASSERT_TRUE(host.WaitUntilReady()) << host.err;
    EXPECT_NE(host.out.find("with 1 database (plug-in "), std::string::npos) << host.out;
    EXPECT_NE(host.out.find(" not running)"), std::string::npos) << host.out;
    EXPECT_EQ(host.Stop(), 0);
    EXPECT_NE(host.err.find(c.says), std::string::npos) << host.err;
    EXPECT_NE(host.err.find("Tabulon Pro runs without it"), std::string::npos) << host.err;
  }
  // A database that cannot be opened is named when asked for, and the host
  // does not start.
  const ProgramResult missing = Run({"run", "--headless", "Nowhere"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Nowhere: there is no such database"), std::string::npos)
      << missing.err;
}

}  // namespace
}  // namespace tbm::tabulonpro
