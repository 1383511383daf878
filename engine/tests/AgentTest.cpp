// The agent layer: opening a database with every table, the failures that
// leave nothing open, the database name, attribute words and value lists.
#include "AgentFixture.h"

namespace tbm::engine::testing {
namespace {

class AgentOpenTest : public AgentTest {
 protected:
  // Closes the fixture's database and rebuilds the file as given.
  void Rebuild(const std::vector<Contact>& records, std::uint32_t consistency, int fields) {
    MDbAgentCloseDb(&env_);
    MDbDelete(&env_, path_.c_str());
    Build(records, consistency, fields);
  }
  void ExpectNothingOpen() {
    EXPECT_EQ(env_.ref.opened, 0);
    EXPECT_EQ(env_.data.opened, 0u);
    EXPECT_EQ(env_.schema.opened, 0);
    EXPECT_EQ(env_.fieldOptions.opened, 0);
    EXPECT_EQ(env_.fieldOptions.cache, nullptr);
    EXPECT_EQ(env_.attributes.opened, 0);
    EXPECT_EQ(env_.valueLists.opened, 0);
  }
};

TEST_F(AgentOpenTest, OpeningSetsUpEveryTable) {
  EXPECT_EQ(env_.ref.opened, 1);
  EXPECT_EQ(env_.data.opened, 1u);
  EXPECT_EQ(env_.fieldOptions.mode & 1, 1u);
  char16_t name[64];
  ASSERT_EQ(MDbAgentGetDbName(&env_, name, sizeof name), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Contacts");
  ASSERT_EQ(MDbAgentCloseDb(&env_), MDbErrNone);
  ExpectNothingOpen();
  EXPECT_EQ(MDbAgentGetDbName(&env_, name, sizeof name), MDbErrFailed);
}

TEST_F(AgentOpenTest, AnInconsistentDatabaseIsNotOpened) {
  Rebuild(Contacts(), 0, kFieldCount);
  EXPECT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrInconsistent);
  ExpectNothingOpen();
}

TEST_F(AgentOpenTest, ADatabaseWithoutFieldsIsNotOpened) {
  Rebuild({}, 1, 0);
  EXPECT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNoFields);
  ExpectNothingOpen();
}

TEST_F(AgentOpenTest, AMissingOrForeignFileCannotBeOpened) {
  MDbAgentCloseDb(&env_);
  EXPECT_EQ(MDbAgentOpenDb(&env_, Path("missing.tbm").c_str()), MDbErrCannotOpen);
  ExpectNothingOpen();
  ASSERT_TRUE(tbm::testing::WriteWholeFile(folder_ / "notes.tbm", "shopping list"));
  EXPECT_EQ(MDbAgentOpenDb(&env_, Path("notes.tbm").c_str()), MDbErrCannotOpen);
  ExpectNothingOpen();
}

TEST_F(AgentOpenTest, AnotherHeaderVersionIsBadFormatAndClosed) {
  MDbAgentCloseDb(&env_);
  std::vector<BYTE> header = {0x54, 0x52, 0x46, 0x43, 3, 0, 0, 0};
  CEPROPVAL v{};
  v.propid = PropId(3, CEVT_BLOB);
  v.val.blob = {8, header.data()};
  Tamper("contacts.tbm", 0x50000, &v);
  EXPECT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrBadFormat);
  ExpectNothingOpen();
}

TEST_F(AgentOpenTest, ADatabaseMissingItsDataTableFailsAndClosesEverything) {
  MDbAgentCloseDb(&env_);
  CEGUID vol{};
  ASSERT_TRUE(CeMountDBVol(&vol, path_.c_str(), OPEN_EXISTING));
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseEx(&vol, &oid, u"DATA_0", 0, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CeCloseHandle(h);
  ASSERT_TRUE(CeDeleteDatabaseEx(&vol, oid));
  ASSERT_TRUE(CeUnmountDBVol(&vol));
  EXPECT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrFailed);
  ExpectNothingOpen();
}

TEST_F(AgentOpenTest, AttributeWordsAndValueLists) {
  std::uint32_t word = 0;
  ASSERT_EQ(MDbAgentGetAttr(&env_, 2, &word), MDbErrNone);
  EXPECT_EQ(word, 0x00000E00u);
  ASSERT_EQ(MDbAgentSetAttr(&env_, 3, 0x00050002u), MDbErrNone);
  ASSERT_EQ(MDbAgentGetAttr(&env_, 3, &word), MDbErrNone);
  EXPECT_EQ(word, 0x00050002u);
  word = 99;
  EXPECT_EQ(MDbAgentGetAttr(&env_, 4, &word), MDbErrNone);
  EXPECT_EQ(word, 0u);
  EXPECT_EQ(MDbAgentSetAttr(&env_, 4, 1), MDbErrFailed);
  std::uint32_t bytes = 0;
  ASSERT_EQ(MDbAgentGetValListSize(&env_, 0, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, (std::u16string(u"Customer\r\nSupplier\r\n-\r\nOther").size() + 1) * 2);
  char16_t list[64];
  ASSERT_EQ(MDbAgentGetValList(&env_, 0, list, sizeof list), MDbErrNone);
  EXPECT_EQ(std::u16string(list), u"Customer\r\nSupplier\r\n-\r\nOther");
  EXPECT_EQ(MDbAgentGetValList(&env_, 1, list, sizeof list), MDbErrFailed);
  // The words live on after the database is closed and opened again.
  ASSERT_EQ(MDbAgentCloseDb(&env_), MDbErrNone);
  ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone);
  ASSERT_EQ(MDbAgentGetAttr(&env_, 3, &word), MDbErrNone);
  EXPECT_EQ(word, 0x00050002u);
}

TEST_F(AgentOpenTest, InitAndShutdownAreHarmless) {
  EXPECT_EQ(MDbAgentInit(), MDbErrNone);
  EXPECT_EQ(MDbAgentShutdown(), MDbErrNone);
}

}  // namespace
}  // namespace tbm::engine::testing
