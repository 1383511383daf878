// A contact database's description as synchronisation writes it: 25 fields
// of every type, their options with display orders, the attributes with
// the database's name, and three value lists. Tests damage it through the
// store directly, the way a broken file would look.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Description.h"
#include "EngineFixture.h"
#include "MDbBlocks.h"

namespace tbm::engine::testing {

struct ContactField {
  const char16_t* name;
  std::uint8_t type;
  std::uint8_t style;       // display style: 0 edit, 1 list, 2 combo, 3 check box, 5 zoom
  std::uint16_t valueList;  // 0xFFFF: none
};

inline const std::vector<ContactField>& ContactFields() {
  static const std::vector<ContactField> fields = {
      {u"Last name", MDbFieldText, 0, 0xFFFF},      {u"First name", MDbFieldText, 0, 0xFFFF},
      {u"Company", MDbFieldText, 0, 0xFFFF},        {u"Title", MDbFieldText, 0, 0xFFFF},
      {u"Relationship", MDbFieldText, 1, 0},        {u"Born", MDbFieldDate, 0, 0xFFFF},
      {u"Phone (work)", MDbFieldText, 0, 0xFFFF},   {u"Phone (home)", MDbFieldText, 0, 0xFFFF},
      {u"Phone (mobile)", MDbFieldText, 0, 0xFFFF}, {u"Fax", MDbFieldText, 0, 0xFFFF},
      {u"E-mail", MDbFieldText, 0, 0xFFFF},         {u"Web page", MDbFieldText, 0, 0xFFFF},
      {u"Street", MDbFieldText, 0, 0xFFFF},         {u"City", MDbFieldText, 0, 0xFFFF},
      {u"Postal code", MDbFieldText, 0, 0xFFFF},    {u"Country", MDbFieldText, 2, 1},
      {u"Children", MDbFieldNumber, 0, 0xFFFF},     {u"Credit limit", MDbFieldNumber, 0, 0xFFFF},
      {u"Customer since", MDbFieldDate, 0, 0xFFFF}, {u"Call after", MDbFieldTime, 0, 0xFFFF},
      {u"Newsletter", MDbFieldText, 3, 2},          {u"Last contacted", MDbFieldDate, 0, 0xFFFF},
      {u"Category", MDbFieldText, 0, 0xFFFF},       {u"Rating", MDbFieldNumber, 0, 0xFFFF},
      {u"Notes", MDbFieldText, 5, 0xFFFF},
  };
  return fields;
}

constexpr std::int16_t kContactFieldCount = 25;

inline const std::vector<std::u16string>& ContactValueLists() {
  static const std::vector<std::u16string> lists = {
      u"Customer\r\nSupplier\r\n-\r\nOther",
      u"Germany\r\nFrance\r\nItaly\r\nUnited Kingdom\r\nUnited States",
      u"Yes\r\nNo",
  };
  return lists;
}

// The field-information block: the type, then the field key "C<nn>" as a
// counted string.
inline std::array<std::uint8_t, MDbFieldInfoBytes> ContactInfo(int field) {
  MDbFieldInfo info;
  info.type = ContactFields()[static_cast<std::size_t>(field)].type;
  info.key = {3, 'C', static_cast<std::uint8_t>('0' + field / 10),
              static_cast<std::uint8_t>('0' + field % 10)};
  std::array<std::uint8_t, MDbFieldInfoBytes> block{};
  MDbEncodeFieldInfo(info, block.data());
  return block;
}

// The option block as synchronisation writes it: three little-endian words,
// the flags (the names capitalised), the display style, the value list.
inline std::array<std::uint8_t, MDbOptionBytes> ContactOption(int field) {
  const ContactField& f = ContactFields()[static_cast<std::size_t>(field)];
  MDbFieldOption option;
  option.flags = field < 2 ? MDbFieldCapitalise : 0;
  option.style = f.style;
  option.valueList = static_cast<std::uint16_t>(f.valueList);
  std::array<std::uint8_t, MDbOptionBytes> block{};
  MDbEncodeFieldOption(option, block.data());
  return block;
}

// Display position of each field: a shuffle, so that no order equals its
// field number by accident.
inline std::uint8_t ContactDisplayOrder(int field) {
  return static_cast<std::uint8_t>((field * 7) % kContactFieldCount);
}

// The extended block: width, alignment, colour 0x00BBGGRR, display order,
// and two opaque bytes.
inline std::array<std::uint8_t, MDbOptionExBytes> ContactOptionEx(int field) {
  MDbFieldOptionEx ex;
  ex.width = static_cast<std::uint8_t>(40 + field);
  ex.alignment = static_cast<std::uint8_t>(field % 3 == 0 ? 3 : 0);
  ex.colour = 0x00800020u | (static_cast<std::uint32_t>(field) << 8);
  ex.displayOrder = ContactDisplayOrder(field);
  ex.kept = {0, static_cast<std::uint8_t>(0xA0 + field % 16)};
  std::array<std::uint8_t, MDbOptionExBytes> block{};
  MDbEncodeFieldOptionEx(ex, block.data());
  return block;
}

// The attribute block as synchronisation creates it.
inline std::array<std::uint8_t, MDbAttrBytes> ContactAttrs() {
  MDbAttributes attrs;
  attrs.lead[4] = 1;
  attrs.words[2] = 0x00000E00;
  attrs.words[3] = 0x00030001;
  const char date[] = "MDY/";
  for (std::size_t i = 0; i < 4; ++i) attrs.dateFormat[i] = static_cast<std::uint8_t>(date[i]);
  const char time[] = "hh:mm:ss AM PM";
  for (std::size_t i = 0; i < sizeof time - 1; ++i) {
    attrs.timeFormat[i] = static_cast<std::uint8_t>(time[i]);
  }
  std::array<std::uint8_t, MDbAttrBytes> block{};
  MDbEncodeAttributes(attrs, block.data());
  return block;
}

inline const char16_t* ContactDbName() { return u"Customers & Suppliers"; }

class DescriptionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(MDbCreate(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  }
  void TearDown() override {
    // The option cache is memory of the engine's: give it back.
    MDbFieldOpTblClose(&env_, &env_.ref, &env_.fieldOptions);
    MDbSchemaTblClose(&env_, &env_.ref, &env_.schema);
    MDbAttrTblClose(&env_, &env_.ref, &env_.attributes);
    MDbValListTblClose(&env_, &env_.ref, &env_.valueLists);
    EngineTest::TearDown();
  }

  // Writes the first `fields` field definitions of the contact database.
  std::int32_t CreateSchema(std::int16_t fields = kContactFieldCount) {
    std::vector<std::uint8_t> infos;
    std::vector<const char16_t*> names;
    for (int i = 0; i < fields; ++i) {
      const auto info = ContactInfo(i);
      infos.insert(infos.end(), info.begin(), info.end());
      names.push_back(ContactFields()[static_cast<std::size_t>(i)].name);
    }
    return MDbSchemaTblCreateEx(&env_, &env_.ref, infos.data(), names.data(), fields);
  }

  std::int32_t CreateOptions(std::int16_t fields = kContactFieldCount) {
    std::vector<std::uint8_t> entries;
    for (int i = 0; i < fields; ++i) {
      const auto option = ContactOption(i);
      const auto ex = ContactOptionEx(i);
      entries.insert(entries.end(), option.begin(), option.end());
      entries.insert(entries.end(), ex.begin(), ex.end());
    }
    return MDbFieldOpTblCreateEx(&env_, &env_.ref, entries.data(), fields);
  }

  std::int32_t CreateAttrs() {
    const auto attrs = ContactAttrs();
    return MDbAttrTblCreateEx(&env_, &env_.ref, attrs.data(), ContactDbName());
  }

  std::int32_t CreateValueLists() {
    std::vector<const char16_t*> lists;
    for (const auto& l : ContactValueLists()) lists.push_back(l.c_str());
    return MDbValListTblCreateEx(&env_, &env_.ref, lists.data(),
                                 static_cast<std::int16_t>(lists.size()));
  }

  // The whole description, as a refresh by synchronisation leaves it.
  void CreateContacts() {
    ASSERT_EQ(CreateSchema(), MDbErrNone);
    ASSERT_EQ(CreateOptions(), MDbErrNone);
    ASSERT_EQ(CreateAttrs(), MDbErrNone);
    ASSERT_EQ(CreateValueLists(), MDbErrNone);
  }

  // Closes the volume, lets Tamper rewrite one property of entry (kind,
  // index) in the store (or remove the entry when value is null), and opens
  // the volume again. Table handles keep their flags across.
  void Damage(std::uint16_t kind, std::uint16_t index, CEPROPVAL* value) {
    ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
    Tamper(kFile, ObjKey(kind, index), value);
    ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  }

  // Replaces a block property by one of `bytes` bytes.
  void DamageBlock(std::uint16_t kind, std::uint16_t index, CEPROPID id, std::uint32_t bytes) {
    std::vector<std::uint8_t> block(bytes, 0x5A);
    CEPROPVAL v{};
    v.propid = id;
    v.val.blob.dwCount = bytes;
    v.val.blob.lpb = block.data();
    Damage(kind, index, &v);
  }

  // Stores property `id` of an entry with another type than the layout's:
  // the property removed, one of the same number and another type (a
  // string for a block, a block for a string) put in its place.
  void DamageType(std::uint16_t kind, std::uint16_t index, CEPROPID id) {
    CEPROPVAL remove{};
    remove.propid = id;
    remove.wFlags = CEDB_PROPDELETE;
    Damage(kind, index, &remove);
    const WORD other = TypeFromPropId(id) == CEVT_LPWSTR ? CEVT_BLOB : CEVT_LPWSTR;
    std::u16string text = u"not what it should be";
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    CEPROPVAL replacement{};
    replacement.propid = PropId(IndexFromPropId(id), other);
    if (other == CEVT_LPWSTR) {
      replacement.val.lpwstr = text.data();
    } else {
      replacement.val.blob.dwCount = sizeof bytes;
      replacement.val.blob.lpb = bytes;
    }
    Damage(kind, index, &replacement);
  }

  // Writes one block property of an existing entry straight through the
  // object table, past every handle and cache of the description tables.
  std::int32_t StoreBehindTheBack(std::uint16_t kind, std::uint16_t index, CEPROPID id,
                                  std::vector<std::uint8_t> block) {
    CEPROPVAL v{};
    v.propid = id;
    v.val.blob.dwCount = static_cast<DWORD>(block.size());
    v.val.blob.lpb = block.data();
    return WriteEntry(&env_.ref, kind, index, &v, 1);
  }

  static constexpr const char* kFile = "contacts.tbm";
};

}  // namespace tbm::engine::testing
