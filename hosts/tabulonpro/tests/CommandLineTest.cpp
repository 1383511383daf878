// "Tabulon Pro" run as a person runs it, on a fresh desktop root: real CSV
// files, real database files, its output, errors and exit status.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "DesktopDatabase.h"
#include "SyncSettings.h"
#include "TabulonProTestSupport.h"

namespace tbm::tabulonpro {
namespace {

using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;
using tbm::testing::WriteWholeFile;
namespace stdfs = std::filesystem;

constexpr const char* kStock =
    "Name:text,Qty:number,Born:date,Colour\n"
    "Anna,3,12.03.1980,Red\n"
    "\"Caf\xc3\xa9 \"\"Zo\xc3\xab\"\"\",12,01.01.1975,Green\n"
    "Bob,,,\n";

// CSV output split into rows of values (quotes as RFC 4180 has them).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string value;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      value += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      rows.back().push_back(std::move(value));
      value.clear();
    } else if (!quoted && c == '\n') {
      rows.back().push_back(std::move(value));
      value.clear();
      rows.emplace_back();
    } else {
      value += c;
    }
  }
  rows.pop_back();
  return rows;
}

// Makes a file holding an SQLite database changed by sql.
void SqliteFile(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

class CommandLineTest : public DesktopFixture {
 protected:
  void CreateStock() {
    Ok({"create", "Stock", "-", "--values", "Colours=Red|Green|Blue", "--date-order", "dmy",
        "--date-separator", "."},
       kStock);
  }
  std::vector<std::vector<std::string>> Records(const std::string& name) {
    return ParseCsv(Ok({"list", name, "--csv"}));
  }
  std::string PluginData(const std::string& name, std::uint32_t key) {
    std::unique_ptr<DesktopDatabase> db;
    EXPECT_TRUE(DesktopDatabase::Open(DatabaseFile(name), &db).ok());
    std::string data;
    if (db) {
      EXPECT_TRUE(db->ReadPluginData(key, &data).ok());
    }
    return data;
  }
};

TEST_F(CommandLineTest, CreatedRecordsAreListedAndEveryEditRaisesTheirCount) {
  ASSERT_EQ(Run({"create", "Stock", "-", "--values", "Colours=Red|Green|Blue", "--date-order",
                 "dmy", "--date-separator", "."},
                kStock)
                .out,
            "Created Stock with 4 fields and 3 records.\n");
  std::vector<std::vector<std::string>> rows = Records("Stock");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"#", "Identity", "Changes", "Name", "Qty", "Born",
                                               "Colour"}));
  EXPECT_EQ(rows[2][3], "Caf\xc3\xa9 \"Zo\xc3\xab\"");
  EXPECT_EQ(rows[3], (std::vector<std::string>{"3", rows[3][1], "0", "Bob", "", "", ""}));
  // Identities: counted strings of 7 bytes, the database's stamp, then a
  // counter.
  EXPECT_EQ(rows[1][1].substr(0, 2), "07");
  EXPECT_EQ(rows[1][1].substr(0, 8), rows[2][1].substr(0, 8));
  EXPECT_EQ(rows[1][1].substr(8), "00000001");
  EXPECT_EQ(rows[3][1].substr(8), "00000003");

  EXPECT_EQ(Ok({"set", "Stock", "2", "Qty=13"}), "Changed record 2 (modification count 1).\n");
  EXPECT_EQ(Ok({"set", "Stock", "2", "name=Line one\r\nLine two", "Qty=14"}),
            "Changed record 2 (modification count 2).\n");
  EXPECT_NE(Ok({"add", "Stock", "Name=Dora", "Colour=Blue"}).find("Added record 4"),
            std::string::npos);
  EXPECT_EQ(Ok({"delete", "Stock", "1"}), "Deleted record 1 (identity " + rows[1][1] + ").\n");

  const std::vector<std::vector<std::string>> after = Records("Stock");
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[1], (std::vector<std::string>{"1", rows[2][1], "2", "Line one\nLine two", "14",
                                                "01.01.1975", "Green"}));
  EXPECT_EQ(after[3][1].substr(8), "00000004");  // a deleted record's identity is not made again
  EXPECT_EQ(after[3][2], "0");

  // The count wraps from 65535 to 0.
  SqliteFile(DatabaseFile("Stock"), "UPDATE records SET modification = 65535 WHERE id = 3");
  EXPECT_EQ(Ok({"set", "Stock", "2", "Qty=15"}), "Changed record 2 (modification count 0).\n");

  EXPECT_EQ(Ok({"select", "Stock", "--find", "colour", "BL"}), "1 record selected in Stock.\n");
  const std::string selected = Ok({"list", "Stock", "--selected"});
  EXPECT_NE(selected.find("Dora"), std::string::npos);
  EXPECT_EQ(selected.find("Bob"), std::string::npos);
  EXPECT_NE(selected.find("1 record selected."), std::string::npos);

  const std::string schema = Ok({"schema", "Stock"});
  for (const char* part :
       {"Records: 3 (1 selected)", "F1   Name    text", "F2   Qty     number", "F3   Born    date",
        "Colours: Red | Green | Blue", "dates day/month/year with '.'",
        "offered to the handheld, may be synchronised, settings may be changed (flags "
        "0x00200208)"}) {
    EXPECT_NE(schema.find(part), std::string::npos) << part << "\n" << schema;
  }
  Ok({"create", "Empty", "-"}, "Name\n");
  const std::string databases = Ok({"databases"});
  EXPECT_NE(databases.find("Empty           0"), std::string::npos) << databases;
  EXPECT_NE(databases.find("Stock           3"), std::string::npos) << databases;
}

TEST_F(CommandLineTest, FlagsAndHandheldSettingsAreKeptAsThePlugInReadsThem) {
  CreateStock();
  EXPECT_EQ(Ok({"flags", "Stock", "--sync", "off"}),
            "Stock: offered to the handheld, settings may be changed (flags 0x00200008)\n");
  EXPECT_NE(Ok({"handheld", "Stock"}).find("no settings for the handheld yet"), std::string::npos);
  Ok({"values", "Stock", "Cols", "Red", "Green"});
  const std::string shown =
      Ok({"handheld", "Stock", "--fields", "Colour,F1", "--selection", "current", "--conflict",
          "desktop-wins", "--style", "Colour=list", "--list", "Colour=Cols", "--locked", "Name",
          "--capitalise", "Name"});
  EXPECT_NE(shown.find("Stock for the handheld: the current selection; conflicts: the desktop "
                       "wins"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("F4   Colour  list   Cols"), std::string::npos) << shown;
  EXPECT_NE(shown.find("F1   Name    edit               locked, capitalised"), std::string::npos)
      << shown;

  std::string qzp1(812, '\0');
  qzp1.replace(0, 12, std::string("\0\2\0\0\0\0\0\0\0\3\0\2", 12));
  qzp1.replace(12, 3, "\2F4");
  qzp1.replace(28, 3, "\2F1");
  EXPECT_EQ(PluginData("Stock", sync::kSyncSettingsKey), qzp1);
  std::string qzp2(6 + 2 * 90, '\0');
  qzp2.replace(0, 6, std::string("\0\1\0\0\0\2", 6));
  qzp2.replace(6, 4, std::string("\0\0\0\1", 4));
  qzp2.replace(6 + 68, 3, "\2F4");
  qzp2.replace(6 + 84, 5, "\4Cols");
  qzp2.replace(96, 4, std::string("\0\3\0\0", 4));
  qzp2.replace(96 + 68, 3, "\2F1");
  EXPECT_EQ(PluginData("Stock", sync::kFieldSettingsKey), qzp2);

  // A removed field's key leaves the handheld's fields and is not made again.
  Ok({"field", "Stock", "--remove", "Colour"});
  EXPECT_EQ(Ok({"field", "Stock", "--add", "Colour:text"}),
            "Added the field Colour (text, key F5).\n");
  // Nor do its texts come back with the new field.
  for (const auto& row : Records("Stock")) EXPECT_NE(row.back(), "Red");
  EXPECT_EQ(Records("Stock")[1].back(), "");
  const std::string after = Ok({"handheld", "Stock"});
  EXPECT_EQ(after.find("F4"), std::string::npos) << after;
  EXPECT_EQ(after.find("F5"), std::string::npos) << after;
  EXPECT_NE(after.find("F1   Name"), std::string::npos) << after;

  Ok({"flags", "Stock", "--settings-locked", "on"});
  const ProgramResult locked = Run({"handheld", "Stock", "--fields", "Name"});
  EXPECT_EQ(locked.status, 1);
  EXPECT_NE(locked.err.find("its synchronisation settings may not be changed"), std::string::npos)
      << locked.err;
}

TEST_F(CommandLineTest, BadInputIsRefusedInWordsAndTheDatabaseIsLeftWhole) {
  CreateStock();
  const std::string before = Ok({"list", "Stock", "--csv"});
  const std::string badType = (folder_.path() / "bad-type.csv").string();
  WriteWholeFile(badType, "Name:text,Colour:colour\nAnna,Red\n");
  const std::string longRow = (folder_.path() / "long-row.csv").string();
  WriteWholeFile(longRow, "Name,Qty\nAnna,3,extra\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"frobnicate"}, 2, "'frobnicate' is not a command"},
      {{"list", "Nowhere"}, 1, "Nowhere: there is no such database in"},
      {{"create", "Stock", badType}, 1, "exists already"},
      {{"create", "Other", badType}, 1, "line 1, column 11: unknown type 'colour'"},
      {{"create", "Other", longRow}, 1, "line 2, column 8: the row has 3 values"},
      {{"create", ".Hidden", longRow}, 1, "starts with '.'"},
      {{"set", "Stock", "9", "Name=X"}, 1, "there is no record 9; the database has 3 records"},
      {{"set", "Stock", "1", "Nope=X"}, 1, "there is no field 'Nope'; the fields are Name, Qty"},
      {{"add", "Stock", "Name"}, 1, "'Name' is not FIELD=VALUE"},
      {{"handheld", "Stock", "--style", "Name=list"}, 1, "give the fields with --fields"},
      {{"handheld", "Stock", "--fields", "Name", "--style", "Name=list"},
       1,
       "give --list Name=LIST"},
      {{"handheld", "Stock", "--fields", "Name", "--style", "Name=combo", "--list", "Name=Colours"},
       1,
       "in at most 5 bytes; 'Colours' takes 7"},
      {{"handheld", "Stock", "--fields", "Name", "--locked", "Qty"},
       1,
       "--locked Qty: the field is not among those given with --fields"},
      {{"formats", "Stock", "--date-separator", "1"}, 1, "cannot be a digit"},
      {{"field", "Stock", "--add", "name:text"}, 1, "there is a field named 'Name' already"},
      {{"select", "Stock"}, 1, "say which records to select"},
      {{"values", "Stock", "Nope", "--remove"}, 1, "there is no value list named 'Nope'"},
      {{"flags", "Stock", "--sync", "maybe"}, 2, "--sync"},
      // A modal dialog nobody could close would hold the host for good.
      {{"run", "--headless", "--settings", "Stock"},
       2,
       "--settings needs a display: run Tabulon Pro without --headless"},
      {{"run", "--about"}, 2, "--about needs a display, and there is none here"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args[0] << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_EQ(Ok({"list", "Stock", "--csv"}), before);
  EXPECT_FALSE(stdfs::exists(DatabaseFile("Other")));
}

TEST_F(CommandLineTest, FilesThatAreNotDatabasesAreRefusedAsWhatTheyAreAndLeftAlone) {
  CreateStock();
  const std::string stock = ReadWholeFile(DatabaseFile("Stock"));
  WriteWholeFile(DatabaseFile("Notes"), "shopping: milk, bread\n");
  SqliteFile(DatabaseFile("Foreign"), "CREATE TABLE t(x)");
  WriteWholeFile(DatabaseFile("Newer"), stock);
  SqliteFile(DatabaseFile("Newer"), "PRAGMA user_version = 3");
  WriteWholeFile(DatabaseFile("Older"), stock);
  SqliteFile(DatabaseFile("Older"), "PRAGMA user_version = 1");
  std::string garbled = stock;
  for (std::size_t i = 100; i < 4096 && i < garbled.size(); ++i) garbled[i] = '\x5a';
  WriteWholeFile(DatabaseFile("Damaged"), garbled);
  const std::string notes = ReadWholeFile(DatabaseFile("Notes"));

  const std::pair<const char*, const char*> expected[] = {
      {"Notes", "is not a Tabulon Pro database (not a database file at all)"},
      {"Foreign", "is not a Tabulon Pro database (a database file of another program)"},
      {"Newer", "was made by a newer version of Tabulon Pro (its layout is version 3"},
      {"Older", "was made by another version of Tabulon Pro (its layout is version 1"},
      {"Damaged", "the database file is damaged"},
  };
  for (const auto& [name, says] : expected) {
    const ProgramResult r = Run({"list", name});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE(r.err.find(says), std::string::npos) << name << ": " << r.err;
  }
  EXPECT_EQ(ReadWholeFile(DatabaseFile("Notes")), notes);
  EXPECT_EQ(ReadWholeFile(DatabaseFile("Damaged")), garbled);
  EXPECT_FALSE(stdfs::exists(DatabaseFile("Notes") + "-wal"));

  if (::geteuid() != 0) {
    ::chmod(DatabaseFile("Stock").c_str(), 0);
    const ProgramResult r = Run({"list", "Stock"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("may not read and change the database file"), std::string::npos) << r.err;
    ::chmod(DatabaseFile("Stock").c_str(), 0600);
  }
  // The list of databases tells each one's trouble and goes on.
  const std::string databases = Ok({"databases"});
  EXPECT_NE(databases.find("Stock           3"), std::string::npos) << databases;
  EXPECT_NE(databases.find("?  Notes: "), std::string::npos) << databases;
}

TEST_F(CommandLineTest, ADatabaseAnotherProgramIsChangingIsBusyNotDamaged) {
  CreateStock();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DatabaseFile("Stock").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const ProgramResult busy = Run({"set", "Stock", "1", "Qty=4"});
  EXPECT_EQ(busy.status, 1);
  EXPECT_NE(busy.err.find("Stock: the database is busy: another program"), std::string::npos)
      << busy.err;
  // Reading goes on meanwhile.
  EXPECT_EQ(Records("Stock")[1][4], "3");
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Ok({"set", "Stock", "1", "Qty=4"}), "Changed record 1 (modification count 1).\n");
}

}  // namespace
}  // namespace tbm::tabulonpro
