// tbmdb run as a user runs it: real CSV files, real database files, the
// program's output, error lines and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "MDb.h"
#include "RunProgram.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::tbmdb {
namespace {

using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::ScratchFolder;
using tbm::testing::WriteWholeFile;
namespace stdfs = std::filesystem;

// Splits CSV output of tbmdb (which quotes per RFC 4180) into rows of values.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string value;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        value += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        value += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(value);
      value.clear();
    } else if (c == '\n') {
      row.push_back(value);
      value.clear();
      rows.push_back(row);
      row.clear();
    } else {
      value += c;
    }
  }
  return rows;
}

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class TbmdbTest : public ::testing::Test {
 protected:
  ProgramResult Run(const std::vector<std::string>& args, const std::string& input = {},
                    const char* progress = nullptr) {
    std::vector<std::pair<std::string, std::string>> env = {{"TBM_DEVICE_ROOT", device_.string()}};
    if (progress) env.emplace_back("TBM_PROGRESS", progress);
    return tbm::testing::RunProgram((tbm::testing::ProgramFolder() / "tbmdb").string(), args, input,
                                    env);
  }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (folder_.path() / name).string();
    WriteWholeFile(path, text);
    return path;
  }

  std::string Db(const std::string& name) const { return (folder_.path() / name).string(); }

  // Creates name from csv and expects success.
  void Create(const std::string& name, const std::string& csv,
              std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"create", Write(name + ".csv", csv), Db(name)};
    args.insert(args.end(), options.begin(), options.end());
    const ProgramResult r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The files of the scratch folder, hidden ones included.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::vector<std::string>> Csv(const std::vector<std::string>& args) {
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ParseCsv(r.out);
  }

  ScratchFolder folder_{"tbmdb"};
  stdfs::path device_ = folder_.path() / "device";
};

// A command, the exit status it must end with and what its error says.
struct Case2 {
  std::vector<std::string> args;
  int status;
  const char* what;
};

// A refused input: failure status, one error line that says where, and
// nothing written beside the CSV file.
void ExpectRefused(const ProgramResult& r, const std::string& where, const std::string& what) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}

const char kContacts[] =
    "Name:text,Company:text,Born:date,Orders:number,Call at:time,Notes:text\n"
    "José García,\"Smith, Jones & Co\",3/14/1987,12,9:30 AM,\n"
    "Zoë Müller,\"The \"\"Blue\"\" Door\",12/1/1999,7,2:15 PM,\"Call first\n"
    "then write\"\n"
    "山田 太郎,株式会社,"
    "1/5/1975,,,\n"
    "Иван Петров,,7/7/1960,300,"
    "11:00 AM,😀 emoji\n"
    "Νίκος,شركة,2/29/2004,-5,12:00 PM,"
    "\" spaced \"\n";

TEST_F(TbmdbTest, CsvRoundTripsThroughADatabase) {
  Create("contacts.tbm", kContacts);
  const ProgramResult exported = Run({"export", Db("contacts.tbm"), Db("out.csv")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(ReadWholeFile(Db("out.csv")), kContacts);

  const ProgramResult toStdout = Run({"export", Db("contacts.tbm"), "-"});
  EXPECT_EQ(toStdout.out, kContacts);
}

TEST_F(TbmdbTest, CreatesFromStandardInputAndCrLfFiles) {
  std::string crlf;
  for (const char c : std::string(kContacts)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  // Line breaks inside values become the handheld's CR LF and come back as
  // LF, so the export equals the LF form.
  const ProgramResult r = Run({"create", "-", Db("in.tbm")}, crlf);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Run({"export", Db("in.tbm"), "-"}).out, kContacts);
}

TEST_F(TbmdbTest, HandheldPathsLiveInTheDeviceRoot) {
  const ProgramResult r =
      Run({"create", Write("c.csv", kContacts), "\\My Documents\\Tabulon\\Contacts.tbm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(stdfs::is_regular_file(device_ / "My Documents" / "Tabulon" / "Contacts.tbm"));
  // The handheld's paths are case-blind.
  const ProgramResult list = Run({"list", "\\my documents\\tabulon\\contacts.tbm", "--csv"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(ParseCsv(list.out).size(), 6u);
}

TEST_F(TbmdbTest, RefusedInputsSayWhereAndLeaveNothingBehind) {
  struct Case {
    const char* csv;
    const char* where;
    const char* what;
  };
  const Case cases[] = {
      {"A:text,B:text\nx,\"open\ny,z\n", "line 2, column 3", "never closed"},
      {"A:text,B:text\nx,y\nab\"c,d\n", "line 3, column 3", "stray double quote"},
      {"A:text,B:text\nx,y\nx,y,z\n", "line 3, column 1", "has 3 values"},
      {"A:text,B:text\nx,y\nonly\n", "line 3, column 1", "has 1 values"},
      {"A:text,B:money\nx,y\n", "line 1, column 8", "unknown type 'money'"},
      {"A:text,a:number\nx,1\n", "line 1, column 8", "used twice"},
      {"A:text,\"two\nlines\"\nx,1\n", "line 1, column 8", "line break"},
      {"A:text,B:date\nx,2/30/2003\n", "line 2, column 3", "not a date"},
      {"A:text,B:time\nx,13:00 AM\n", "line 2, column 3", "not a time"},
      {"", "empty.csv", "the file is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csv);
    const std::string csv = Write("empty.csv", c.csv);
    ExpectRefused(Run({"create", csv, Db("out.tbm")}), c.where, c.what);
    EXPECT_EQ(Files(), std::vector<std::string>{"empty.csv"});
  }
}

TEST_F(TbmdbTest, NamesFitWhereTheyTravelToTheDesktop) {
  const std::string longest(63, 'n');
  ASSERT_EQ(Run({"create", Write("ok.csv", longest + "\nx\n"), Db("ok.tbm")}).status, 0);
  ExpectRefused(Run({"create", Write("long.csv", "A," + longest + "n\nx,y\n"), Db("x.tbm")}),
                "line 1, column 3", "63 characters");
  ExpectRefused(Run({"create", Db("ok.csv"), Db("y.tbm"), "--name", std::string(256, 'd')}),
                "y.tbm", "255 characters");
  EXPECT_FALSE(stdfs::exists(Db("x.tbm")));
  EXPECT_FALSE(stdfs::exists(Db("y.tbm")));
}

TEST_F(TbmdbTest, RefusesMoreThanFiftyFields) {
  std::string header;
  for (int f = 1; f <= 51; ++f) header += (f > 1 ? "," : "") + std::string("F") + std::to_string(f);
  ExpectRefused(Run({"create", Write("wide.csv", header + "\n"), Db("out.tbm")}),
                "wide.csv: line 1", "at most 50");
  EXPECT_EQ(Files(), std::vector<std::string>{"wide.csv"});
  // Fifty are fine.
  header = header.substr(0, header.rfind(','));
  ASSERT_EQ(Run({"create", Write("fifty.csv", header + "\n"), Db("ok.tbm")}).status, 0);
}

TEST_F(TbmdbTest, RefusesMoreThanFiveThousandRecords) {
  std::string csv = "Item:text,Qty:number\n";
  for (int r = 1; r <= 5001; ++r)
    csv += "item " + std::to_string(r) + "," + std::to_string(r) + "\n";
  ExpectRefused(Run({"create", Write("big.csv", csv), Db("out.tbm")}), "line 5002, column 1",
                "at most 5000");
  EXPECT_EQ(Files(), std::vector<std::string>{"big.csv"});
  // Without the last line the file makes a full database, and no progress
  // is written when standard error is not a terminal.
  csv = csv.substr(0, csv.rfind("item 5001"));
  const ProgramResult r = Run({"create", Write("full.csv", csv), Db("full.tbm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const ProgramResult add = Run({"add", Db("full.tbm"), "Item=one more"});
  EXPECT_EQ(add.status, 1);
  EXPECT_NE(add.err.find("5000"), std::string::npos) << add.err;
}

TEST_F(TbmdbTest, ProgressIsShownOnATerminalOnly) {
  std::string csv = "Item:text,Qty:number\n";
  for (int r = 1; r <= 3000; ++r)
    csv += "item " + std::to_string(r) + "," + std::to_string(r) + "\n";
  const std::string file = Write("items.csv", csv);
  // Standard error is a pipe here: nothing but results.
  ProgramResult r = Run({"create", file, Db("quiet.tbm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Run({"export", Db("quiet.tbm"), Db("quiet.csv")}).err, "");
  // Asked for, progress is drawn on one line and cleared at the end.
  r = Run({"create", file, Db("shown.tbm")}, {}, "always");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Creating " + Db("shown.tbm") + ": "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), std::string::npos);
  EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");
  r = Run({"export", Db("shown.tbm"), Db("shown.csv")}, {}, "always");
  EXPECT_NE(r.err.find("Exporting"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(Db("shown.csv")), csv);
}

TEST_F(TbmdbTest, RefusesAValueTooLongForItsField) {
  // With up to 20 fields a text holds 2048 characters; with 21, 1536.
  const std::string fits(2048, 'x');
  ASSERT_EQ(Run({"create", Write("ok.csv", "Note:text\n" + fits + "\n"), Db("ok.tbm")}).status, 0);
  ExpectRefused(
      Run({"create", Write("long.csv", "Note:text\nshort\n" + fits + "y\n"), Db("x.tbm")}),
      "line 3, column 1", "at most 2048");

  std::string header = "Note";
  std::string row = std::string(1537, 'x');
  for (int f = 2; f <= 21; ++f) {
    header += ",F" + std::to_string(f);
    row += ",";
  }
  ExpectRefused(Run({"create", Write("wide.csv", header + "\n" + row + "\n"), Db("y.tbm")}),
                "line 2, column 1", "at most 1536");
  // A number field holds 255 characters: the refused value's column is given.
  ExpectRefused(Run({"create", Write("num.csv", "A,N:number\na," + std::string(256, '1') + "\n"),
                     Db("z.tbm")}),
                "line 2, column 3", "at most 255");
  EXPECT_FALSE(stdfs::exists(Db("x.tbm")));
  EXPECT_FALSE(stdfs::exists(Db("y.tbm")));
  EXPECT_FALSE(stdfs::exists(Db("z.tbm")));
}

TEST_F(TbmdbTest, NeverReplacesWithoutBeingToldAndNeverReplacesOtherFiles) {
  Create("c.tbm", "A\nold\n");
  const ProgramResult again = Run({"create", Write("new.csv", "A\nnew\n"), Db("c.tbm")});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("--replace"), std::string::npos);
  EXPECT_EQ(ParseCsv(Run({"list", Db("c.tbm"), "--csv"}).out)[1][0], "old");

  ASSERT_EQ(Run({"create", Db("new.csv"), Db("c.tbm"), "--replace"}).status, 0);
  EXPECT_EQ(ParseCsv(Run({"list", Db("c.tbm"), "--csv"}).out)[1][0], "new");

  // A CSV file named as the target stays as it was.
  const ProgramResult other = Run({"create", Db("new.csv"), Db("new.csv"), "--replace"});
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(ReadWholeFile(Db("new.csv")), "A\nnew\n");
}

// Records with a city, a number and a date, made so that the expected
// results follow from the data alone.
struct Person {
  std::string name;
  std::string city;
  std::string orders;  // may be empty
  int year, month, day;
};

std::vector<Person> People() {
  const char* cities[] = {"Lyon",       "Paris", "Lyons Bay",       "Villeurbanne",
                          "Saint-Lyon", "Oslo",  "lyonnaise coast", "Kyoto"};
  std::vector<Person> people;
  for (int i = 0; i < 240; ++i) {
    Person p;
    p.name = "Person " + std::to_string(i);
    p.city = cities[(i * 5) % 8];
    p.orders = i % 17 == 0 ? "" : std::to_string((i * 37) % 500 - 40);
    p.year = 1940 + (i * 13) % 66;
    p.month = 1 + (i * 7) % 12;
    p.day = 1 + (i * 11) % 28;
    people.push_back(p);
  }
  return people;
}

std::string PeopleCsv() {
  std::string csv = "Name:text,City:text,Orders:number,Born:date\n";
  for (const Person& p : People()) {
    csv += p.name + "," + p.city + "," + p.orders + "," + std::to_string(p.month) + "/" +
           std::to_string(p.day) + "/" + std::to_string(p.year) + "\n";
  }
  return csv;
}

// Whether a word of text (words end at spaces and hyphens) starts with
// prefix, letters compared case-blind; the test data is plain ASCII.
bool WordStartsWith(const std::string& text, const std::string& prefix) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  for (std::size_t start = 0; start < lower.size();) {
    if (lower.compare(start, prefix.size(), prefix) == 0) return true;
    const std::size_t end = lower.find_first_of(" -", start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

TEST_F(TbmdbTest, FindMatchesWordPrefixesOfTheField) {
  Create("people.tbm", PeopleCsv());
  const auto rows = Csv({"list", Db("people.tbm"), "--find", "City", "lyon", "--csv"});
  std::vector<std::string> expected;
  for (const Person& p : People()) {
    if (WordStartsWith(p.city, "lyon")) expected.push_back(p.name);
  }
  ASSERT_EQ(rows.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(rows[i + 1][0], expected[i]);
  EXPECT_GT(expected.size(), 100u);
}

TEST_F(TbmdbTest, FindOnANumberFieldComparesTheValue) {
  Create("people.tbm", PeopleCsv());
  const auto rows = Csv({"list", Db("people.tbm"), "--find", "Orders", "0070", "--csv"});
  std::size_t expected = 0;
  for (const Person& p : People()) expected += p.orders == "70" ? 1 : 0;
  ASSERT_GT(expected, 0u);
  ASSERT_EQ(rows.size(), expected + 1);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i][2], "70");
}

TEST_F(TbmdbTest, SortOrdersNumbersAndDatesByValue) {
  Create("people.tbm", PeopleCsv());
  const auto ascending = Csv({"list", Db("people.tbm"), "--sort", "Orders", "--csv"});
  ASSERT_EQ(ascending.size(), 241u);
  std::vector<std::string> orders;
  for (const Person& p : People()) orders.push_back(p.orders);
  // Empty values do not convert and come first; numbers follow by value.
  std::stable_sort(orders.begin(), orders.end(), [](const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return a.empty() && !b.empty();
    return std::stoi(a) < std::stoi(b);
  });
  for (std::size_t i = 0; i < orders.size(); ++i) EXPECT_EQ(ascending[i + 1][2], orders[i]) << i;

  const auto byDate = Csv({"list", Db("people.tbm"), "--sort", "born", "--descending", "--csv"});
  ASSERT_EQ(byDate.size(), 241u);
  auto date = [](const std::string& text) {
    int m = 0, d = 0, y = 0;
    std::sscanf(text.c_str(), "%d/%d/%d", &m, &d, &y);
    return std::make_tuple(y, m, d);
  };
  for (std::size_t i = 2; i < byDate.size(); ++i) {
    EXPECT_GE(date(byDate[i - 1][3]), date(byDate[i][3])) << i;
  }
}

TEST_F(TbmdbTest, SortAppliesToTheFoundRecords) {
  Create("people.tbm", PeopleCsv());
  const auto rows =
      Csv({"list", Db("people.tbm"), "--find", "City", "oslo", "--sort", "Name", "--csv"});
  std::vector<std::string> expected;
  for (const Person& p : People()) {
    if (p.city == "Oslo") expected.push_back(p.name);
  }
  std::sort(expected.begin(), expected.end());  // plain ASCII: collation agrees with bytes
  ASSERT_EQ(rows.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(rows[i + 1][0], expected[i]);
}

TEST_F(TbmdbTest, ChangesShowInRecordStatesAndTheDeleteTable) {
  Create("c.tbm", kContacts);
  for (const auto& row : Csv({"records", Db("c.tbm"), "--csv"})) {
    if (row[0] != "#") {
      EXPECT_EQ(row[1], "0") << row[3];  // as the desktop has them
    }
  }
  ProgramResult r =
      Run({"add", Db("c.tbm"), "Name=New Person", "Born=3/4/2002", "Call at=1:00 PM"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Added record 6.\n");
  ASSERT_EQ(Run({"set", Db("c.tbm"), "2", "Orders=8"}).status, 0);
  ASSERT_EQ(Run({"delete", Db("c.tbm"), "1"}).status, 0);                 // tracked
  ASSERT_EQ(Run({"delete", Db("c.tbm"), "2", "--untracked"}).status, 0);  // was 3
  ASSERT_EQ(Run({"delete", Db("c.tbm"), "--find", "Name", "new", "1"}).status, 0);

  const auto records = Csv({"records", Db("c.tbm"), "--csv"});
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[1][3], "Zoë Müller");
  EXPECT_EQ(records[1][1], "1");  // modified
  EXPECT_EQ(records[1][6], "8");
  EXPECT_EQ(records[2][1], "0");
  EXPECT_EQ(records[3][1], "0");

  // Only the tracked deletion of a record the desktop knows is kept; the
  // added record leaves no trace.
  const auto deleted = Csv({"deleted", Db("c.tbm"), "--csv"});
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[1][1], "3");  // modified and deleted
  EXPECT_EQ(deleted[1][3], "José García");
  EXPECT_EQ(deleted[1][4], "Smith, Jones & Co");
}

TEST_F(TbmdbTest, AddedRecordsStartAsAddedAndModified) {
  Create("c.tbm", kContacts);
  ASSERT_EQ(Run({"add", Db("c.tbm"), "Notes=two\nlines"}).status, 0);
  const auto records = Csv({"records", Db("c.tbm"), "--csv"});
  ASSERT_EQ(records.size(), 7u);
  EXPECT_EQ(records[6][1], "5");
  EXPECT_EQ(records[6][2], "00000000000000000000");
  EXPECT_EQ(records[6][8], "two\nlines");
}

TEST_F(TbmdbTest, RefusedChangesChangeNothing) {
  Create("c.tbm", kContacts);
  const std::string before = Run({"records", Db("c.tbm"), "--csv"}).out;
  struct Case {
    std::vector<std::string> args;
    const char* what;
  };
  const Case cases[] = {
      {{"set", Db("c.tbm"), "1", "Born=2/30/2003"}, "not a date"},
      {{"set", Db("c.tbm"), "1", "Born=3/4\n2003"}, "'3/4\\n2003' is not a date"},
      {{"set", Db("c.tbm"), "1", "Call at=25:00 AM"}, "not a time"},
      {{"set", Db("c.tbm"), "1", "Orders=" + std::string(256, '9')}, "at most 255"},
      {{"set", Db("c.tbm"), "9", "Orders=1"}, "no record 9"},
      {{"set", Db("c.tbm"), "1", "Shoe size=9"}, "no field 'Shoe size'"},
      {{"set", Db("c.tbm"), "1", "Orders=1", "Born=1/1/1900x"}, "not a date"},
      {{"add", Db("c.tbm"), "Orders=1", "orders=2"}, "given twice"},
      {{"add", Db("c.tbm"), "Name"}, "Field=value"},
      {{"delete", Db("c.tbm"), "0"}, "no record 0"},
      {{"delete", Db("c.tbm"), "--find", "Name", "nobody", "1"}, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProgramResult r = Run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.what), std::string::npos) << r.err;
  }
  EXPECT_EQ(Run({"records", Db("c.tbm"), "--csv"}).out, before);
  EXPECT_EQ(Run({"deleted", Db("c.tbm"), "--csv"}).out,
            "#,State,Identity,Name,Company,Born,Orders,Call at,Notes\n");
}

TEST_F(TbmdbTest, SchemaShowsFormatsStylesAndValueLists) {
  Create("c.tbm", "Name,Born:date,Start:time,Kind,Active\n",
         {"--name",
          "Staff list",
          "--date-order",
          "dmy",
          "--date-separator",
          ".",
          "--two-digit-month",
          "--two-digit-day",
          "--clock",
          "24",
          "--suffix-24",
          " h",
          "--leading-zero",
          "--style",
          "Kind=list",
          "--values",
          "Kind=Customer|-|Supplier",
          "--style",
          "active=checkbox",
          "--values",
          "Active=Yes",
          "--locked",
          "Name",
          "--capitalise",
          "Name"});
  const ProgramResult r = Run({"schema", Db("c.tbm")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* expected :
       {"Staff list", "day/month/year, as 04.03.2002", "24-hour clock, as 09:05 h and 14:30 h",
        "checkbox", "locked, capitalise", "Value list 1: Customer | - | Supplier",
        "Value list 2: Yes", "Attributes:   0, 0, 3584, 196609",
        "Display order: Name, Born, Start, Kind, Active"}) {
    EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
  }
  // Dates are checked in the database's own format.
  EXPECT_EQ(Run({"add", Db("c.tbm"), "Born=31.12.1999", "Start=23:15 h"}).status, 0);
  EXPECT_EQ(Run({"add", Db("c.tbm"), "Born=12/31/1999"}).status, 1);
}

TEST_F(TbmdbTest, CheckReportsAGoodADamagedAndAnInconsistentDatabase) {
  Create("c.tbm", kContacts);
  ProgramResult r = Run({"check", Db("c.tbm")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("6 fields, 5 records"), std::string::npos) << r.out;

  // Damaged: the file cut short.
  const std::string whole = ReadWholeFile(Db("c.tbm"));
  WriteWholeFile(Db("cut.tbm"), whole.substr(0, 1500));
  r = Run({"check", Db("cut.tbm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1);
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(Db("cut.tbm")), whole.substr(0, 1500));

  // Inconsistent: a rebuild that never finished.
  MDbEnv env;
  MDbEnvInitialize(&env);
  ASSERT_EQ(MDbInit(&env, 0), MDbErrNone);
  ASSERT_EQ(MDbOpen(&env, Utf8ToUtf16(Db("c.tbm")).c_str(), &env.ref), MDbErrNone);
  ASSERT_EQ(MDbWriteChecksome(&env, &env.ref, 0), MDbErrNone);
  ASSERT_EQ(MDbClose(&env, &env.ref), MDbErrNone);
  MDbShutdown(&env);
  r = Run({"check", Db("c.tbm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("inconsistent"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"list", Db("c.tbm")}).status, 1);

  r = Run({"check", Db("missing.tbm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no such database file"), std::string::npos) << r.err;
}

TEST_F(TbmdbTest, ListShowsAnAlignedTableOfChosenFields) {
  Create("c.tbm", kContacts);
  const ProgramResult r = Run({"list", Db("c.tbm"), "--fields", "Name,Orders"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0].substr(0, 7), "#  Name");
  EXPECT_EQ(lines.back(), "5 records");
  EXPECT_EQ(lines[2].find("Company"), std::string::npos);

  const ProgramResult first = Run({"list", Db("c.tbm"), "--limit", "2", "--sort", "Born"});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Lines(first.out), 5);
  EXPECT_NE(first.out.find("Иван Петров"), std::string::npos);
  EXPECT_NE(first.out.find("2 of 5 records"), std::string::npos);
}

TEST_F(TbmdbTest, UsageErrorsExitWithTwo) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"list"},
                                             {"frobnicate", "x"},
                                             {"list", Db("c.tbm"), "--find", "Name"},
                                             {"create", "a.csv", "b.tbm", "--clock", "13"}}) {
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
  }
}

TEST_F(TbmdbTest, ANulCharacterOrAUtf16FileIsRefusedInWords) {
  ExpectRefused(Run({"create", Write("nul.csv", std::string("Name,Note\nAnn,\"x\0y\"\n", 20)),
                     Db("out.tbm")}),
                "nul.csv: line 2, column 7", "NUL character");
  // In a header the message is whole, not cut at the NUL.
  ExpectRefused(Run({"create", Write("nul.csv", std::string("Na\0me\nx\n", 8)), Db("out.tbm")}),
                "line 1, column 3", "remove it from the file");
  std::string utf16;
  for (const char c : std::string("Name:text,Qty:number\nAnn,3\n")) utf16 += std::string{c, '\0'};
  ExpectRefused(Run({"create", Write("nul.csv", utf16), Db("out.tbm")}), "line 1, column 1",
                "UTF-16");
  EXPECT_EQ(Files(), std::vector<std::string>{"nul.csv"});
}

TEST_F(TbmdbTest, ExportWritesIntoAFifoAndThroughSymbolicLinks) {
  Create("c.tbm", kContacts);
  const std::string fifo = Db("reader.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opened without waiting for a writer: a program that never writes into
  // it leaves it empty, and the test does not hang.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const ProgramResult r = Run({"export", Db("c.tbm"), fifo});
  std::string received;
  char buffer[4096];
  for (ssize_t got; (got = ::read(reader, buffer, sizeof buffer)) > 0;) {
    received.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(reader);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(received, kContacts);
  EXPECT_TRUE(stdfs::is_fifo(fifo));

  // Through a link the file it names is written, keeping its permissions,
  // and the link stays; a link to nothing yet makes the file it names.
  WriteWholeFile(Db("real.csv"), "old\n");
  ::chmod(Db("real.csv").c_str(), 0640);
  stdfs::create_symlink("real.csv", Db("link.csv"));
  stdfs::create_symlink("made.csv", Db("dangling.csv"));
  ASSERT_EQ(Run({"export", Db("c.tbm"), Db("link.csv")}).status, 0);
  ASSERT_EQ(Run({"export", Db("c.tbm"), Db("dangling.csv")}).status, 0);
  EXPECT_TRUE(stdfs::is_symlink(Db("link.csv")));
  EXPECT_EQ(ReadWholeFile(Db("real.csv")), kContacts);
  EXPECT_EQ(stdfs::status(Db("real.csv")).permissions(),
            stdfs::perms::owner_read | stdfs::perms::owner_write | stdfs::perms::group_read);
  EXPECT_TRUE(stdfs::is_symlink(Db("dangling.csv")));
  EXPECT_EQ(ReadWholeFile(Db("made.csv")), kContacts);

  // A device is written, never replaced.
  EXPECT_EQ(Run({"export", Db("c.tbm"), "/dev/null"}).status, 0);
  EXPECT_TRUE(stdfs::is_character_file("/dev/null"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"c.tbm", "c.tbm.csv", "dangling.csv", "link.csv",
                                               "made.csv", "reader.fifo", "real.csv"}));
}

TEST_F(TbmdbTest, NumbersThatSortOtherwiseThanTheyLookAreToldButKept) {
  const ProgramResult r = Run({"create",
                               Write("n.csv",
                                     "Item:text,Qty:number,Price:number\nbolts,1e5,2\nnuts,15,1.5\n"
                                     "washers,\"1,234\",abc\nscrews,-7,0x10\nglue,,3.00\n"),
                               Db("m.tbm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.err), 2) << r.err;
  EXPECT_NE(r.err.find("number field 'Qty': 1 value will not sort or find as the number it looks "
                       "like: '1e5' (line 2) sorts and finds as 15"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("number field 'Price': 3 values will not sort or find as the numbers they "
                       "look like; the first, '1.5' (line 3), sorts and finds as 1"),
            std::string::npos)
      << r.err;
  // What the warning says is what happens.
  const auto found = Csv({"list", Db("m.tbm"), "--find", "Qty", "15", "--csv"});
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[1][1], "1e5");
  EXPECT_EQ(found[2][1], "15");

  const ProgramResult odd = Run({"add", Db("m.tbm"), "Item=tape", "Qty=12abc"});
  EXPECT_EQ(odd.status, 0) << odd.err;
  EXPECT_NE(odd.err.find("'12abc' sorts and finds as 12"), std::string::npos) << odd.err;
  const ProgramResult plain = Run({"add", Db("m.tbm"), "Item=tape", "Qty=1,200", "Price=-3"});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
}

// Starts tbmdb with args (and the device root) without waiting for it.
pid_t Start(const std::vector<std::string>& args, const std::string& device) {
  std::vector<std::string> text = {(tbm::testing::ProgramFolder() / "tbmdb").string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::setenv("TBM_DEVICE_ROOT", device.c_str(), 1);
  pid_t pid = -1;
  ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  return pid;
}

TEST_F(TbmdbTest, InterruptedOrKilledCreationsLeaveNoTemporaries) {
  // Leftovers of a creation and an export that were killed: their process
  // is gone, so the next run on the same target removes them.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone);
  for (const std::string& name : {".c.tbm.creating-" + dead, ".c.tbm.creating-" + dead + "-wal",
                                  ".c.tbm.creating-" + dead + "-shm", ".c.csv.writing-" + dead}) {
    WriteWholeFile(Db(name), "left over");
  }
  Create("c.tbm", kContacts);
  ASSERT_EQ(Run({"export", Db("c.tbm"), Db("c.csv")}).status, 0);
  EXPECT_EQ(Files(), (std::vector<std::string>{"c.csv", "c.tbm", "c.tbm.csv"}));

  // Interrupted while it reads its input: the half-built volume and its
  // journal files go with the process, which ends by the signal.
  const std::string fifo = Db("slow.csv");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const pid_t pid = Start({"create", fifo, Db("big.tbm")}, device_.string());
  ASSERT_GT(pid, 0);
  // Waits for tbmdb to open its input, and then for it to have written
  // part of the volume; the input stays open, so it waits for more.
  int input = -1;
  for (int tries = 0; tries < 3000 && input < 0; ++tries) {
    input = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (input < 0) ::usleep(10000);
  }
  std::string rows = "Item:text,Qty:number\n";
  for (int r = 0; rows.size() < 100000; ++r) rows += "item " + std::to_string(r) + ",1\n";
  if (input >= 0) {
    ::fcntl(input, F_SETFL, 0);
    EXPECT_EQ(::write(input, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
  }
  const std::string journal = ".big.tbm.creating-" + std::to_string(pid) + "-wal";
  for (int tries = 0; tries < 3000 && !stdfs::exists(Db(journal)); ++tries) ::usleep(10000);
  EXPECT_TRUE(stdfs::exists(Db(journal)));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(input);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_EQ(Files(), (std::vector<std::string>{"c.csv", "c.tbm", "c.tbm.csv", "slow.csv"}));
}

TEST_F(TbmdbTest, ExportAndCreateLikeRebuildTheSameDatabase) {
  const std::vector<std::string> settings = {"--name",           "Staff list",
                                             "--date-order",     "ymd",
                                             "--date-separator", "-",
                                             "--clock",          "24",
                                             "--style",          "Kind=list",
                                             "--values",         "Kind=Customer|-|Supplier",
                                             "--style",          "Active=checkbox",
                                             "--values",         "Active=Yes",
                                             "--locked",         "Name",
                                             "--capitalise",     "Name"};
  Create("staff.tbm",
         "Name,Born:date,Start:time,Kind,Active\nAnn,1987-3-14,9:30,Customer,Yes\n"
         "Bob,2002-12-1,17:05,Supplier,\n",
         settings);
  ASSERT_EQ(Run({"export", Db("staff.tbm"), Db("staff.csv")}).status, 0);
  // Without the settings, the dates are refused; with them taken from the
  // database, all is as it was.
  EXPECT_EQ(Run({"create", Db("staff.csv"), Db("plain.tbm")}).status, 1);
  const ProgramResult r =
      Run({"create", Db("staff.csv"), Db("copy.tbm"), "--like", Db("staff.tbm")});
  ASSERT_EQ(r.status, 0) << r.err;
  auto schema = [&](const std::string& db) {
    std::string text = Run({"schema", Db(db)}).out;
    const std::size_t file = text.find("File:");
    return text.erase(file, text.find('\n', file) - file);
  };
  EXPECT_EQ(schema("copy.tbm"), schema("staff.tbm"));
  EXPECT_NE(schema("copy.tbm").find("Staff list"), std::string::npos);
  EXPECT_EQ(Run({"records", Db("copy.tbm"), "--csv"}).out,
            Run({"records", Db("staff.tbm"), "--csv"}).out);
  // The settings come from the model alone.
  EXPECT_EQ(
      Run({"create", Db("staff.csv"), Db("x.tbm"), "--like", Db("staff.tbm"), "--clock", "12"})
          .status,
      2);
}

TEST_F(TbmdbTest, OptionsThatMakeADatabaseRefuseItsOwnValuesAreRefused) {
  const std::string csv = Write("k.csv", "Name,Kind\nAnn,Tools\n");
  const std::string tooLong = "Kind=" + std::string(20000, 'a') + "|" + std::string(20000, 'b');
  struct Case {
    std::vector<std::string> args;
    const char* what;
  };
  const Case cases[] = {
      {{"create", csv, Db("o.tbm"), "--date-separator", "0"}, "cannot be a digit"},
      {{"create", csv, Db("o.tbm"), "--am", "h", "--pm", " H"}, "--am and --pm must differ"},
      {{"create", csv, Db("o.tbm"), "--style", "Kind=list"}, "needs the items of its list"},
      {{"create", csv, Db("o.tbm"), "--values", tooLong}, "holds at most 32735"},
      {{"create", Write("s.csv", "Name\xE2\x80\xA8Two\nx\n"), Db("o.tbm")}, "name is one line"},
      {{"create", Write("n.csv", "Name\xC2\x85Two\nx\n"), Db("o.tbm")}, "Name\\u0085Two"},
      {{"create", Write("b.csv", "\xEF\xBB\xBF\xEF\xBB\xBFName\nx\n"), Db("o.tbm")},
       "byte order mark"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRefused(Run(c.args), "", c.what);
  }
  EXPECT_FALSE(stdfs::exists(Db("o.tbm")));

  // A name with a comma is still one that --fields can select.
  Create("c.tbm", "\"Smith, Jones\",Qty:number,Kind\nAnn,3,x\n");
  EXPECT_EQ(Csv({"list", Db("c.tbm"), "--fields", "Qty,Smith, Jones", "--csv"}),
            (std::vector<std::vector<std::string>>{{"Qty", "Smith, Jones"}, {"3", "Ann"}}));
  // An add without values is a mistake, not an empty record.
  const ProgramResult empty = Run({"add", Db("c.tbm")});
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find("at least one FIELD=VALUE"), std::string::npos) << empty.err;
  EXPECT_EQ(Csv({"list", Db("c.tbm"), "--csv"}).size(), 2u);
}

TEST_F(TbmdbTest, MessagesNameTheRealCauseAndTheRealLimit) {
  Create("c.tbm", kContacts);
  const Case2 cases[] = {
      {{"add", Db("c.tbm"), "Born=1/1/3001"}, 1, "years go from 1 to 3000"},
      {{"add", Db("c.tbm"), "Notes=" + std::string(2000, 'x') + std::string(30, '\n')},
       1,
       "the value has 2030 characters, which take 2060 places; the field holds at most 2048 (a "
       "line break takes 2"},
      {{"list", Db("c.tbm"), "--limit", "0"}, 2, "1 or more, not '0'"},
      {{"frobnicate", Db("c.tbm")}, 2, "'frobnicate' is not a command; the commands are create"},
      {{"create", Db("c.tbm.csv"), Db(std::string(252, 'n'))}, 1, "may have at most 251"},
      {{"create", Db("c.tbm.csv"), "\\My Documents\\" + std::string(250, 'n')},
       1,
       "a handheld path has at most 259"},
  };
  for (const Case2& c : cases) {
    SCOPED_TRACE(c.what);
    const ProgramResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.what), std::string::npos) << r.err;
  }
  // A long name whose temporary name would not fit is fine.
  ASSERT_EQ(Run({"create", Db("c.tbm.csv"), Db(std::string(251, 'n'))}).status, 0);
  EXPECT_EQ(Run({"--version"}).out, "tbmdb (Tabulon Mobile) " TBM_VERSION "\n");

  // A device root that cannot be made, and a link out of it.
  device_ = folder_.path() / "c.tbm" / "device";
  ProgramResult r = Run({"create", Db("c.tbm.csv"), "\\My Documents\\x.tbm"});
  EXPECT_NE(
      r.err.find("the device root " + device_.string() + " cannot be used: it cannot be made"),
      std::string::npos)
      << r.err;
  device_ = folder_.path() / "device";
  stdfs::create_directories(device_);
  stdfs::create_symlink(folder_.path(), device_ / "out");
  r = Run({"create", Db("c.tbm.csv"), "\\out\\x.tbm"});
  EXPECT_NE(r.err.find("leads out of the device root"), std::string::npos) << r.err;
}

TEST_F(TbmdbTest, ListShowsControlCharactersEscapedAndCsvKeepsThem) {
  Create("c.tbm", "Name,Note\n");
  ASSERT_EQ(Run({"add", Db("c.tbm"), "Name=\x1b[2J\x1b[31mred", "Note=bell\a\ttab"}).status, 0);
  const ProgramResult table = Run({"list", Db("c.tbm")});
  EXPECT_NE(table.out.find("\\x1b[2J\\x1b[31mred  bell\\x07\\ttab"), std::string::npos)
      << table.out;
  EXPECT_EQ(table.out.find_first_of("\x1b\a\t"), std::string::npos);
  EXPECT_EQ(Csv({"list", Db("c.tbm"), "--csv"})[1],
            (std::vector<std::string>{"\x1b[2J\x1b[31mred", "bell\a\ttab"}));
}

}  // namespace
}  // namespace tbm::tbmdb
