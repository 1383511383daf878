// A small Tabulon Pro for the plug-in's unit tests: databases held in
// memory behind a real TBHostServices table, so the command handling runs
// against the same calls the host offers. One MemoryHost at a time (the
// table's functions carry no context).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TBExtern.h"

namespace tbm::bridge::testing {

struct MemoryField {
  std::string key;  // counted bytes, at most 15
  std::string name;
  std::int32_t type = TB_FIELD_TEXT;
};

struct MemoryRecord {
  std::array<std::uint8_t, 8> identity{};
  std::int32_t modificationCount = 0;
  std::vector<std::string> texts;  // one per field, host form
};

struct MemoryDatabase {
  std::string name;
  std::uint32_t flags = 0;
  std::vector<MemoryField> fields;
  std::vector<MemoryRecord> records;
  std::vector<std::pair<std::string, std::string>> valueLists;  // name, text
  TBDateTimeFormat format{};
  std::map<std::uint32_t, std::vector<std::uint8_t>> pluginData;

  // The record with this identity, or null.
  const MemoryRecord* Find(const std::string& identity) const;
  // The texts of record i by field name.
  std::string Text(std::size_t record, const std::string& field) const;
};

// An identity as the host makes them: a counted string.
std::array<std::uint8_t, 8> MakeIdentity(const std::string& text);

class MemoryHost {
 public:
  MemoryHost();
  ~MemoryHost();
  MemoryHost(const MemoryHost&) = delete;
  MemoryHost& operator=(const MemoryHost&) = delete;

  const TBHostServices& services() const { return services_; }

  // Opens a database in the host; it stays valid until Close.
  MemoryDatabase& Open(MemoryDatabase database);
  void Close(const std::string& name);
  MemoryDatabase& Named(const std::string& name);
  TBDatabase Handle(const std::string& name);
  // The front database; null for none.
  void SetCurrent(const std::string& name);

  // Makes every field write of this text fail as unconvertible.
  std::string refusedText;
  // Makes writing plug-in data fail.
  bool refuseSettingsWrites = false;

  // ---- the services' state ----
  std::vector<std::unique_ptr<MemoryDatabase>> open;
  MemoryDatabase* current = nullptr;
  std::map<const MemoryDatabase*, std::vector<std::size_t>> chosen;  // chosen selection
  std::map<const MemoryDatabase*, long> currentRecord;               // position or -1
  std::set<const MemoryDatabase*> editing;
  int nextIdentity = 1;
  std::string lastError;

 private:
  TBHostServices services_{};
};

}  // namespace tbm::bridge::testing
