// tbmdb: handheld databases from the command line. Creates a database from
// a CSV file, lists, finds and sorts its records, shows its fields and the
// state synchronisation sees, adds, changes and deletes records, exports to
// CSV and checks whether the handheld program can open it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>

#include "CommandOutcome.h"
#include "Commands.h"
#include "CreateDatabase.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::tbmdb {
namespace {

constexpr const char* kDatabaseHelp =
    "the database: a handheld path such as '\\My Documents\\Tabulon\\Sales.tbm' (inside the "
    "device root), or a path on this machine holding '/'";

// Options that pick records: a find and a sort.
struct SelectionOptions {
  std::vector<std::string> find;
  std::string sort;
  bool descending = false;

  void AddTo(CLI::App* command) {
    command
        ->add_option("--find", find,
                     "only the records whose FIELD holds TEXT, as the handheld finds")
        ->expected(2)
        ->type_name("FIELD TEXT");
    command->add_option("--sort", sort, "sorted on FIELD (ascending unless --descending)")
        ->type_name("FIELD");
    command->add_flag("--descending", descending, "sort in descending order");
  }
  engine::Selection Get() const {
    engine::Selection s;
    if (find.size() == 2) {
      s.findField = find[0];
      s.findText = find[1];
    }
    if (!sort.empty()) s.sortField = sort;
    s.descending = descending;
    return s;
  }
};

struct CreateArguments {
  std::string csv;
  std::string database;
  std::string name;
  std::string dateOrder = "mdy";
  std::string dateSeparator = "/";
  bool twoDigitMonth = false;
  bool twoDigitDay = false;
  std::string timeSeparator = ":";
  int clock = 12;
  std::string morning = " AM";
  std::string afternoon = " PM";
  std::string twentyFour;
  bool leadingZero = false;
  std::vector<std::string> styles;
  std::vector<std::string> values;
  std::vector<std::string> locked;
  std::vector<std::string> capitalise;
  std::string like;
  bool replace = false;
};

Status SingleCharacter(const std::string& option, const std::string& text, char16_t* out) {
  const std::u16string wide = Utf8ToUtf16(text);
  if (wide.size() != 1) {
    return Status::Error(option + " takes one character, not '" + text + "'");
  }
  *out = wide[0];
  return {};
}

Status SplitSetting(const std::string& option, const std::string& text, std::string* field,
                    std::string* value) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return Status::Error(option + " takes FIELD=" + (option == "--style" ? "STYLE" : "ITEMS") +
                         ", not '" + text + "'");
  }
  *field = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return {};
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Formats whose dates or times the database could not read back: a digit
// as a separator runs into the numbers, and a 12-hour clock cannot tell
// the afternoon from the morning when both are written alike.
Status CheckFormats(const CreateArguments& a, char16_t dateSeparator, char16_t timeSeparator) {
  if (IsDigit(dateSeparator) || IsDigit(timeSeparator)) {
    return Status::Error(
        std::string(IsDigit(dateSeparator) ? "--date-separator" : "--time-separator") +
        " cannot be a digit: it would run into the numbers around it");
  }
  auto trimmed = [](const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(' ') + 1 - first);
  };
  if (a.clock == 12 &&
      EqualsIgnoreCase(Utf8ToUtf16(trimmed(a.morning)), Utf8ToUtf16(trimmed(a.afternoon)))) {
    return Status::Error(
        "--am and --pm must differ (not counting case and spaces), or a time could "
        "not say whether it is morning or afternoon");
  }
  return {};
}

// A drop-down list offers only the items of its value list: one without a
// list could not be given any value on the handheld.
Status CheckListsHaveValues(const CreateOptions& options) {
  for (const auto& [field, settings] : options.fields) {
    if (settings.style == DisplayStyle::kDropDownList &&
        (!settings.values || settings.values->empty() ||
         (settings.values->size() == 1 && settings.values->front().empty()))) {
      return Status::Error("--style " + field +
                           "=list needs the items of its list: add --values '" + field +
                           "=ITEM|ITEM|...'");
    }
  }
  return {};
}

Status MakeCreateOptions(const CreateArguments& a, CreateOptions* options) {
  static constexpr const char* kOrders[] = {"mdy", "dmy", "ymd", "myd", "dym", "ydm"};
  std::uint8_t order = 6;
  for (std::uint8_t o = 0; o < 6; ++o) {
    if (a.dateOrder == kOrders[o]) order = o;
  }
  if (order == 6) {
    return Status::Error("--date-order takes mdy, dmy, ymd, myd, dym or ydm, not '" + a.dateOrder +
                         "'");
  }
  char16_t dateSeparator = 0;
  char16_t timeSeparator = 0;
  if (Status s = SingleCharacter("--date-separator", a.dateSeparator, &dateSeparator); !s.ok()) {
    return s;
  }
  if (Status s = SingleCharacter("--time-separator", a.timeSeparator, &timeSeparator); !s.ok()) {
    return s;
  }
  if (Status s = CheckFormats(a, dateSeparator, timeSeparator); !s.ok()) return s;
  const std::u16string morning = Utf8ToUtf16(a.morning);
  const std::u16string afternoon = Utf8ToUtf16(a.afternoon);
  const std::u16string twentyFour = Utf8ToUtf16(a.twentyFour);
  if (morning.size() > 5 || afternoon.size() > 5 || twentyFour.size() > 9) {
    return Status::Error("--am and --pm take at most 5 characters, --suffix-24 at most 9");
  }
  options->name = a.name;
  options->formats.date =
      sync::MakeDateFormat(dateSeparator, order, a.twoDigitMonth, a.twoDigitDay, false);
  options->formats.time = sync::MakeTimeFormat(timeSeparator, morning, afternoon, twentyFour,
                                               a.leadingZero, a.clock == 12);
  options->replace = a.replace;
  std::string field;
  std::string value;
  for (const std::string& text : a.styles) {
    if (Status s = SplitSetting("--style", text, &field, &value); !s.ok()) return s;
    const std::optional<DisplayStyle> style = StyleFromName(value);
    if (!style) {
      return Status::Error("--style: unknown style '" + value +
                           "'; the styles are edit, list, combo, checkbox and zoom");
    }
    options->fields[field].style = style;
  }
  for (const std::string& text : a.values) {
    if (Status s = SplitSetting("--values", text, &field, &value); !s.ok()) return s;
    std::vector<std::string> items;
    for (std::size_t start = 0;;) {
      const std::size_t bar = value.find('|', start);
      items.push_back(value.substr(start, bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    options->fields[field].values = std::move(items);
  }
  for (const std::string& f : a.locked) options->fields[f].locked = true;
  for (const std::string& f : a.capitalise) options->fields[f].capitalise = true;
  return CheckListsHaveValues(*options);
}

void AddCreate(CLI::App& app, CreateArguments& a, std::function<Status()>* run) {
  CLI::App* c = app.add_subcommand(
      "create",
      "make a new database from a CSV file whose header names the fields with their "
      "types, as Name:text,Born:date,Qty:number,Start:time");
  c->add_option("csv", a.csv, "the CSV file ('-' for standard input)")->required();
  c->add_option("database", a.database, kDatabaseHelp)->required();
  c->add_option("--name", a.name, "the database's name (default: the file's name)");
  c->add_option("--date-order", a.dateOrder,
                "order of dates: mdy (default), dmy, ymd, myd, dym, ydm");
  c->add_option("--date-separator", a.dateSeparator, "character between date parts (default /)");
  c->add_flag("--two-digit-month", a.twoDigitMonth, "write months below 10 with a leading zero");
  c->add_flag("--two-digit-day", a.twoDigitDay, "write days below 10 with a leading zero");
  c->add_option("--time-separator", a.timeSeparator, "character between time parts (default :)");
  c->add_option("--clock", a.clock, "12 (default) or 24")->check(CLI::IsMember({12, 24}));
  c->add_option("--am", a.morning, "morning suffix (default ' AM', with its space)");
  c->add_option("--pm", a.afternoon, "afternoon suffix (default ' PM')");
  c->add_option("--suffix-24", a.twentyFour, "suffix of 24-hour times (default none)");
  c->add_flag("--leading-zero", a.leadingZero, "write hours below 10 with a leading zero");
  c->add_option("--style", a.styles,
                "FIELD=STYLE: how the handheld edits a field: edit, list, combo, checkbox, zoom");
  c->add_option("--values", a.values,
                "FIELD=ITEM|ITEM|...: the field's value list (a check box's label is its first "
                "item; '-' is a separator line)");
  c->add_option("--locked", a.locked, "FIELD: entry is locked on the handheld");
  c->add_option("--capitalise", a.capitalise, "FIELD: the first letter is capitalised");
  c->add_flag("--replace", a.replace, "replace a database already at that path");
  CLI::Option* like =
      c->add_option("--like", a.like,
                    "take every setting (name, formats, styles, value lists, flags) from an "
                    "existing DATABASE, as one exported to the CSV file")
          ->type_name("DATABASE");
  for (CLI::Option* setting : c->get_options()) {
    const std::string name = setting->get_name();
    if (setting != like && name != "--replace" && name != "--name" && name != "--help" &&
        !setting->get_positional()) {
      like->excludes(setting);
    }
  }
  *run = [&a]() -> Status {
    CreateOptions options;
    if (Status s =
            a.like.empty() ? MakeCreateOptions(a, &options) : SettingsOfDatabase(a.like, &options);
        !s.ok()) {
      return s;
    }
    options.replace = a.replace;
    if (!a.name.empty()) options.name = a.name;
    std::uint32_t records = 0;
    if (Status s = CreateDatabase(a.csv, a.database, options, &records); !s.ok()) return s;
    std::printf("Created %s with %u records.\n", a.database.c_str(), records);
    return {};
  };
}

// An error stays on one line, whole, and harmless to the terminal, even
// when it quotes a value or a name that spans lines or holds a NUL or an
// escape sequence.
std::string OneLine(const std::string& message) { return tools::EscapeControls(message); }

// A limit on the records shown is a count from 1.
struct RecordLimit : CLI::Validator {
  RecordLimit() {
    name_ = "RECORDS";
    func_ = [](const std::string& text) -> std::string {
      if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
          text.find_first_not_of('0') == std::string::npos) {
        return "takes a number of records, 1 or more, not '" + text + "'";
      }
      return {};
    };
  }
};

int Main(int argc, char** argv) {
  CLI::App app{"tbmdb: Tabulon Mobile's handheld databases from the command line", "tbmdb"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tbmdb (Tabulon Mobile) ") + TBM_VERSION);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "tbmdb: " + std::string(e.what()) + " (run 'tbmdb --help' for the commands)\n";
  });
  std::function<Status()> run;

  CreateArguments create;
  AddCreate(app, create, &run);

  std::string database;
  SelectionOptions selection;
  ListOptions list;
  CLI::App* listCommand = app.add_subcommand("list", "list the records as a table, or as CSV");
  listCommand->add_option("database", database, kDatabaseHelp)->required();
  selection.AddTo(listCommand);
  listCommand->add_option("--fields", list.fields,
                          "the fields to show, separated by commas (default: all); a name that "
                          "holds a comma is written as it is");
  listCommand->add_flag("--csv", list.csv, "write CSV instead of a table");
  listCommand->add_option("--limit", list.limit, "show only the first N records")
      ->type_name("N")
      ->check(RecordLimit());
  listCommand->callback([&] {
    run = [&] {
      list.selection = selection.Get();
      return ListRecords(database, list);
    };
  });

  std::string output;
  CLI::App* exportCommand =
      app.add_subcommand("export", "write the records as CSV with a typed header row");
  exportCommand->add_option("database", database, kDatabaseHelp)->required();
  exportCommand->add_option("csv", output, "the CSV file to write ('-' for standard output)")
      ->required();
  selection.AddTo(exportCommand);
  exportCommand->callback(
      [&] { run = [&] { return ExportRecords(database, selection.Get(), output); }; });

  CLI::App* schemaCommand = app.add_subcommand(
      "schema", "show the fields, their options, the formats, attributes and value lists");
  schemaCommand->add_option("database", database, kDatabaseHelp)->required();
  schemaCommand->callback([&] { run = [&] { return ShowSchema(database); }; });

  bool csv = false;
  CLI::App* recordsCommand =
      app.add_subcommand("records", "show each record's synchronisation state and identity block");
  recordsCommand->add_option("database", database, kDatabaseHelp)->required();
  selection.AddTo(recordsCommand);
  recordsCommand->add_flag("--csv", csv, "write CSV (state as a number, identity in hex)");
  recordsCommand->callback(
      [&] { run = [&] { return ShowRecordStates(database, selection.Get(), csv, false); }; });

  CLI::App* deletedCommand = app.add_subcommand(
      "deleted", "show the delete table: deleted records kept for the next synchronisation");
  deletedCommand->add_option("database", database, kDatabaseHelp)->required();
  deletedCommand->add_flag("--csv", csv, "write CSV (state as a number, identity in hex)");
  deletedCommand->callback(
      [&] { run = [&] { return ShowRecordStates(database, {}, csv, true); }; });

  std::vector<std::string> assignments;
  CLI::App* addCommand =
      app.add_subcommand("add", "add a record, as the handheld adds one (state: added)");
  addCommand->add_option("database", database, kDatabaseHelp)->required();
  addCommand->add_option("values", assignments,
                         "FIELD=VALUE for each field to fill (at least one; FIELD= for empty)");
  addCommand->callback([&] {
    if (assignments.empty()) {
      throw CLI::ValidationError("add",
                                 "give at least one FIELD=VALUE; an empty record is added "
                                 "with one field given empty, as Name=");
    }
    run = [&]() -> Status {
      std::uint32_t position = 0;
      if (Status s = AddRecord(database, assignments, &position); !s.ok()) return s;
      std::printf("Added record %u.\n", position);
      return {};
    };
  });

  std::uint32_t position = 0;
  CLI::App* setCommand = app.add_subcommand(
      "set", "change fields of the record at a position (as 'list' numbers them)");
  setCommand->add_option("database", database, kDatabaseHelp)->required();
  setCommand->add_option("position", position, "the record's position, from 1")->required();
  setCommand->add_option("values", assignments, "FIELD=VALUE for each field to change")->required();
  selection.AddTo(setCommand);
  setCommand->callback([&] {
    run = [&]() -> Status {
      if (Status s = SetRecord(database, selection.Get(), position, assignments); !s.ok()) return s;
      std::printf("Changed record %u.\n", position);
      return {};
    };
  });

  bool untracked = false;
  CLI::App* deleteCommand =
      app.add_subcommand("delete", "delete the record at a position (as 'list' numbers them)");
  deleteCommand->add_option("database", database, kDatabaseHelp)->required();
  deleteCommand->add_option("position", position, "the record's position, from 1")->required();
  deleteCommand->add_flag("--untracked", untracked,
                          "do not keep the record for the next synchronisation to delete in "
                          "Tabulon Pro too");
  selection.AddTo(deleteCommand);
  deleteCommand->callback([&] {
    run = [&]() -> Status {
      if (Status s = DeleteRecord(database, selection.Get(), position, !untracked); !s.ok()) {
        return s;
      }
      std::printf("Deleted record %u.\n", position);
      return {};
    };
  });

  CLI::App* checkCommand = app.add_subcommand(
      "check", "open the database as the handheld program does and say whether it can");
  checkCommand->add_option("database", database, kDatabaseHelp)->required();
  checkCommand->callback([&] { run = [&] { return CheckDatabase(database); }; });

  if (const std::optional<std::string> unknown = tools::UnknownCommand(app, argc, argv)) {
    std::fprintf(stderr, "tbmdb: %s (run 'tbmdb --help' for more)\n", OneLine(*unknown).c_str());
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  const Status status = run ? run() : Status::Error("no command given");
  return tools::ReportOutcome("tbmdb", status);
}

}  // namespace
}  // namespace tbm::tbmdb

int main(int argc, char** argv) { return tbm::tbmdb::Main(argc, argv); }
