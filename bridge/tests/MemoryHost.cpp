#include "MemoryHost.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tbm::bridge::testing {
namespace {

MemoryHost* g_host = nullptr;

MemoryDatabase* Db(TBDatabase db) { return reinterpret_cast<MemoryDatabase*>(db); }

std::int32_t Fail(std::int32_t code, const std::string& words) {
  g_host->lastError = words;
  return code;
}

std::int32_t Ok(std::int32_t result = TB_OK) {
  g_host->lastError.clear();
  return result;
}

std::int32_t CopyOut(const std::string& text, char* buffer, std::int32_t size) {
  if (size > 0) {
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return Ok(static_cast<std::int32_t>(text.size()));
}

MemoryRecord* CurrentRecord(MemoryDatabase* db) {
  const long at = g_host->currentRecord[db];
  if (at < 0 || static_cast<std::size_t>(at) >= db->records.size()) return nullptr;
  return &db->records[static_cast<std::size_t>(at)];
}

bool ValidField(MemoryDatabase* db, std::int32_t field) {
  return field >= 0 && static_cast<std::size_t>(field) < db->fields.size();
}

void MakeServices(TBHostServices* s) {
  s->size = sizeof(TBHostServices);
  s->interfaceVersion = TB_INTERFACE_VERSION;
  s->edition = TB_EDITION_STANDARD;
  s->lastError = [] { return g_host->lastError.c_str(); };
  s->countDatabases = [] { return Ok(static_cast<std::int32_t>(g_host->open.size())); };
  s->database = [](std::int32_t i) -> TBDatabase {
    if (i < 0 || static_cast<std::size_t>(i) >= g_host->open.size()) return nullptr;
    return reinterpret_cast<TBDatabase>(g_host->open[static_cast<std::size_t>(i)].get());
  };
  s->currentDatabase = [] { return reinterpret_cast<TBDatabase>(g_host->current); };
  s->queryFlags = [](TBDatabase db, std::uint32_t query) {
    return query == TB_QUERY_SYNC_FLAGS ? Db(db)->flags : 0u;
  };
  s->databaseName = [](TBDatabase db, char* buffer, std::int32_t size) {
    return CopyOut(Db(db)->name, buffer, size);
  };
  s->dateTimeFormat = [](TBDatabase db, TBDateTimeFormat* format) {
    *format = Db(db)->format;
    return Ok();
  };
  s->recordCount = [](TBDatabase db) {
    return Ok(static_cast<std::int32_t>(Db(db)->records.size()));
  };
  s->readPluginData = [](TBDatabase db, std::uint32_t key, void* buffer, std::int32_t size) {
    const auto found = Db(db)->pluginData.find(key);
    if (found == Db(db)->pluginData.end()) return Fail(TB_ERR_NOT_FOUND, "no plug-in data");
    const std::size_t n =
        std::min<std::size_t>(found->second.size(), static_cast<std::size_t>(size));
    if (n > 0) std::memcpy(buffer, found->second.data(), n);
    return Ok(static_cast<std::int32_t>(found->second.size()));
  };
  s->writePluginData = [](TBDatabase db, std::uint32_t key, const void* data, std::int32_t size) {
    if (g_host->refuseSettingsWrites) return Fail(TB_ERR_FAILED, "the database is read-only");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    Db(db)->pluginData[key].assign(bytes, bytes + size);
    return Ok();
  };
  s->chooseSelection = [](TBDatabase db, std::int32_t selection) {
    // Nobody selects records here: the current selection is empty.
    std::vector<std::size_t> positions;
    if (selection == TB_SELECTION_ALL) {
      for (std::size_t i = 0; i < Db(db)->records.size(); ++i) positions.push_back(i);
    }
    g_host->chosen[Db(db)] = positions;
    return Ok(static_cast<std::int32_t>(positions.size()));
  };
  s->goToRecord = [](TBDatabase db, std::int32_t n) {
    const auto& positions = g_host->chosen[Db(db)];
    if (n < 1 || static_cast<std::size_t>(n) > positions.size()) {
      return Fail(TB_ERR_BAD_ARGUMENT, "no such record in the selection");
    }
    g_host->currentRecord[Db(db)] = static_cast<long>(positions[static_cast<std::size_t>(n) - 1]);
    return Ok();
  };
  s->recordIdentity = [](TBDatabase db, TBRecordIdentity* identity) {
    MemoryRecord* record = CurrentRecord(Db(db));
    if (record == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    std::copy(record->identity.begin(), record->identity.end(), identity->bytes);
    return Ok();
  };
  s->modificationCount = [](TBDatabase db) {
    MemoryRecord* record = CurrentRecord(Db(db));
    if (record == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    return Ok(record->modificationCount);
  };
  s->findRecord = [](TBDatabase db, const TBRecordIdentity* identity) {
    auto& records = Db(db)->records;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (std::equal(records[i].identity.begin(), records[i].identity.end(), identity->bytes)) {
        g_host->currentRecord[Db(db)] = static_cast<long>(i);
        return Ok();
      }
    }
    return Fail(TB_ERR_NOT_FOUND, "no record with that identity");
  };
  s->createRecord = [](TBDatabase db) {
    MemoryRecord record;
    record.identity = MakeIdentity("N" + std::to_string(g_host->nextIdentity++));
    record.texts.assign(Db(db)->fields.size(), "");
    Db(db)->records.push_back(record);
    g_host->currentRecord[Db(db)] = static_cast<long>(Db(db)->records.size() - 1);
    return Ok();
  };
  s->duplicateRecord = [](TBDatabase db) {
    MemoryRecord* record = CurrentRecord(Db(db));
    if (record == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    MemoryRecord copy = *record;
    copy.identity = MakeIdentity("D" + std::to_string(g_host->nextIdentity++));
    copy.modificationCount = 0;
    Db(db)->records.push_back(copy);
    g_host->currentRecord[Db(db)] = static_cast<long>(Db(db)->records.size() - 1);
    return Ok();
  };
  s->deleteRecord = [](TBDatabase db) {
    const long at = g_host->currentRecord[Db(db)];
    if (CurrentRecord(Db(db)) == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    Db(db)->records.erase(Db(db)->records.begin() + at);
    g_host->currentRecord[Db(db)] = -1;
    return Ok();
  };
  s->beginEdit = [](TBDatabase db) {
    if (CurrentRecord(Db(db)) == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    g_host->editing.insert(Db(db));
    return Ok();
  };
  s->commitEdit = [](TBDatabase db) {
    if (g_host->editing.erase(Db(db)) == 0) return Fail(TB_ERR_NOT_EDITING, "no edit");
    if (MemoryRecord* record = CurrentRecord(Db(db))) ++record->modificationCount;
    return Ok();
  };
  s->countFields = [](TBDatabase db) {
    return Ok(static_cast<std::int32_t>(Db(db)->fields.size()));
  };
  s->fieldByKey = [](TBDatabase db, const TBFieldKey* key) {
    const std::string wanted(reinterpret_cast<const char*>(key->bytes + 1), key->bytes[0]);
    for (std::size_t i = 0; i < Db(db)->fields.size(); ++i) {
      if (Db(db)->fields[i].key == wanted) return Ok(static_cast<std::int32_t>(i));
    }
    return Fail(TB_ERR_NOT_FOUND, "no field with that key");
  };
  s->fieldKey = [](TBDatabase db, std::int32_t field, TBFieldKey* key) {
    if (!ValidField(Db(db), field)) return Fail(TB_ERR_BAD_ARGUMENT, "no such field");
    const std::string& bytes = Db(db)->fields[static_cast<std::size_t>(field)].key;
    std::memset(key->bytes, 0, sizeof key->bytes);
    key->bytes[0] = static_cast<std::uint8_t>(bytes.size());
    std::memcpy(key->bytes + 1, bytes.data(), bytes.size());
    return Ok();
  };
  s->fieldType = [](TBDatabase db, std::int32_t field) {
    if (!ValidField(Db(db), field)) return Fail(TB_ERR_BAD_ARGUMENT, "no such field");
    return Ok(Db(db)->fields[static_cast<std::size_t>(field)].type);
  };
  s->fieldName = [](TBDatabase db, std::int32_t field, char* buffer, std::int32_t size) {
    if (!ValidField(Db(db), field)) return Fail(TB_ERR_BAD_ARGUMENT, "no such field");
    return CopyOut(Db(db)->fields[static_cast<std::size_t>(field)].name, buffer, size);
  };
  s->readFieldText = [](TBDatabase db, std::int32_t field, char* buffer, std::int32_t size) {
    MemoryRecord* record = CurrentRecord(Db(db));
    if (record == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    if (!ValidField(Db(db), field)) return Fail(TB_ERR_BAD_ARGUMENT, "no such field");
    return CopyOut(record->texts[static_cast<std::size_t>(field)], buffer, size);
  };
  s->writeFieldText = [](TBDatabase db, std::int32_t field, const char* text, std::int32_t length) {
    MemoryRecord* record = CurrentRecord(Db(db));
    if (record == nullptr) return Fail(TB_ERR_NO_RECORD, "no current record");
    if (g_host->editing.count(Db(db)) == 0) return Fail(TB_ERR_NOT_EDITING, "not editing");
    if (!ValidField(Db(db), field)) return Fail(TB_ERR_BAD_ARGUMENT, "no such field");
    const std::string value(text, static_cast<std::size_t>(length));
    if (!g_host->refusedText.empty() && value == g_host->refusedText) {
      return Fail(TB_ERR_UNCONVERTIBLE, "the text does not convert");
    }
    record->texts[static_cast<std::size_t>(field)] = value;
    return Ok();
  };
  s->countValueLists = [](TBDatabase db) {
    return Ok(static_cast<std::int32_t>(Db(db)->valueLists.size()));
  };
  s->valueListName = [](TBDatabase db, std::int32_t index, char* buffer, std::int32_t size) {
    if (index < 0 || static_cast<std::size_t>(index) >= Db(db)->valueLists.size()) {
      return Fail(TB_ERR_BAD_ARGUMENT, "no such value list");
    }
    return CopyOut(Db(db)->valueLists[static_cast<std::size_t>(index)].first, buffer, size);
  };
  s->valueListText = [](TBDatabase db, const char* name, char* buffer, std::int32_t size) {
    for (const auto& [listName, text] : Db(db)->valueLists) {
      if (listName == name) return CopyOut(text, buffer, size);
    }
    return Fail(TB_ERR_NOT_FOUND, "no value list of that name");
  };
}

}  // namespace

const MemoryRecord* MemoryDatabase::Find(const std::string& identity) const {
  const auto wanted = MakeIdentity(identity);
  for (const MemoryRecord& record : records) {
    if (record.identity == wanted) return &record;
  }
  return nullptr;
}

std::string MemoryDatabase::Text(std::size_t record, const std::string& field) const {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == field) return records.at(record).texts.at(i);
  }
  throw std::out_of_range("no field " + field);
}

std::array<std::uint8_t, 8> MakeIdentity(const std::string& text) {
  std::array<std::uint8_t, 8> identity{};
  identity[0] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), identity.begin() + 1);
  return identity;
}

MemoryHost::MemoryHost() {
  g_host = this;
  MakeServices(&services_);
}

MemoryHost::~MemoryHost() { g_host = nullptr; }

MemoryDatabase& MemoryHost::Open(MemoryDatabase database) {
  open.push_back(std::make_unique<MemoryDatabase>(std::move(database)));
  currentRecord[open.back().get()] = -1;
  return *open.back();
}

void MemoryHost::Close(const std::string& name) {
  std::erase_if(open, [&](const auto& db) { return db->name == name; });
}

MemoryDatabase& MemoryHost::Named(const std::string& name) {
  for (auto& db : open) {
    if (db->name == name) return *db;
  }
  throw std::out_of_range("no database " + name);
}

TBDatabase MemoryHost::Handle(const std::string& name) {
  return reinterpret_cast<TBDatabase>(&Named(name));
}

void MemoryHost::SetCurrent(const std::string& name) { current = &Named(name); }

}  // namespace tbm::bridge::testing
