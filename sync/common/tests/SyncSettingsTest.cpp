// The settings records "QZP1" and "QZP2" byte by byte, and the damaged
// records a reader must refuse.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "SyncSettings.h"

namespace tbm::sync {
namespace {

TEST(SyncSettingsTest, BothRecordsReadBackAsWrittenInBigEndianOrder) {
  SyncSettings settings;
  settings.recordSelection = kSelectCurrentRecords;
  settings.conflictRule = kDesktopWins;
  settings.fieldKeys = {"F1", "Name", std::string(15, 'k')};
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(EncodeSyncSettings(settings, &bytes).ok());
  ASSERT_EQ(bytes.size(), kSyncSettingsBytes);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 15),
            (std::vector<std::uint8_t>{0, 2, 0, 0, 0, 0, 0, 0, 0, 3, 0, 3, 2, 'F', '1'}));
  SyncSettings read;
  ASSERT_TRUE(DecodeSyncSettings(bytes, &read).ok());
  EXPECT_EQ(read.version, 2);
  EXPECT_EQ(read.recordSelection, kSelectCurrentRecords);
  EXPECT_EQ(read.conflictRule, kDesktopWins);
  EXPECT_EQ(read.fieldKeys, settings.fieldKeys);

  // The older form holds up to 30 keys in 492 bytes.
  std::vector<std::uint8_t> old(bytes.begin(), bytes.begin() + kOldSyncSettingsBytes);
  ASSERT_TRUE(DecodeSyncSettings(old, &read).ok());
  EXPECT_EQ(read.fieldKeys.size(), 3u);

  FieldSettings fields;
  FieldSetting setting;
  setting.key = "Name";
  setting.optionFlags = kOptionEntryLocked | kOptionCapitalise;
  setting.displayStyle = kStyleDropDownCombo;
  setting.valueListName = "Citys";
  setting.stored[40] = 0xAB;  // a byte of the host's own, kept
  fields.Put(setting);
  FieldSetting other;
  other.key = "F1";
  fields.Put(other);
  ASSERT_TRUE(EncodeFieldSettings(fields, &bytes).ok());
  ASSERT_EQ(bytes.size(), 6 + 2 * kFieldSettingBytes);
  EXPECT_EQ(bytes[1], 1);
  EXPECT_EQ(bytes[5], 2);
  EXPECT_EQ(bytes[6 + 1], 3);   // flags, big-endian
  EXPECT_EQ(bytes[6 + 3], 2);   // display style
  EXPECT_EQ(bytes[6 + 68], 4);  // key length
  EXPECT_EQ(bytes[6 + 84], 5);  // value list name length
  FieldSettings readFields;
  ASSERT_TRUE(DecodeFieldSettings(bytes, &readFields).ok());
  const FieldSetting* name = readFields.Find("Name");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->optionFlags, 3);
  EXPECT_EQ(name->displayStyle, kStyleDropDownCombo);
  EXPECT_EQ(name->valueListName, "Citys");
  EXPECT_EQ(name->stored[40], 0xAB);
  EXPECT_EQ(readFields.Find("Gone"), nullptr);
}

TEST(SyncSettingsTest, DamagedRecordsAreRefusedWithoutReadingPastThem) {
  SyncSettings settings;
  settings.fieldKeys = {"A"};
  std::vector<std::uint8_t> good;
  ASSERT_TRUE(EncodeSyncSettings(settings, &good).ok());
  SyncSettings read;
  read.conflictRule = 99;

  std::vector<std::uint8_t> shortRecord(good.begin(), good.begin() + 500);
  EXPECT_EQ(DecodeSyncSettings(shortRecord, &read).code(), StatusCode::kDamaged);
  std::vector<std::uint8_t> tooMany = good;
  tooMany[11] = 51;
  EXPECT_EQ(DecodeSyncSettings(tooMany, &read).code(), StatusCode::kDamaged);
  std::vector<std::uint8_t> oldTooMany(good.begin(), good.begin() + kOldSyncSettingsBytes);
  oldTooMany[11] = 31;
  EXPECT_EQ(DecodeSyncSettings(oldTooMany, &read).code(), StatusCode::kDamaged);
  std::vector<std::uint8_t> negative = good;
  negative[10] = 0xFF;
  EXPECT_EQ(DecodeSyncSettings(negative, &read).code(), StatusCode::kDamaged);
  std::vector<std::uint8_t> longKey = good;
  longKey[12] = 16;
  const Status status = DecodeSyncSettings(longKey, &read);
  EXPECT_EQ(status.code(), StatusCode::kDamaged);
  EXPECT_NE(status.message().find("field key 1"), std::string::npos) << status.message();
  EXPECT_EQ(read.conflictRule, 99) << "nothing is returned from a damaged record";

  FieldSettings fields;
  EXPECT_EQ(DecodeFieldSettings(std::vector<std::uint8_t>{0, 1, 0}, &fields).code(),
            StatusCode::kDamaged);
  std::vector<std::uint8_t> claims(6 + kFieldSettingBytes, 0);
  claims[5] = 2;  // two settings, room for one
  EXPECT_EQ(DecodeFieldSettings(claims, &fields).code(), StatusCode::kDamaged);
  claims[2] = 0x80;  // negative count
  EXPECT_EQ(DecodeFieldSettings(claims, &fields).code(), StatusCode::kDamaged);
  claims[2] = 0;
  claims[5] = 1;
  claims[6 + 84] = 6;  // value-list name longer than its slot
  EXPECT_EQ(DecodeFieldSettings(claims, &fields).code(), StatusCode::kDamaged);

  settings.fieldKeys.assign(51, "k");
  EXPECT_EQ(EncodeSyncSettings(settings, &good).code(), StatusCode::kInvalidArgument);
  settings.fieldKeys = {"F1", std::string(16, 'k')};
  const Status tooLong = EncodeSyncSettings(settings, &good);
  EXPECT_EQ(tooLong.code(), StatusCode::kInvalidArgument);
  EXPECT_NE(tooLong.message().find("field key 2"), std::string::npos) << tooLong.message();

  // A field key in its slot as the host keeps it: the same counted form.
  std::array<std::uint8_t, kFieldKeySlotBytes> slot{};
  PutFieldKey(slot, std::string(20, 'x'));
  std::string key = "before";
  ASSERT_TRUE(GetFieldKey(slot, &key));
  EXPECT_EQ(key, std::string(15, 'x'));
  slot[0] = 16;
  EXPECT_FALSE(GetFieldKey(slot, &key));
  EXPECT_EQ(key, std::string(15, 'x'));
}

}  // namespace
}  // namespace tbm::sync
