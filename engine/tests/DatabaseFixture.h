// A handheld database as synchronisation builds one: a schema of realistic
// fields, the data and delete tables, and records added through the table
// layer.
#pragma once

#include <string>
#include <vector>

#include "DataTable.h"
#include "EngineFixture.h"
#include "MDbBlocks.h"
#include "ObjectTable.h"
#include "Sequence.h"

namespace tbm::engine::testing {

// Field names of a contact database; a schema of n fields takes the first
// n, numbering the rest.
inline std::u16string FieldName(int i) {
  static const char16_t* names[] = {u"Last name", u"First name", u"Company", u"Phone",
                                    u"E-mail",    u"Street",     u"City",    u"Born",
                                    u"Category",  u"Notes",      u"Visited", u"Balance"};
  if (i < 12) return names[i];
  return u"Field " + Utf8ToUtf16(std::to_string(i + 1));
}

// A realistic value for record r, field f.
inline std::u16string Value(int r, int f) {
  static const char16_t* last[] = {u"Okafor",      u"M\u00FCller", u"Nguyen",  u"O'Brien",
                                   u"Garc\u00EDa", u"Svensson",    u"Kowalski"};
  static const char16_t* first[] = {u"Ada", u"Jos\u00E9", u"Mary-Jo", u"Li", u"Fatima"};
  switch (f) {
    case 0:
      return last[r % 7];
    case 1:
      return first[r % 5];
    case 3:
      return u"+44 20 7946 " + Utf8ToUtf16(std::to_string(1000 + r));
    case 7:
      return Utf8ToUtf16(std::to_string(1 + r % 28) + "/" + std::to_string(1 + r % 12) + "/19" +
                         std::to_string(50 + r % 50));
    default:
      return FieldName(f) + u" " + Utf8ToUtf16(std::to_string(r));
  }
}

class DatabaseTest : public EngineTest {
 protected:
  // Creates the volume with a schema of `fields` text fields and both
  // tables, and opens the data table.
  void MakeDatabase(int fields) {
    fields_ = fields;
    ASSERT_EQ(MDbCreate(&env_, Path("contacts.tbm").c_str(), &env_.ref), MDbErrNone);
    std::vector<std::uint8_t> infos(static_cast<std::size_t>(fields) * MDbFieldInfoBytes, 0);
    std::vector<std::u16string> names;
    std::vector<const char16_t*> namePtrs;
    for (int i = 0; i < fields; ++i) {
      MDbFieldInfo info;
      info.type = MDbFieldText;
      MDbEncodeFieldInfo(info, &infos[static_cast<std::size_t>(i) * MDbFieldInfoBytes]);
      names.push_back(FieldName(i));
    }
    for (const auto& n : names) namePtrs.push_back(n.c_str());
    ASSERT_EQ(MDbSchemaTblCreateEx(&env_, &env_.ref, infos.data(), namePtrs.data(),
                                   static_cast<std::int16_t>(fields)),
              MDbErrNone);
    ASSERT_EQ(MDbSchemaTblOpen(&env_, &env_.ref, &env_.schema), MDbErrNone);
    ASSERT_EQ(MDbDataTblCreate(&env_, &env_.ref, nullptr), MDbErrNone);
    ASSERT_EQ(MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr), MDbErrNone);
  }
  void TearDown() override {
    if (env_.data.opened) MDbDataTblClose(&env_, &env_.ref, &env_.data);
    if (env_.schema.opened) MDbSchemaTblClose(&env_, &env_.ref, &env_.schema);
    EngineTest::TearDown();
  }

  // Adds record r as synchronisation does; returns its identifier.
  std::uint32_t Add(int r, bool clean = true, const std::uint8_t* identity = nullptr) {
    std::vector<std::u16string> values;
    std::vector<const char16_t*> ptrs;
    for (int f = 0; f < fields_; ++f) values.push_back(Value(r, f));
    for (const auto& v : values) ptrs.push_back(v.c_str());
    MDbIdentity desktop;
    desktop.desktopId = {3, 'R', static_cast<std::uint8_t>('0' + r % 10)};
    desktop.modificationCount = 7;
    std::uint8_t id[MDbIdentityBytes];
    MDbEncodeIdentity(desktop, id);
    std::uint32_t oid = 0;
    EXPECT_EQ(MDbDataTblAddRec(&env_, &env_.ref, &env_.data, identity ? identity : id, ptrs.data(),
                               static_cast<std::int16_t>(fields_), clean ? 1 : 0, &oid, nullptr),
              MDbErrNone);
    return oid;
  }

  std::uint32_t Count() {
    std::uint32_t n = 0;
    EXPECT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &n), MDbErrNone);
    return n;
  }
  std::uint32_t DeleteCount() {
    std::uint32_t n = 0;
    EXPECT_EQ(MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &n), MDbErrNone);
    return n;
  }
  // Field f of the record with identifier oid, read through a record handle.
  std::u16string Field(std::uint32_t oid, int f) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    if (MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, &oid) != MDbErrNone) {
      return u"<no record>";
    }
    char16_t buffer[512];
    const auto rc = MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec,
                                        static_cast<std::int16_t>(f), buffer, sizeof buffer);
    MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
    return rc == MDbErrNone ? std::u16string(buffer) : u"<failed>";
  }
  std::uint8_t State(std::uint32_t oid) {
    MDbDataRec rec;
    MDbDataRecInitialize(&rec);
    std::uint8_t state = 0xFF;
    if (MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec, &oid) == MDbErrNone) {
      MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rec, &state);
      MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec);
    }
    return state;
  }
  std::uint32_t Counter(std::uint16_t which) {
    std::uint32_t v = 0;
    EXPECT_EQ(ReadCounter(&env_.ref, which, &v), MDbErrNone);
    return v;
  }

  int fields_ = 0;
};

}  // namespace tbm::engine::testing
