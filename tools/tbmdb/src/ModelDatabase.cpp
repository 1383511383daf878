// Reading the settings of an existing database as the options that create
// one like it ("create --like"), so that an export and a create rebuild the
// same database: name, formats, attribute words, styles, value lists and
// flags.
#include "CreateDatabase.h"
#include "Database.h"
#include "MDbBlocks.h"
#include "Utf16.h"

namespace tbm::tbmdb {

using engine::Access;
using engine::Database;
using engine::OpenDatabase;

namespace {

// A value list's items: its text split at its line breaks.
std::vector<std::string> ListItems(const std::u16string& text) {
  std::vector<std::string> items;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(u"\r\n", start);
    items.push_back(Utf16ToUtf8(text.substr(start, end - start)));
    if (end == std::u16string::npos) break;
    start = end + 2;
  }
  return items;
}

Status ReadValueList(Database& db, std::int16_t list, std::vector<std::string>* items) {
  std::uint32_t bytes = 0;
  if (MDbAgentGetValListSize(db.env(), list, &bytes) != MDbErrNone || bytes < 2) {
    return db.Failed("value list " + std::to_string(list + 1) + " cannot be read");
  }
  std::u16string text(bytes / 2, u'\0');
  if (MDbAgentGetValList(db.env(), list, text.data(), bytes) != MDbErrNone) {
    return db.Failed("value list " + std::to_string(list + 1) + " cannot be read");
  }
  text.resize(Utf16Length(text.c_str()));
  *items = ListItems(text);
  return {};
}

}  // namespace

Status SettingsOfDatabase(const std::string& model, CreateOptions* options) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(model, {}, Access::kRead, &db); !s.ok()) return s;
  MDbEnv* env = db->env();
  char16_t name[261] = {};
  std::array<std::uint8_t, MDbAttrBytes> attributes{};
  if (MDbAgentGetDbName(env, name, sizeof(name)) != MDbErrNone ||
      MDbAttrTblReadAttrs(env, &env->ref, &env->attributes, 0, attributes.data()) != MDbErrNone) {
    return db->Failed("the database's name and formats cannot be read");
  }
  if (options->name.empty()) options->name = Utf16ToUtf8(name);
  options->attributes = attributes;
  const auto fieldCount = static_cast<std::int16_t>(db->fields().size());
  for (std::int16_t f = 0; f < fieldCount; ++f) {
    std::uint8_t block[MDbOptionBytes] = {};
    if (MDbRecsetGetFldOption(env, db->records(), f, block) != MDbErrNone) continue;
    const MDbFieldOption option = MDbDecodeFieldOption(block);
    FieldSettings settings;
    settings.locked = (option.flags & MDbFieldLocked) != 0;
    settings.capitalise = (option.flags & MDbFieldCapitalise) != 0;
    if (option.displayStyle() != 0)
      settings.style = static_cast<DisplayStyle>(option.displayStyle());
    if (option.valueListNumber() != MDbNoValueList) {
      std::vector<std::string> items;
      const auto list = static_cast<std::int16_t>(option.valueListNumber());
      if (Status s = ReadValueList(*db, list, &items); !s.ok()) return s;
      settings.values = std::move(items);
    }
    options->fields[db->fields()[static_cast<std::size_t>(f)].name] = std::move(settings);
  }
  return {};
}

}  // namespace tbm::tbmdb
