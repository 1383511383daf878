// "handheld NAME": the database's settings for the handheld ("QZP1" and
// "QZP2", SyncSettings.h), shown, or written whole from the options as
// the plug-in's settings dialog writes them.
#include <cstdio>
#include <map>
#include <span>

#include "Commands.h"
#include "HostText.h"
#include "SyncSettings.h"
#include "TextTable.h"

namespace tbm::tabulonpro {

namespace {

struct StyleName {
  const char* name;
  std::uint16_t style;
};
constexpr StyleName kStyles[] = {{"edit", sync::kStyleEditBox},
                                 {"list", sync::kStyleDropDownList},
                                 {"combo", sync::kStyleDropDownCombo},
                                 {"checkbox", sync::kStyleCheckBox},
                                 {"zoom", sync::kStyleZoomBox}};

std::string StyleWord(std::uint16_t style) {
  for (const StyleName& s : kStyles) {
    if (s.style == style) return s.name;
  }
  return "style " + std::to_string(style);
}

std::string SelectionWords(std::int32_t selection) {
  return selection == sync::kSelectAllRecords ? "all records" : "the current selection";
}

std::string ConflictWords(std::int32_t rule) {
  switch (rule) {
    case sync::kHandheldWins:
      return "the handheld wins";
    case sync::kDesktopWins:
      return "the desktop wins";
    default:
      return "keep both";
  }
}

// "FIELD=VALUE" split.
Status Split(const std::string& option, const std::string& text, std::string* field,
             std::string* value) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return Status(StatusCode::kInvalidArgument,
                  option + " takes FIELD=" + (option == "--style" ? "STYLE" : "LIST") + ", not '" +
                      Shown(text) + "'");
  }
  *field = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return {};
}

// The plug-in data as the settings' reader takes it.
std::span<const std::uint8_t> AsBytes(const std::string& data) {
  return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

// A damaged record, and how to write it anew.
Status Damaged(DesktopDatabase& db, const Status& status) {
  return Status(StatusCode::kDamaged,
                db.name() + ": " + status.message() + "; write them anew with 'handheld --fields'");
}

Status ShowSettings(DesktopDatabase& db, HostTextForm& form) {
  std::string bytes;
  Status read = db.ReadPluginData(sync::kSyncSettingsKey, &bytes);
  if (read.code() == StatusCode::kNotFound) {
    std::printf(
        "%s has no settings for the handheld yet: it gets no fields. Choose them with "
        "'handheld %s --fields FIELD,FIELD,...'.\n",
        db.name().c_str(), db.name().c_str());
    return {};
  }
  if (!read.ok()) return read;
  sync::SyncSettings settings;
  if (Status s = sync::DecodeSyncSettings(AsBytes(bytes), &settings); !s.ok()) {
    return Damaged(db, s);
  }
  sync::FieldSettings fieldSettings;
  if (db.ReadPluginData(sync::kFieldSettingsKey, &bytes).ok()) {
    if (Status s = sync::DecodeFieldSettings(AsBytes(bytes), &fieldSettings); !s.ok()) {
      return Damaged(db, s);
    }
  }
  std::vector<Field> fields;
  if (Status s = db.Fields(&fields); !s.ok()) return s;
  std::string out = db.name() + " for the handheld: " + SelectionWords(settings.recordSelection) +
                    "; conflicts: " + ConflictWords(settings.conflictRule) + "\n";
  tools::TextTable table({"Key", "Field", "Style", "Value list", "Options"});
  for (const std::string& key : settings.fieldKeys) {
    const Field* field = nullptr;
    for (const Field& f : fields) {
      if (f.key == key) field = &f;
    }
    if (field == nullptr) continue;  // a field removed since
    const sync::FieldSetting* found = fieldSettings.Find(key);
    const sync::FieldSetting setting = found != nullptr ? *found : sync::FieldSetting();
    std::string list;
    if (Status s = form.FromHost(setting.valueListName, &list); !s.ok()) list = "?";
    std::string options;
    if (setting.optionFlags & sync::kOptionEntryLocked) options += "locked";
    if (setting.optionFlags & sync::kOptionCapitalise)
      options += options.empty() ? "capitalised" : ", capitalised";
    table.AddRow({key, field->name, StyleWord(setting.displayStyle), list, options});
  }
  out += table.Render();
  std::fwrite(out.data(), 1, out.size(), stdout);
  return {};
}

// The chosen fields, in order, from "Name,Born" (names or keys).
Status ChosenFields(DesktopDatabase& db, const std::string& text, std::vector<Field>* chosen) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string given =
        text.substr(start, comma == std::string::npos ? comma : comma - start);
    Field field;
    if (Status s = FindField(db, given, &field); !s.ok()) return s;
    for (const Field& earlier : *chosen) {
      if (earlier.id == field.id) {
        return Status(StatusCode::kInvalidArgument,
                      "--fields names the field '" + field.name + "' twice");
      }
    }
    chosen->push_back(field);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (chosen->size() > sync::kMaxChosenFields) {
    return Status(StatusCode::kInvalidArgument, "--fields names " + std::to_string(chosen->size()) +
                                                    " fields; the handheld takes at most " +
                                                    std::to_string(sync::kMaxChosenFields));
  }
  return {};
}

// The setting of the chosen field a command line names.
Status SettingOf(DesktopDatabase& db, const std::string& option, const std::string& given,
                 const std::vector<Field>& chosen, std::vector<sync::FieldSetting>& settings,
                 sync::FieldSetting** setting) {
  Field field;
  if (Status s = FindField(db, given, &field); !s.ok()) return s;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (chosen[i].id == field.id) {
      *setting = &settings[i];
      return {};
    }
  }
  return Status(StatusCode::kInvalidArgument, option + " " + Shown(given) +
                                                  ": the field is not among those given with "
                                                  "--fields");
}

Status ApplyFieldOptions(DesktopDatabase& db, HostTextForm& form, const HandheldArguments& a,
                         const std::vector<Field>& chosen,
                         std::vector<sync::FieldSetting>& settings) {
  std::string field;
  std::string value;
  sync::FieldSetting* setting = nullptr;
  for (const std::string& text : a.styles) {
    if (Status s = Split("--style", text, &field, &value); !s.ok()) return s;
    if (Status s = SettingOf(db, "--style", field, chosen, settings, &setting); !s.ok()) return s;
    bool known = false;
    for (const StyleName& style : kStyles) {
      if (value == style.name) {
        setting->displayStyle = style.style;
        known = true;
      }
    }
    if (!known) {
      return Status(StatusCode::kInvalidArgument,
                    "--style: unknown style '" + Shown(value) +
                        "'; the styles are edit, list, combo, checkbox and zoom");
    }
  }
  for (const std::string& text : a.lists) {
    if (Status s = Split("--list", text, &field, &value); !s.ok()) return s;
    if (Status s = SettingOf(db, "--list", field, chosen, settings, &setting); !s.ok()) return s;
    if (!sync::StyleUsesValueList(setting->displayStyle)) {
      return Status(StatusCode::kInvalidArgument,
                    "--list " + Shown(field) +
                        ": a value list goes with the styles list, combo and checkbox; give "
                        "--style " +
                        Shown(field) + "=list (or combo, checkbox) too");
    }
    ValueList list;
    if (Status s = db.FindValueList(value, &list); !s.ok()) return s;
    if (Status s = form.ToHost(value, &setting->valueListName); !s.ok()) {
      return s.WithContext("--list " + Shown(field) + ": the list's name");
    }
    if (setting->valueListName.size() > sync::kMaxValueListNameBytes) {
      return Status(StatusCode::kInvalidArgument,
                    "--list " + Shown(field) +
                        ": the handheld settings keep a value list's "
                        "name in at most 5 bytes; '" +
                        Shown(value) + "' takes " + std::to_string(setting->valueListName.size()) +
                        ": give the list a shorter name ('values')");
    }
  }
  for (const auto& [option, names, bit] :
       {std::tuple{"--locked", &a.locked, sync::kOptionEntryLocked},
        std::tuple{"--capitalise", &a.capitalise, sync::kOptionCapitalise}}) {
    for (const std::string& name : *names) {
      if (Status s = SettingOf(db, option, name, chosen, settings, &setting); !s.ok()) return s;
      setting->optionFlags |= bit;
    }
  }
  for (std::size_t i = 0; i < settings.size(); ++i) {
    if (settings[i].displayStyle == sync::kStyleDropDownList && settings[i].valueListName.empty()) {
      return Status(StatusCode::kInvalidArgument,
                    "--style " + chosen[i].name +
                        "=list offers only the items of a value list: "
                        "give --list " +
                        chosen[i].name + "=LIST");
    }
  }
  return {};
}

}  // namespace

bool HandheldArguments::any() const {
  return !fields.empty() || !selection.empty() || !conflict.empty() || !styles.empty() ||
         !lists.empty() || !locked.empty() || !capitalise.empty();
}

Status ChangeHandheldSettings(const std::string& database, const HandheldArguments& a) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  std::unique_ptr<HostTextForm> form;
  if (Status s = HostTextForm::OpenSystem(&form); !s.ok()) return s;
  if (!a.any()) return ShowSettings(*db, *form);
  if (a.fields.empty()) {
    return Status(StatusCode::kInvalidArgument,
                  "the handheld settings are written whole: give the fields with --fields too");
  }
  std::uint32_t flags = 0;
  if (Status s = db->Flags(&flags); !s.ok()) return s;
  if ((flags & kFlagSettingsLocked) != 0 || (flags & kFlagSettingsChangeable) == 0) {
    return Status(StatusCode::kInvalidArgument,
                  db->name() + ": its synchronisation settings may not be changed (" +
                      FlagsInWords(flags) + "); allow it with 'flags " + db->name() +
                      " --settings-locked off --settings-changeable on'");
  }
  sync::SyncSettings settings;
  if (a.selection == "current") {
    settings.recordSelection = sync::kSelectCurrentRecords;
  } else if (!a.selection.empty() && a.selection != "all") {
    return Status(StatusCode::kInvalidArgument,
                  "--selection takes all or current, not '" + Shown(a.selection) + "'");
  }
  const std::map<std::string, std::int32_t> rules = {{"keep-both", sync::kKeepBoth},
                                                     {"handheld-wins", sync::kHandheldWins},
                                                     {"desktop-wins", sync::kDesktopWins}};
  if (!a.conflict.empty()) {
    const auto rule = rules.find(a.conflict);
    if (rule == rules.end()) {
      return Status(StatusCode::kInvalidArgument,
                    "--conflict takes keep-both, handheld-wins or desktop-wins, not '" +
                        Shown(a.conflict) + "'");
    }
    settings.conflictRule = rule->second;
  }
  std::vector<Field> chosen;
  if (Status s = ChosenFields(*db, a.fields, &chosen); !s.ok()) return s;
  sync::FieldSettings fieldSettings;
  fieldSettings.entries.resize(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    settings.fieldKeys.push_back(chosen[i].key);
    fieldSettings.entries[i].key = chosen[i].key;
  }
  if (Status s = ApplyFieldOptions(*db, *form, a, chosen, fieldSettings.entries); !s.ok()) {
    return s;
  }
  std::vector<std::uint8_t> first;
  std::vector<std::uint8_t> second;
  if (Status s = sync::EncodeSyncSettings(settings, &first); !s.ok()) return s;
  if (Status s = sync::EncodeFieldSettings(fieldSettings, &second); !s.ok()) return s;
  if (Status s = db->WritePluginData({{sync::kSyncSettingsKey, {first.begin(), first.end()}},
                                      {sync::kFieldSettingsKey, {second.begin(), second.end()}}});
      !s.ok()) {
    return s;
  }
  return ShowSettings(*db, *form);
}

}  // namespace tbm::tabulonpro
