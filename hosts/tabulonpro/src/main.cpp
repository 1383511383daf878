// Tabulon Pro, the desktop database application: its databases from the
// command line (create, list, edit, configure for the handheld), and
// "run", the host itself with its synchronisation plug-in.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <optional>

#include "CommandOutcome.h"
#include "Commands.h"
#include "HostRun.h"
#include "Machine.h"
#include "TextTable.h"

namespace tbm::tabulonpro {
namespace {

constexpr const char* kDatabaseHelp =
    "the database: a name (its file <name>.tbp in the folder Databases of the desktop root, "
    "$TBM_DESKTOP_ROOT), or a path holding '/'";

std::string OneLine(const std::string& message) { return tools::EscapeControls(message); }

// The date and time format options of create and formats.
struct FormatArguments {
  std::string dateOrder, dateSeparator, timeSeparator, morning, afternoon, twentyFour;
  int clock = 12;
  bool twoDigitMonth = false, twoDigitDay = false, typedSeparator = false, leadingZero = false;
  std::vector<CLI::Option*> options;

  void AddTo(CLI::App* c) {
    options = {
        c->add_option("--date-order", dateOrder,
                      "order of dates: mdy (default), dmy, ymd, dym, "
                      "myd, none"),
        c->add_option("--date-separator", dateSeparator, "character between date parts (/)"),
        c->add_flag("--two-digit-month", twoDigitMonth, "months below 10 with a leading zero"),
        c->add_flag("--two-digit-day", twoDigitDay, "days below 10 with a leading zero"),
        c->add_flag("--typed-separator", typedSeparator, "keep the separator the user typed"),
        c->add_option("--time-separator", timeSeparator, "character between time parts (:)"),
        c->add_option("--clock", clock, "12 (default) or 24")->check(CLI::IsMember({12, 24})),
        c->add_option("--am", morning, "morning suffix (' AM', with its space)"),
        c->add_option("--pm", afternoon, "afternoon suffix (' PM')"),
        c->add_option("--suffix-24", twentyFour, "suffix of 24-hour times (none)"),
        c->add_flag("--leading-zero", leadingZero, "hours below 10 with a leading zero"),
    };
  }
  FormatOptions Get() const {
    FormatOptions f;
    auto given = [&](std::size_t i) { return options[i]->count() > 0; };
    if (given(0)) f.dateOrder = dateOrder;
    if (given(1)) f.dateSeparator = dateSeparator;
    if (given(2)) f.twoDigitMonth = twoDigitMonth;
    if (given(3)) f.twoDigitDay = twoDigitDay;
    if (given(4)) f.typedSeparator = typedSeparator;
    if (given(5)) f.timeSeparator = timeSeparator;
    if (given(6)) f.clock = clock;
    if (given(7)) f.morning = morning;
    if (given(8)) f.afternoon = afternoon;
    if (given(9)) f.twentyFour = twentyFour;
    if (given(10)) f.leadingZero = leadingZero;
    return f;
  }
};

// An on|off option's value, unset when not given.
std::optional<bool> OnOff(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text == "on";
}

int Main(int argc, char** argv) {
  SelectMachine(Machine::Desktop);
  CLI::App app{
      "Tabulon Pro: the desktop's databases, and the host of the plug-in that keeps "
      "them in step with the handheld",
      "Tabulon Pro"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("Tabulon Pro ") + TBM_VERSION);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "Tabulon Pro: " + std::string(e.what()) +
           " (run 'Tabulon Pro --help' for the commands)\n";
  });
  std::function<Status()> run;
  std::string database;

  CreateArguments create;
  FormatArguments createFormats;
  CLI::App* c = app.add_subcommand(
      "create",
      "make a new database from a CSV file whose first row names the fields with "
      "their types, as Name:text,Born:date,Qty:number,Start:time");
  c->add_option("database", create.database, kDatabaseHelp)->required();
  c->add_option("csv", create.csv, "the CSV file ('-' for standard input)")->required();
  c->add_option("--values", create.valueLists, "LIST=ITEM|ITEM|...: a value list")
      ->type_name("LIST=ITEMS");
  createFormats.AddTo(c);
  c->callback([&] {
    run = [&] {
      create.formats = createFormats.Get();
      return CreateFromCsv(create);
    };
  });

  app.add_subcommand("databases", "list the databases with their records and synchronisation")
      ->callback([&] { run = [] { return ListDatabases(); }; });

  CLI::App* schema = app.add_subcommand(
      "schema",
      "show the fields with their keys and types, the formats, flags, value lists and "
      "plug-in data");
  schema->add_option("database", database, kDatabaseHelp)->required();
  schema->callback([&] { run = [&] { return ShowSchema(database); }; });

  bool selected = false;
  bool csv = false;
  CLI::App* list = app.add_subcommand(
      "list", "list the records with their position, identity and modification count");
  list->add_option("database", database, kDatabaseHelp)->required();
  list->add_flag("--selected", selected, "only the records of the current selection");
  list->add_flag("--csv", csv, "write CSV instead of a table");
  list->callback([&] { run = [&] { return ListRecords(database, selected, csv); }; });

  std::vector<std::string> assignments;
  CLI::App* add = app.add_subcommand("add", "add a record");
  add->add_option("database", database, kDatabaseHelp)->required();
  add->add_option("values", assignments, "FIELD=VALUE for each field to fill")->required();
  add->callback([&] { run = [&] { return AddRecord(database, assignments); }; });

  std::int64_t position = 0;
  CLI::App* set =
      app.add_subcommand("set",
                         "change fields of the record at a position (as 'list' numbers them); its "
                         "modification count goes up by one");
  set->add_option("database", database, kDatabaseHelp)->required();
  set->add_option("position", position, "the record's position, from 1")->required();
  set->add_option("values", assignments, "FIELD=VALUE for each field to change")->required();
  set->callback([&] { run = [&] { return SetRecord(database, position, assignments); }; });

  CLI::App* remove = app.add_subcommand("delete", "delete the record at a position");
  remove->add_option("database", database, kDatabaseHelp)->required();
  remove->add_option("position", position, "the record's position, from 1")->required();
  remove->callback([&] { run = [&] { return DeleteRecord(database, position); }; });

  SelectArguments select;
  CLI::App* selectCommand =
      app.add_subcommand("select", "make the current selection (the records the user selected)");
  selectCommand->add_option("database", database, kDatabaseHelp)->required();
  selectCommand->add_option("--find", select.find, "the records whose FIELD holds TEXT (any case)")
      ->expected(2)
      ->type_name("FIELD TEXT");
  selectCommand->add_option("--positions", select.positions, "the records at these positions")
      ->type_name("1,3,5");
  selectCommand->add_flag("--all", select.all, "every record");
  selectCommand->add_flag("--none", select.none, "no record");
  selectCommand->callback([&] { run = [&] { return SelectRecords(database, select); }; });

  FieldArguments fields;
  CLI::App* field = app.add_subcommand(
      "field", "add, rename, retype or remove fields (a new field gets a key never used before)");
  field->add_option("database", database, kDatabaseHelp)->required();
  field->add_option("--add", fields.add, "a new field")->type_name("NAME:TYPE");
  field->add_option("--rename", fields.rename, "rename a field")->type_name("OLD=NEW");
  field->add_option("--type", fields.retype, "change a field's type")->type_name("NAME:TYPE");
  field->add_option("--remove", fields.remove, "remove a field and its values")->type_name("NAME");
  field->callback([&] { run = [&] { return ChangeFields(database, fields); }; });

  std::string listName;
  std::vector<std::string> items;
  bool removeList = false;
  CLI::App* values = app.add_subcommand("values", "make, replace or remove a value list");
  values->add_option("database", database, kDatabaseHelp)->required();
  values->add_option("list", listName, "the list's name")->required();
  values->add_option("items", items, "the list's items, in order");
  values->add_flag("--remove", removeList, "remove the list");
  values->callback(
      [&] { run = [&] { return ChangeValueList(database, listName, items, removeList); }; });

  FormatArguments formatArguments;
  CLI::App* formats = app.add_subcommand("formats", "show or change the date and time formats");
  formats->add_option("database", database, kDatabaseHelp)->required();
  formatArguments.AddTo(formats);
  formats->callback([&] { run = [&] { return ChangeFormats(database, formatArguments.Get()); }; });

  std::string offer, sync, changeable, locked;
  CLI::App* flags = app.add_subcommand("flags", "show or change the synchronisation flags");
  flags->add_option("database", database, kDatabaseHelp)->required();
  const auto onOff = CLI::IsMember({"on", "off"});
  flags->add_option("--offer", offer, "offered to the handheld")->check(onOff);
  flags->add_option("--sync", sync, "may be synchronised")->check(onOff);
  flags->add_option("--settings-changeable", changeable, "its settings may be changed")
      ->check(onOff);
  flags->add_option("--settings-locked", locked, "its settings are locked")->check(onOff);
  flags->callback([&] {
    run = [&] {
      return ChangeFlags(database, {OnOff(offer), OnOff(sync), OnOff(changeable), OnOff(locked)});
    };
  });

  HandheldArguments handheld;
  CLI::App* hh = app.add_subcommand(
      "handheld",
      "show or write the settings for the handheld: its fields, records, conflict "
      "rule and how each field shows (all at once, as the plug-in's settings dialog "
      "writes them)");
  hh->add_option("database", database, kDatabaseHelp)->required();
  hh->add_option("--fields", handheld.fields,
                 "the fields the handheld gets, in order (names "
                 "or keys)")
      ->type_name("F1,F2,...");
  hh->add_option("--selection", handheld.selection,
                 "all records (default) or the current "
                 "selection")
      ->check(CLI::IsMember({"all", "current"}));
  hh->add_option("--conflict", handheld.conflict,
                 "a record changed on both sides: keep-both (default), handheld-wins, "
                 "desktop-wins")
      ->check(CLI::IsMember({"keep-both", "handheld-wins", "desktop-wins"}));
  hh->add_option("--style", handheld.styles, "FIELD=STYLE: edit, list, combo, checkbox, zoom")
      ->type_name("FIELD=STYLE");
  hh->add_option("--list", handheld.lists, "FIELD=LIST: the field's value list")
      ->type_name("FIELD=LIST");
  hh->add_option("--locked", handheld.locked, "FIELD: entry is locked on the handheld")
      ->type_name("FIELD");
  hh->add_option("--capitalise", handheld.capitalise, "FIELD: its first letter is capitalised")
      ->type_name("FIELD");
  hh->callback([&] { run = [&] { return ChangeHandheldSettings(database, handheld); }; });

  RunOptions runOptions;
  CLI::App* runCommand = app.add_subcommand(
      "run",
      "run Tabulon Pro with its plug-in TBBridge (for synchronising with the handheld) "
      "until SIGTERM, SIGINT or Quit");
  runCommand->add_option("databases", runOptions.databases,
                         "the databases to open (default: every database of the desktop)");
  runCommand->add_flag("--headless", runOptions.headless,
                       "no window (also when there is no display)");
  runCommand
      ->add_option("--plugin", runOptions.plugin,
                   "load this plug-in instead of TBBridge.tbx beside the program")
      ->type_name("FILE");
  runCommand->add_flag("--about", runOptions.about,
                       "show the plug-in's information dialog (needs a display)");
  runCommand
      ->add_option("--settings", runOptions.settingsOf,
                   "show the plug-in's synchronisation settings of this database (needs a "
                   "display)")
      ->type_name("DATABASE");
  bool running = false;
  runCommand->callback([&] { running = true; });

  if (const std::optional<std::string> unknown = tools::UnknownCommand(app, argc, argv)) {
    std::fprintf(stderr, "Tabulon Pro: %s (run 'Tabulon Pro --help' for more)\n",
                 OneLine(*unknown).c_str());
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  if (running) return RunHost(runOptions, argv[0]);
  const Status status = run ? run() : Status::Error("no command given");
  return tools::ReportOutcome("Tabulon Pro", status);
}

}  // namespace
}  // namespace tbm::tabulonpro

int main(int argc, char** argv) { return tbm::tabulonpro::Main(argc, argv); }
