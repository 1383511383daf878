// The table layer on its own, linked without the record set and without the
// word-break library, as it is built a second time for a store reached over
// the network: a database made as synchronisation makes one, then opened
// and read as synchronisation reads one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Environment.h"
#include "MDb.h"
#include "MDbBlocks.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::engine::testing {
namespace {

class TableLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    path_ = Utf8ToUtf16((scratch_.path() / "stock.tbm").string());
    MDbEnvInitialize(&env_);
    ASSERT_EQ(StartEnvironment(&env_), MDbErrNone);
  }
  void TearDown() override {
    MDbAgentCloseDb(&env_);
    EXPECT_EQ(StopEnvironment(&env_), MDbErrNone);
  }

  tbm::testing::ScratchFolder scratch_{"tbm-engine-tables"};
  tbm::testing::ScopedEnvironment device_{"TBM_DEVICE_ROOT", scratch_.path().c_str()};
  std::u16string path_;
  MDbEnv env_{};
};

TEST_F(TableLayerTest, MakesOpensAndReadsADatabaseWithoutTheWordBreakLibrary) {
  // Twelve fields, so that a record is written in two batches.
  constexpr std::int16_t kFields = 12;
  std::vector<std::uint8_t> infos(kFields * MDbFieldInfoBytes);
  std::vector<std::u16string> names;
  std::vector<std::uint8_t> options(kFields * MDbOptionEntryBytes);
  for (std::int16_t f = 0; f < kFields; ++f) {
    MDbFieldInfo info;
    info.type = f == 1 ? MDbFieldNumber : MDbFieldText;
    MDbEncodeFieldInfo(info, &infos[f * MDbFieldInfoBytes]);
    names.push_back(u"Column " + Utf8ToUtf16(std::to_string(f + 1)));
    MDbEncodeFieldOption(MDbFieldOption{}, &options[f * MDbOptionEntryBytes]);
    MDbFieldOpTblGetDefOptionEx(&options[f * MDbOptionEntryBytes + MDbOptionBytes],
                                static_cast<std::uint8_t>(f), kFields);
  }
  std::vector<const char16_t*> namePointers;
  for (const auto& name : names) namePointers.push_back(name.c_str());
  std::uint8_t attrs[MDbAttrBytes] = {};
  MDbEncodeAttributes(MDbAttributes{}, attrs);

  MDbRef* ref = &env_.ref;
  ASSERT_EQ(MDbCreate(&env_, path_.c_str(), ref), MDbErrNone);
  ASSERT_EQ(MDbWriteChecksome(&env_, ref, 0), MDbErrNone);
  ASSERT_EQ(MDbSchemaTblCreateEx(&env_, ref, infos.data(), namePointers.data(), kFields),
            MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblCreateEx(&env_, ref, options.data(), kFields), MDbErrNone);
  ASSERT_EQ(MDbAttrTblCreateEx(&env_, ref, attrs, u"Stock"), MDbErrNone);
  const char16_t* lists[] = {u"Shelf\r\nStore room"};
  ASSERT_EQ(MDbValListTblCreateEx(&env_, ref, lists, 1), MDbErrNone);
  ASSERT_EQ(MDbDataTblCreate(&env_, ref, nullptr), MDbErrNone);
  ASSERT_EQ(MDbDataTblOpen(&env_, ref, &env_.data, nullptr), MDbErrNone);
  ASSERT_EQ(StartCreationSeqCache(&env_, ref, &env_.data), MDbErrNone);
  MDbIdentity identity;
  identity.desktopId = {2, 'S', '1'};
  identity.modificationCount = 4;
  std::uint8_t identityBlock[MDbIdentityBytes];
  MDbEncodeIdentity(identity, identityBlock);
  for (int r = 0; r < 3; ++r) {
    std::vector<std::u16string> values;
    for (std::int16_t f = 0; f < kFields; ++f) {
      values.push_back(f == 1 ? Utf8ToUtf16(std::to_string(10 * r)) : u"Bolt M" + names[f]);
    }
    std::vector<const char16_t*> pointers;
    for (const auto& v : values) pointers.push_back(v.c_str());
    ASSERT_EQ(MDbDataTblAddRec(&env_, ref, &env_.data, identityBlock, pointers.data(), kFields, 1,
                               nullptr, nullptr),
              MDbErrNone);
  }
  ASSERT_EQ(EndCreationSeqCache(&env_, ref, &env_.data), MDbErrNone);
  ASSERT_EQ(MDbDataTblClose(&env_, ref, &env_.data), MDbErrNone);
  ASSERT_EQ(MDbWriteChecksome(&env_, ref, 1), MDbErrNone);
  ASSERT_EQ(MDbClose(&env_, ref), MDbErrNone);

  ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone);
  char16_t name[32];
  ASSERT_EQ(MDbAgentGetDbName(&env_, name, sizeof name), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Stock");
  std::uint32_t count = 0;
  ASSERT_EQ(MDbDataTblGetRecCount(&env_, ref, &env_.data, &count), MDbErrNone);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(MDbDataTblCursSetInx(&env_, ref, &env_.data, 2), MDbErrNone);
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  ASSERT_EQ(MDbDataTblOpenRec(&env_, ref, &env_.data, &rec, nullptr), MDbErrNone);
  const char16_t* last = nullptr;
  ASSERT_EQ(MDbDataRecGetFieldPtr(&env_, ref, &env_.data, &env_.schema, &rec, kFields - 1, &last),
            MDbErrNone);
  EXPECT_EQ(std::u16string(last), u"Bolt MColumn 12");
  char16_t number[8];
  ASSERT_EQ(MDbDataRecReadField(&env_, ref, &env_.data, &rec, 1, number, sizeof number),
            MDbErrNone);
  EXPECT_EQ(std::u16string(number), u"20");
  std::uint8_t stored[MDbIdentityBytes];
  ASSERT_EQ(MDbDataRecGetRecInfo(&env_, ref, &env_.data, &rec, stored), MDbErrNone);
  EXPECT_EQ(MDbDecodeIdentity(stored).modificationCount, 4);
  EXPECT_EQ(MDbDataTblCloseRec(&env_, ref, &env_.data, &rec), MDbErrNone);
}

}  // namespace
}  // namespace tbm::engine::testing
