// Records: opening by position and identifier, field pointers into one
// loaded buffer, writing fields, and deleting with and without a copy for
// synchronisation.
#include "DatabaseFixture.h"

namespace tbm::engine::testing {
namespace {

class RecordTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    MakeDatabase(20);
    for (int r = 0; r < 6; ++r) oids_.push_back(Add(r));
    MDbDataRecInitialize(&rec_);
  }
  void TearDown() override {
    if (MDbDataRecIsOpened(&rec_)) MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec_);
    DatabaseTest::TearDown();
  }
  std::int32_t OpenAt(std::int16_t position) {
    env_.data.cursor = position;
    return MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec_, nullptr);
  }
  std::int32_t OpenOid(std::uint32_t oid) {
    return MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &rec_, &oid);
  }
  std::u16string Ptr(std::int16_t field) {
    const char16_t* text = nullptr;
    if (MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &env_.schema, &rec_, field, &text) !=
        MDbErrNone) {
      return u"<failed>";
    }
    return text;
  }
  void Close() { ASSERT_EQ(MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec_), MDbErrNone); }

  std::vector<std::uint32_t> oids_;
  MDbDataRec rec_{};
};

TEST_F(RecordTest, OpeningByPositionFollowsTheCursor) {
  ASSERT_EQ(OpenAt(2), MDbErrNone);
  EXPECT_EQ(rec_.oid, oids_[2]);
  EXPECT_EQ(MDbDataRecIsOpened(&rec_), 1);
  EXPECT_EQ(OpenAt(3), MDbErrFailed) << "a record handle must be closed first";
  Close();
  EXPECT_EQ(OpenAt(-1), MDbErrFailed);
  EXPECT_EQ(OpenAt(6), MDbErrFailed) << "beyond the last position";
  EXPECT_EQ(MDbDataRecIsOpened(&rec_), 0);
  EXPECT_EQ(OpenOid(0xDEAD), MDbErrFailed);
  std::uint16_t cursor = 0;
  EXPECT_EQ(MDbDataTblCursGetInx(&env_, &env_.ref, &env_.data, &cursor), MDbErrNone);
  EXPECT_EQ(cursor, 6);
}

TEST_F(RecordTest, FieldPointersComeFromOneRead) {
  ASSERT_EQ(OpenOid(oids_[3]), MDbErrNone);
  const auto before = StoreRecordReads();
  std::vector<const char16_t*> pointers;
  for (std::int16_t f = 0; f < 20; ++f) {
    const char16_t* text = nullptr;
    ASSERT_EQ(MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &env_.schema, &rec_, f, &text),
              MDbErrNone);
    pointers.push_back(text);
  }
  EXPECT_EQ(StoreRecordReads(), before + 1) << "twenty fields, one record read";
  EXPECT_EQ(std::u16string(pointers[0]), u"O'Brien");
  EXPECT_EQ(std::u16string(pointers[19]), u"Field 20 3");
  const auto* buffer = static_cast<const BYTE*>(rec_.loaded);
  for (const char16_t* p : pointers) {
    EXPECT_GE(reinterpret_cast<const BYTE*>(p), buffer);
    EXPECT_LT(reinterpret_cast<const BYTE*>(p), buffer + rec_.loadedBytes);
  }
  EXPECT_EQ(Ptr(20), u"<failed>");
  EXPECT_EQ(Ptr(-1), u"<failed>");
}

TEST_F(RecordTest, AFieldPointerIsNotRefreshedByAWrite) {
  ASSERT_EQ(OpenOid(oids_[1]), MDbErrNone);
  ASSERT_EQ(Ptr(6), u"City 1");
  ASSERT_EQ(WriteRecordField(&env_, &env_.ref, &env_.data, &rec_, 6, u"Bergen"), MDbErrNone);
  EXPECT_EQ(Ptr(6), u"City 1") << "the loaded text stays until the record is reopened";
  char16_t buffer[64];
  ASSERT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec_, 6, buffer, sizeof buffer),
            MDbErrNone);
  EXPECT_EQ(std::u16string(buffer), u"City 1") << "reads come from the loaded properties";
  Close();
  ASSERT_EQ(OpenOid(oids_[1]), MDbErrNone);
  EXPECT_EQ(Ptr(6), u"Bergen");
  std::uint8_t state = 0;
  ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rec_, &state), MDbErrNone);
  EXPECT_EQ(state, MDbRecModified);
}

TEST_F(RecordTest, ReadingAFieldWithoutLoadingAndItsSize) {
  ASSERT_EQ(OpenOid(oids_[0]), MDbErrNone);
  char16_t small[4];
  ASSERT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec_, 0, small, sizeof small),
            MDbErrNone);
  EXPECT_EQ(std::u16string(small), u"Oka") << "cut by the buffer rule";
  std::uint32_t bytes = 0;
  ASSERT_EQ(MDbDataRecGetFieldSize(&env_, &env_.ref, &env_.data, &rec_, 0, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, 14u);
  EXPECT_EQ(rec_.loaded, nullptr) << "nothing was loaded";
  EXPECT_EQ(Ptr(0), u"Okafor");
  ASSERT_EQ(MDbDataRecGetFieldSize(&env_, &env_.ref, &env_.data, &rec_, 3, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, (Value(0, 3).size() + 1) * 2);
  EXPECT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec_, 25, small, sizeof small),
            MDbErrFailed);
}

TEST_F(RecordTest, ReadsAnswerForTheOpenRecordEvenAfterAnotherWasMadeCurrent) {
  ASSERT_EQ(OpenOid(oids_[4]), MDbErrNone);
  // Another record handle moves the table to another record.
  MDbDataRec other;
  MDbDataRecInitialize(&other);
  std::uint32_t second = oids_[1];
  ASSERT_EQ(MDbDataTblOpenRec(&env_, &env_.ref, &env_.data, &other, &second), MDbErrNone);
  ASSERT_EQ(WriteRecordField(&env_, &env_.ref, &env_.data, &other, 0, u"Changed"), MDbErrNone);
  MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &other);
  std::uint8_t state = 0xFF;
  ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rec_, &state), MDbErrNone);
  EXPECT_EQ(state, 0) << "the state of record 4, not of the record written";
  EXPECT_EQ(Ptr(0), u"Garc\u00EDa");
}

TEST_F(RecordTest, DeletingAnAddedRecordLeavesNoTrace) {
  std::uint32_t added = 0;
  ASSERT_EQ(MDbDataTblNewRec(&env_, &env_.ref, &env_.data, &env_.schema, &added, nullptr),
            MDbErrNone);
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &added, false), MDbErrNone);
  EXPECT_EQ(Count(), 6u);
  EXPECT_EQ(DeleteCount(), 0u);
  EXPECT_EQ(Counter(kDeleteCounter), 0u);
}

TEST_F(RecordTest, DeletingAKnownRecordKeepsACopyForSynchronisation) {
  ASSERT_EQ(OpenOid(oids_[2]), MDbErrNone);
  ASSERT_EQ(WriteRecordField(&env_, &env_.ref, &env_.data, &rec_, 9, u"Moved away"), MDbErrNone);
  Close();
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &oids_[2], false), MDbErrNone);
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &oids_[5], false), MDbErrNone);
  EXPECT_EQ(Count(), 4u);
  ASSERT_EQ(DeleteCount(), 2u);
  EXPECT_EQ(Counter(kDeleteCounter), 2u);

  MDbDataRec copy;
  MDbDataRecInitialize(&copy);
  ASSERT_EQ(MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &copy, 0, nullptr), MDbErrNone);
  EXPECT_EQ(copy.flags, MDbDataRecOpen | MDbDataRecInDeleteTable);
  std::uint8_t state = 0;
  ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &copy, &state), MDbErrNone);
  EXPECT_EQ(state, MDbRecModified | MDbRecDeleted) << "was modified (1), now 1 | 3";
  char16_t text[64];
  ASSERT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &copy, 9, text, sizeof text),
            MDbErrNone);
  EXPECT_EQ(std::u16string(text), u"Moved away");
  std::uint8_t identity[MDbIdentityBytes];
  ASSERT_EQ(MDbDataRecGetRecInfo(&env_, &env_.ref, &env_.data, &copy, identity), MDbErrNone);
  EXPECT_EQ(MDbDecodeIdentity(identity).desktopId[2], '2');
  PropertyRead seq;
  ASSERT_EQ(ReadProperties(env_.data.deleteHandle, &kCreationSeqProp, 1, &seq), MDbErrNone);
  EXPECT_EQ(seq.value()->val.ulVal, 0u) << "the delete counter's value before the deletion";
  MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &copy);

  ASSERT_EQ(MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &copy, 1, nullptr), MDbErrNone);
  ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &copy, &state), MDbErrNone);
  EXPECT_EQ(state, MDbRecModified | MDbRecDeleted) << "was clean (0)";
  ASSERT_EQ(ReadProperties(env_.data.deleteHandle, &kCreationSeqProp, 1, &seq), MDbErrNone);
  EXPECT_EQ(seq.value()->val.ulVal, 1u);
  MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &copy);
  EXPECT_EQ(MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &copy, 2, nullptr), MDbErrFailed);
  EXPECT_EQ(MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &copy, -1, nullptr), MDbErrFailed);
}

TEST_F(RecordTest, DeletingWithoutTrackingKeepsNoCopy) {
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 3, nullptr, true), MDbErrNone);
  EXPECT_EQ(Count(), 5u);
  EXPECT_EQ(DeleteCount(), 0u);
  EXPECT_EQ(Field(oids_[3], 0), u"<no record>");
  EXPECT_EQ(env_.data.cursor, -1) << "the cursor is restored";
}

TEST_F(RecordTest, AFailedTrackedDeletionLeavesTheRecordWhereItWas) {
  // Without the delete table's counter the copy cannot be numbered.
  CEPROPVAL key{};
  key.propid = kObjKeyProp;
  key.val.ulVal = ObjKey(MDbObjCounter, kDeleteCounter);
  const CEOID counter = CeSeekDatabase(env_.ref.objHandle, CEDB_SEEK_VALUEFIRSTEQUAL,
                                       reinterpret_cast<std::uintptr_t>(&key), nullptr);
  ASSERT_NE(counter, 0u);
  ASSERT_TRUE(CeDeleteRecord(env_.ref.objHandle, counter));
  EXPECT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &oids_[1], false), MDbErrFailed);
  EXPECT_EQ(Count(), 6u);
  EXPECT_EQ(DeleteCount(), 0u);
  EXPECT_EQ(Field(oids_[1], 0), u"M\u00FCller");
  EXPECT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &oids_[1], true), MDbErrNone)
      << "without tracking the counter is not needed";
}

TEST_F(RecordTest, ADamagedRecordGivesAnErrorNotAReadPastItsData) {
  // A field property removed and another stored with the wrong type.
  CEPROPVAL damage[2]{};
  damage[0].propid = FieldProp(4);
  damage[0].wFlags = CEDB_PROPDELETE;
  damage[1].propid = kIdentityProp;
  BYTE shortBlock[3] = {1, 2, 3};
  damage[1].val.blob = {3, shortBlock};
  ASSERT_NE(CeWriteRecordProps(env_.data.dataHandle, oids_[0], 2, damage), 0u);
  ASSERT_EQ(OpenOid(oids_[0]), MDbErrNone);
  EXPECT_EQ(Ptr(0), u"<failed>") << "loading needs every field";
  char16_t text[32];
  EXPECT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec_, 4, text, sizeof text),
            MDbErrFailed);
  std::uint8_t identity[10];
  EXPECT_EQ(MDbDataRecGetRecInfo(&env_, &env_.ref, &env_.data, &rec_, identity), MDbErrFailed);
  ASSERT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &rec_, 5, text, sizeof text),
            MDbErrNone);
  EXPECT_EQ(std::u16string(text), u"Street 0");
}

TEST_F(RecordTest, ARecordHandleInTheWrongStateChangesNothing) {
  std::uint8_t state = 0;
  EXPECT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rec_, &state), MDbErrFailed);
  EXPECT_EQ(MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &rec_), MDbErrFailed);
  EXPECT_EQ(WriteRecordField(&env_, &env_.ref, &env_.data, &rec_, 0, u"x"), MDbErrFailed);
  const char16_t* text = nullptr;
  EXPECT_EQ(MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &env_.schema, &rec_, 0, &text),
            MDbErrFailed);
  EXPECT_EQ(Field(oids_[0], 0), u"Okafor");
}

TEST_F(RecordTest, ARecordOfTheDeleteTableIsWrittenThere) {
  ASSERT_EQ(DeleteDataRecord(&env_, &env_.ref, &env_.data, 0, &oids_[0], false), MDbErrNone);
  MDbDataRec copy;
  MDbDataRecInitialize(&copy);
  ASSERT_EQ(MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &copy, 0, nullptr), MDbErrNone);
  ASSERT_EQ(WriteRecordField(&env_, &env_.ref, &env_.data, &copy, 1, u"Ada Lovelace"), MDbErrNone);
  char16_t text[32];
  ASSERT_EQ(MDbDataRecReadField(&env_, &env_.ref, &env_.data, &copy, 1, text, sizeof text),
            MDbErrNone);
  EXPECT_EQ(std::u16string(text), u"Ada Lovelace");
  MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &copy);
  EXPECT_EQ(Count(), 5u);
}

}  // namespace
}  // namespace tbm::engine::testing
