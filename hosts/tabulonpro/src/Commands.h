// Tabulon Pro's commands on its databases, as the command line gives them.
// Each writes its results to standard output and returns a failure as a
// Status for the caller to print; none leaves a change half made. A
// database is named as DatabaseFolder.h says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DesktopDatabase.h"
#include "Status.h"

namespace tbm::tabulonpro {

// The formats as options give them; unset ones keep what they were.
struct FormatOptions {
  std::optional<std::string> dateOrder;  // mdy, dmy, ymd, dym, myd, none
  std::optional<std::string> dateSeparator;
  std::optional<bool> twoDigitMonth;
  std::optional<bool> twoDigitDay;
  std::optional<bool> typedSeparator;
  std::optional<std::string> timeSeparator;
  std::optional<int> clock;  // 12 or 24
  std::optional<std::string> morning;
  std::optional<std::string> afternoon;
  std::optional<std::string> twentyFour;
  std::optional<bool> leadingZero;

  bool any() const;
  // Applies the options to *formats.
  Status ApplyTo(DateTimeFormats* formats) const;
};

struct CreateArguments {
  std::string database;
  std::string csv;                      // "-": standard input
  std::vector<std::string> valueLists;  // "LIST=ITEM|ITEM|..."
  FormatOptions formats;
};
Status CreateFromCsv(const CreateArguments& arguments);

// Every database in the folder with its record count and flags.
Status ListDatabases();
// Fields, formats, flags, value lists, handheld settings, plug-in data.
Status ShowSchema(const std::string& database);
// The formats: shown, or changed by the options.
Status ChangeFormats(const std::string& database, const FormatOptions& options);

// The records with position, identity and modification count; selected:
// only the current selection.
Status ListRecords(const std::string& database, bool selected, bool csv);
// "FIELD=VALUE" assignments.
Status AddRecord(const std::string& database, const std::vector<std::string>& values);
Status SetRecord(const std::string& database, std::int64_t position,
                 const std::vector<std::string>& values);
Status DeleteRecord(const std::string& database, std::int64_t position);

struct SelectArguments {
  std::vector<std::string> find;  // FIELD TEXT
  std::string positions;          // "1,3,5"
  bool all = false;
  bool none = false;
};
// Makes the current selection; says how many records it holds.
Status SelectRecords(const std::string& database, const SelectArguments& arguments);

struct FieldArguments {
  std::vector<std::string> add;     // "NAME:TYPE"
  std::vector<std::string> remove;  // "NAME"
  std::vector<std::string> rename;  // "OLD=NEW"
  std::vector<std::string> retype;  // "NAME:TYPE"
};
Status ChangeFields(const std::string& database, const FieldArguments& arguments);

// Makes or replaces a value list, or removes it.
Status ChangeValueList(const std::string& database, const std::string& list,
                       const std::vector<std::string>& items, bool remove);

struct FlagArguments {
  std::optional<bool> offer;
  std::optional<bool> sync;
  std::optional<bool> changeable;
  std::optional<bool> locked;
};
Status ChangeFlags(const std::string& database, const FlagArguments& arguments);

struct HandheldArguments {
  std::string fields;               // "Name,Born" (names or keys); empty: show the settings
  std::string selection;            // all, current
  std::string conflict;             // keep-both, handheld-wins, desktop-wins
  std::vector<std::string> styles;  // "FIELD=STYLE"
  std::vector<std::string> lists;   // "FIELD=LIST"
  std::vector<std::string> locked;
  std::vector<std::string> capitalise;
  bool any() const;
};
Status ChangeHandheldSettings(const std::string& database, const HandheldArguments& arguments);

// Helpers the commands share (CommandSupport.cpp).

// Opens a database for a command.
Status OpenForCommand(const std::string& database, std::unique_ptr<DesktopDatabase>* db);
// The field a command line names: by name (any case), else by key.
Status FindField(DesktopDatabase& db, const std::string& given, Field* field);
// "FIELD=VALUE" assignments as texts by field; the longest field name
// that the text starts with (followed by '=') is the field.
Status ParseAssignments(DesktopDatabase& db, const std::vector<std::string>& values,
                        FieldTexts* texts);
// The row of the record at position (from 1, in the order 'list' shows).
Status RecordAtPosition(DesktopDatabase& db, std::int64_t position, RecordInfo* record);
// Text a terminal shows as it is meant (controls escaped).
std::string Shown(const std::string& text);

}  // namespace tbm::tabulonpro
