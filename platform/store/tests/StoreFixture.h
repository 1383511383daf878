// A fresh device root per test and small helpers for writing and reading
// records through the store's calls.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CeDb.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::store::testing {

// A property value as a test writes or expects it.
using Value = std::variant<std::uint16_t, std::int32_t, std::uint32_t, bool, std::u16string,
                           std::vector<std::uint8_t>>;
using Record = std::map<CEPROPID, Value>;

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A host path inside this test's folder.
  std::string HostPath(const std::string& name) const;
  std::u16string WidePath(const std::string& name) const;

  CEGUID MountNew(const std::string& name);
  CEOID CreateDb(CEGUID& vol, const std::u16string& name, DWORD type,
                 std::vector<SORTORDERSPEC> sorts);
  HANDLE Open(CEGUID& vol, CEOID oid, CEPROPID sortProperty, DWORD flags = 0);

  // Writes a record (oid 0: new); returns its identifier.
  static CEOID Write(HANDLE db, CEOID oid, const Record& values);
  // Reads every property of the current record; nothing when the read fails.
  static std::optional<Record> ReadCurrent(HANDLE db, CEOID* oid = nullptr);
  // The string property of the current record.
  static std::u16string Text(HANDLE db, CEPROPID id);
  // Identifiers of all records in the handle's order, walked by position.
  static std::vector<CEOID> WalkByPosition(HANDLE db);

  tbm::testing::ScratchFolder scratch_{"tbm-store-test"};
  std::filesystem::path folder_;
  std::vector<CEGUID> mounted_;
};

}  // namespace tbm::store::testing
