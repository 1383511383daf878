// The commands on a database's make-up: databases, schema, formats, field,
// values and flags. The handheld settings are in HandheldCommand.cpp.
#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "DatabaseFolder.h"
#include "TextTable.h"

namespace tbm::tabulonpro {

namespace {

constexpr const char* kOrderWords[] = {"none",           "month/day/year", "day/month/year",
                                       "year/month/day", "day/year/month", "month/year/day"};

std::string FlagsLine(std::uint32_t flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", flags);
  return FlagsInWords(flags) + " (flags " + hex + ")";
}

std::string FormatsLine(const DateTimeFormats& f) {
  std::string line = std::string("dates ") + kOrderWords[f.dateOrder <= 5 ? f.dateOrder : 0] +
                     " with '" + f.dateSeparator + "'";
  if (f.twoDigitMonth) line += ", two-digit months";
  if (f.twoDigitDay) line += ", two-digit days";
  if (f.preferTypedSeparator) line += ", the separator typed";
  line += "; times with '" + f.timeSeparator + "', ";
  line +=
      f.twelveHourClock
          ? "12-hour clock ('" + f.morningSuffix + "', '" + f.afternoonSuffix + "')"
          : "24-hour clock" + (f.twentyFourSuffix.empty() ? "" : " ('" + f.twentyFourSuffix + "')");
  if (f.leadingZero) line += ", hours with a leading zero";
  return line;
}

// "NAME:TYPE" split.
Status NameAndType(const std::string& option, const std::string& text, std::string* name,
                   FieldType* type) {
  const std::size_t colon = text.rfind(':');
  const std::optional<FieldType> known =
      colon == std::string::npos ? std::nullopt : FieldTypeFromName(text.substr(colon + 1));
  if (colon == 0 || !known) {
    return Status(StatusCode::kInvalidArgument,
                  option + " takes NAME:TYPE with a type of text, number, date or time, not '" +
                      Shown(text) + "'");
  }
  *name = text.substr(0, colon);
  *type = *known;
  return {};
}

}  // namespace

Status ListDatabases() {
  const std::vector<std::string> files = DatabaseFiles();
  if (files.empty()) {
    std::printf("No databases in %s.\n", DatabaseFolder().c_str());
    return {};
  }
  tools::TextTable table({"Database", "Records", "Synchronisation"}, 100);
  table.AlignRight(1);
  for (const std::string& path : files) {
    std::unique_ptr<DesktopDatabase> db;
    Status s = DesktopDatabase::Open(path, &db);
    std::int64_t records = 0;
    std::uint32_t flags = 0;
    if (s.ok()) s = db->RecordCount(&records);
    if (s.ok()) s = db->Flags(&flags);
    const std::string name = std::filesystem::path(path).stem().string();
    if (!s.ok()) {
      table.AddRow({name, "?", s.message()});
    } else {
      table.AddRow({name, std::to_string(records), FlagsInWords(flags)});
    }
  }
  const std::string out = table.Render();
  std::fwrite(out.data(), 1, out.size(), stdout);
  return {};
}

Status ShowSchema(const std::string& database) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  std::vector<Field> fields;
  std::int64_t records = 0;
  std::vector<std::int64_t> selection;
  std::uint32_t flags = 0;
  DateTimeFormats formats;
  std::vector<ValueList> lists;
  std::vector<std::pair<std::uint32_t, std::size_t>> data;
  for (Status s : {db->Fields(&fields), db->RecordCount(&records), db->Selection(&selection),
                   db->Flags(&flags), db->Formats(&formats), db->ValueLists(&lists),
                   db->PluginDataSizes(&data)}) {
    if (!s.ok()) return s;
  }
  std::string out = "Database " + Shown(db->name()) + " (" + db->path() + ")\n";
  out += "Records: " + std::to_string(records) + " (" + std::to_string(selection.size()) +
         " selected)\n";
  out += "Synchronisation: " + FlagsLine(flags) + "\n";
  out += "Formats: " + Shown(FormatsLine(formats)) + "\n";
  tools::TextTable table({"Key", "Field", "Type"});
  for (const Field& f : fields) table.AddRow({f.key, f.name, FieldTypeName(f.type)});
  out += "Fields:\n" + table.Render();
  out += "Value lists:" + std::string(lists.empty() ? " none\n" : "\n");
  for (const ValueList& list : lists) {
    std::string items;
    for (const std::string& item : list.items) items += (items.empty() ? "" : " | ") + item;
    out += "  " + Shown(list.name) + ": " + Shown(items) + "\n";
  }
  out += "Plug-in data:" + std::string(data.empty() ? " none\n" : "\n");
  for (const auto& [key, size] : data) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
      const char c = static_cast<char>((key >> shift) & 0xFF);
      name += c >= 0x20 && c < 0x7F ? c : '?';
    }
    out += "  \"" + name + "\": " + std::to_string(size) + " bytes\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return {};
}

Status ChangeFormats(const std::string& database, const FormatOptions& options) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  DateTimeFormats formats;
  if (Status s = db->Formats(&formats); !s.ok()) return s;
  if (options.any()) {
    if (Status s = options.ApplyTo(&formats); !s.ok()) return s;
    if (Status s = db->SetFormats(formats); !s.ok()) return s;
  }
  std::printf("%s: %s\n", db->name().c_str(), Shown(FormatsLine(formats)).c_str());
  return {};
}

Status ChangeFields(const std::string& database, const FieldArguments& a) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  for (const std::string& text : a.add) {
    FieldDefinition definition;
    if (Status s = NameAndType("--add", text, &definition.name, &definition.type); !s.ok()) {
      return s;
    }
    Field made;
    if (Status s = db->AddField(definition, &made); !s.ok()) return s;
    std::printf("Added the field %s (%s, key %s).\n", Shown(made.name).c_str(),
                FieldTypeName(made.type), made.key.c_str());
  }
  for (const std::string& text : a.rename) {
    const std::size_t equals = text.find('=');
    Field field;
    if (equals == std::string::npos) {
      return Status(StatusCode::kInvalidArgument,
                    "--rename takes OLD=NEW, not '" + Shown(text) + "'");
    }
    if (Status s = FindField(*db, text.substr(0, equals), &field); !s.ok()) return s;
    if (Status s = db->RenameField(field.id, text.substr(equals + 1)); !s.ok()) return s;
    std::printf("Renamed the field %s to %s.\n", Shown(field.name).c_str(),
                Shown(text.substr(equals + 1)).c_str());
  }
  for (const std::string& text : a.retype) {
    std::string name;
    FieldType type;
    Field field;
    if (Status s = NameAndType("--type", text, &name, &type); !s.ok()) return s;
    if (Status s = FindField(*db, name, &field); !s.ok()) return s;
    if (Status s = db->ChangeFieldType(field.id, type); !s.ok()) return s;
    std::printf("The field %s is a %s field now.\n", Shown(field.name).c_str(),
                FieldTypeName(type));
  }
  for (const std::string& name : a.remove) {
    Field field;
    if (Status s = FindField(*db, name, &field); !s.ok()) return s;
    if (Status s = db->RemoveField(field.id); !s.ok()) return s;
    std::printf("Removed the field %s and its values.\n", Shown(field.name).c_str());
  }
  return {};
}

Status ChangeValueList(const std::string& database, const std::string& list,
                       const std::vector<std::string>& items, bool remove) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  if (remove) {
    if (!items.empty()) {
      return Status(StatusCode::kInvalidArgument, "--remove takes no items");
    }
    if (Status s = db->RemoveValueList(list); !s.ok()) return s;
    std::printf("Removed the value list %s.\n", Shown(list).c_str());
    return {};
  }
  if (Status s = db->SetValueList({list, items}); !s.ok()) return s;
  std::printf("The value list %s has %zu items.\n", Shown(list).c_str(), items.size());
  return {};
}

Status ChangeFlags(const std::string& database, const FlagArguments& a) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  std::uint32_t flags = 0;
  if (Status s = db->Flags(&flags); !s.ok()) return s;
  const std::uint32_t before = flags;
  auto set = [&](const std::optional<bool>& wanted, std::uint32_t bit) {
    if (wanted) flags = *wanted ? (flags | bit) : (flags & ~bit);
  };
  set(a.offer, kFlagOffered);
  set(a.sync, kFlagMaySynchronise);
  set(a.changeable, kFlagSettingsChangeable);
  set(a.locked, kFlagSettingsLocked);
  if (flags != before) {
    if (Status s = db->SetFlags(flags); !s.ok()) return s;
  }
  std::printf("%s: %s\n", db->name().c_str(), FlagsLine(flags).c_str());
  return {};
}

}  // namespace tbm::tabulonpro
