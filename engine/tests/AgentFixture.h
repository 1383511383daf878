// A contact database as synchronisation leaves it on the handheld (text,
// number, date and time fields, attributes with the database's date and
// time formats, a value list, consistency value 1), opened through the agent
// layer the way the handheld application opens it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "MDbBlocks.h"

namespace tbm::engine::testing {

enum ContactField : std::int16_t { kLast, kFirst, kCity, kQty, kBorn, kStart, kFieldCount };

struct Contact {
  const char16_t* values[kFieldCount];
};

// Twelve people; dates month/day/year, times on the 12-hour clock.
inline const std::vector<Contact>& Contacts() {
  static const std::vector<Contact> contacts = {
      {{u"Johnson", u"Ada", u"London", u"5", u"3/4/1985", u"9:30 AM"}},
      {{u"de Jong", u"Pieter", u"Utrecht", u"12", u"12/31/1999", u"1:15 PM"}},
      {{u"Major", u"Zo\u00EB", u"Paris", u"5.7", u"1/5/2005", u"12:00 AM"}},
      {{u"O'Brien", u"Sean", u"Dublin", u"15", u"7/14/1970", u"6:45 PM"}},
      {{u"Okafor", u"Chidi", u"Lagos", u"50", u"2/29/2004", u"11:59 PM"}},
      {{u"M\u00FCller", u"J\u00FCrgen", u"Stra\u00DFburg", u"-3", u"10/10/1960", u"8:00 AM"}},
      {{u"Nguyen", u"Linh", u"Hanoi", u"", u"", u""}},
      {{u"Smith", u"John", u"5 Route de Lyon", u"7", u"3/4/1990", u"9:30 AM"}},
      {{u"Johansson", u"Mary-Jo", u"Malm\u00F6", u"none", u"never", u"late"}},
      {{u"Garc\u00EDa", u"Jos\u00E9", u"Sevilla", u"1,234", u"5/6/1978", u"7:05 AM"}},
      {{u"Tanaka", u"Yui", u"\u6771\u4EAC", u"0005", u"8/8/2008", u"12:30 PM"}},
      {{u"Adams", u"Joan", u"Boston", u"5", u"3/4/1985", u"3:00 PM"}},
  };
  return contacts;
}

class AgentTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    MDbShutdown(&env_);
    MDbEnvInitialize(&env_);
    ASSERT_EQ(MDbInit(&env_, 1), MDbErrNone);  // with the word-break library, as the program
    path_ = Path("contacts.tbm");
    Build(Contacts(), 1);
    ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone);
    MDbRecsetInitialize(&rs_);
  }
  void TearDown() override {
    MDbRecsetDestroy(&env_, &rs_);
    MDbAgentCloseDb(&env_);
    EngineTest::TearDown();
  }

  // Writes the database file with the given records and consistency value.
  void Build(const std::vector<Contact>& records, std::uint32_t consistency,
             int fieldCount = kFieldCount) {
    MDbEnv env;
    MDbEnvInitialize(&env);
    ASSERT_EQ(MDbInit(&env, 0), MDbErrNone);
    ASSERT_EQ(MDbCreate(&env, path_.c_str(), &env.ref), MDbErrNone);
    static const std::uint8_t types[kFieldCount] = {MDbFieldText,   MDbFieldText, MDbFieldText,
                                                    MDbFieldNumber, MDbFieldDate, MDbFieldTime};
    static const char16_t* names[kFieldCount] = {u"Last name", u"First name", u"City",
                                                 u"Qty",       u"Born",       u"Start"};
    std::vector<std::uint8_t> infos(kFieldCount * MDbFieldInfoBytes, 0);
    for (int f = 0; f < kFieldCount; ++f) {
      MDbFieldInfo info;
      info.type = types[f];
      MDbEncodeFieldInfo(info, &infos[f * MDbFieldInfoBytes]);
    }
    ASSERT_EQ(MDbSchemaTblCreateEx(&env, &env.ref, infos.data(), names,
                                   static_cast<std::int16_t>(fieldCount)),
              MDbErrNone);
    std::vector<std::uint8_t> options(kFieldCount * MDbOptionEntryBytes, 0);
    for (int f = 0; f < kFieldCount; ++f) {
      MDbFieldOption none;  // no value list
      none.valueList = MDbNoValueList;
      MDbEncodeFieldOption(none, &options[f * MDbOptionEntryBytes]);
      MDbFieldOpTblGetDefOptionEx(&options[f * MDbOptionEntryBytes + MDbOptionBytes],
                                  static_cast<std::uint8_t>(f), kFieldCount);
    }
    ASSERT_EQ(MDbFieldOpTblCreateEx(&env, &env.ref, options.data(),
                                    static_cast<std::int16_t>(fieldCount)),
              MDbErrNone);
    ASSERT_EQ(MDbAttrTblCreateEx(&env, &env.ref, Attributes().data(), u"Contacts"), MDbErrNone);
    const char16_t* lists[] = {u"Customer\r\nSupplier\r\n-\r\nOther"};
    ASSERT_EQ(MDbValListTblCreateEx(&env, &env.ref, lists, 1), MDbErrNone);
    ASSERT_EQ(MDbDataTblCreate(&env, &env.ref, nullptr), MDbErrNone);
    ASSERT_EQ(MDbDataTblOpen(&env, &env.ref, &env.data, nullptr), MDbErrNone);
    MDbIdentity desktop;
    desktop.desktopId = {2, 'D', '1'};
    std::uint8_t identity[MDbIdentityBytes];
    MDbEncodeIdentity(desktop, identity);
    for (const auto& c : records) {
      ASSERT_EQ(MDbDataTblAddRec(&env, &env.ref, &env.data, identity, c.values,
                                 static_cast<std::int16_t>(fieldCount), 1, nullptr, nullptr),
                MDbErrNone);
    }
    ASSERT_EQ(MDbDataTblClose(&env, &env.ref, &env.data), MDbErrNone);
    ASSERT_EQ(MDbWriteChecksome(&env, &env.ref, consistency), MDbErrNone);
    ASSERT_EQ(MDbClose(&env, &env.ref), MDbErrNone);
    MDbShutdown(&env);
  }

  // The attribute block: views' words, month/day/year with "/", and the
  // 12-hour clock with ":" and AM/PM.
  static std::array<std::uint8_t, MDbAttrBytes> Attributes() {
    MDbAttributes attrs;
    attrs.lead[4] = 1;
    attrs.words[2] = 0x00000E00;
    attrs.words[3] = 0x00030001;
    attrs.dateFormat[0] = u'/';  // byte 2, the order, 0: month-day-year
    auto put = [&](std::size_t at, const char16_t* text) {
      for (std::size_t i = 0; text[i]; ++i) {
        attrs.timeFormat[at + 2 * i] = static_cast<std::uint8_t>(text[i]);
        attrs.timeFormat[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
      }
    };
    attrs.timeFormat[0] = u':';
    put(2, u"AM");
    put(14, u"PM");
    attrs.timeFormat[47] = 1;  // 12-hour clock
    std::array<std::uint8_t, MDbAttrBytes> block{};
    MDbEncodeAttributes(attrs, block.data());
    return block;
  }

  // The value of field f in each record of the set, in the set's order.
  std::vector<std::u16string> Column(std::int16_t f) {
    std::vector<std::u16string> out;
    std::uint32_t count = 0;
    EXPECT_EQ(MDbRecsetGetRecCount(&env_, &rs_, &count), MDbErrNone);
    for (std::uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(MDbRecsetSetInx(&env_, &rs_, static_cast<std::int16_t>(i)), MDbErrNone);
      if (MDbRecsetOpenRec(&env_, &rs_) != MDbErrNone) {
        out.push_back(u"<cannot open>");
        continue;
      }
      const char16_t* text = nullptr;
      EXPECT_EQ(MDbRecsetGetFieldPtr(&env_, &rs_, f, &text), MDbErrNone);
      out.push_back(text ? text : u"<null>");
      MDbRecsetCloseRec(&env_, &rs_);
    }
    return out;
  }

  std::int32_t Find(std::int16_t field, const char16_t* text) {
    MDbRecsetDestroy(&env_, &rs_);
    request_ = {field, 0, text};
    return MDbAgentQuery(&env_, &rs_, &request_);
  }

  std::u16string path_;
  MDbRecset rs_{};
  MDbFindRequest request_{};
};

}  // namespace tbm::engine::testing
