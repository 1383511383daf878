// Memory running out inside the engine's calls. Each call below is made over
// and over, failing its first allocation, then its second, and so on, until
// an attempt gets through without meeting the failure. Every attempt that
// fails must return a failure code (no exception leaves the engine), say
// through MDbGetFailureCause that memory ran out, and leave the database
// whole and the environment usable: a change is made entirely or not at
// all, and the next attempt starts from what the last one left.
//
// Calls that only read fail the store's allocations as well as the
// engine's. Calls that write fail the engine's alone: the store does not
// undo a write of its own that running out of memory interrupts.
#include <algorithm>
#include <iterator>

#include "AgentFixture.h"
#include "DataTable.h"
#include "Description.h"
#include "FailingAllocation.h"
#include "ObjectTable.h"
#include "Sequence.h"

namespace tbm::engine::testing {
namespace {

// More allocations than any call below makes.
constexpr std::uint64_t kMostAllocations = 20000;

// Whose allocations fail: the engine's own, or the store's too.
const std::initializer_list<const void*> kEngine = {reinterpret_cast<const void*>(&MDbAgentQuery)};
const std::initializer_list<const void*> kEngineAndStore = {
    reinterpret_cast<const void*>(&MDbAgentQuery), reinterpret_cast<const void*>(&CeSeekDatabase)};

class OutOfMemoryTest : public AgentTest {
 protected:
  // Makes `call` with allocation 1, 2, 3 ... failing until an attempt gets
  // through without meeting the failure, and hands each attempt's result to
  // `check`. Returns how many attempts met the failure.
  template <typename Call, typename Check>
  int FailEachAllocation(const char* what, std::initializer_list<const void*> whose, Call call,
                         Check check) {
    for (std::uint64_t n = 1; n < kMostAllocations; ++n) {
      SCOPED_TRACE(std::string(what) + ", allocation " + std::to_string(n) + " failing");
      MDbClearFailureCause();
      std::int32_t result = MDbErrFailed;
      bool escaped = false;
      FailAllocation(n, whose);
      try {
        result = call();
      } catch (...) {
        escaped = true;
      }
      const bool met = StopFailingAllocations();
      EXPECT_FALSE(escaped) << "an exception left the engine";
      if (met && result != MDbErrNone) {
        EXPECT_EQ(MDbGetFailureCause(nullptr), static_cast<std::uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
      }
      check(result);
      if (!met) {
        EXPECT_EQ(result, MDbErrNone) << "without a failure";
        return static_cast<int>(n - 1);
      }
      if (HasFatalFailure()) return static_cast<int>(n);
    }
    ADD_FAILURE() << what << " never got through";
    return 0;
  }

  std::uint32_t DataCount() {
    std::uint32_t n = 0;
    EXPECT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &n), MDbErrNone);
    return n;
  }
  std::uint32_t Counter(std::uint16_t which) {
    std::uint32_t value = 0;
    EXPECT_EQ(ReadCounter(&env_.ref, which, &value), MDbErrNone);
    return value;
  }
  void ExpectNothingOpen() {
    EXPECT_EQ(env_.ref.opened, 0);
    EXPECT_EQ(env_.data.opened, 0u);
    EXPECT_EQ(env_.schema.opened, 0);
    EXPECT_EQ(env_.fieldOptions.opened, 0);
    EXPECT_EQ(env_.attributes.opened, 0);
    EXPECT_EQ(env_.valueLists.opened, 0);
  }
};

TEST_F(OutOfMemoryTest, AFindOrSortThatFailsLeavesNoSetAndCanBeMadeAgain) {
  const MDbFindRequest born{kBorn, 0, u"3/4/1985"};
  const int finds = FailEachAllocation(
      "a find", kEngine, [&] { return MDbAgentQuery(&env_, &rs_, &born); },
      [&](std::int32_t result) {
        if (result != MDbErrNone) {
          EXPECT_EQ(rs_.valid, 0);
          EXPECT_EQ(rs_.foundOpened, 0) << "no found-set table stays open";
          return;
        }
        MDbRecsetDestroy(&env_, &rs_);
      });
  EXPECT_GT(finds, 0);
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, &born), MDbErrNone);
  ASSERT_EQ(Column(kLast), (std::vector<std::u16string>{u"Johnson", u"Adams"}));

  const int sorts = FailEachAllocation(
      "a sort by time, latest first", kEngine,
      [&] { return MDbRecsetSort(&env_, &rs_, kStart, 1); },
      [&](std::int32_t result) {
        if (result == MDbErrNone) return;
        EXPECT_EQ(rs_.valid, 0);
        MDbRecsetDestroy(&env_, &rs_);
        ASSERT_EQ(MDbAgentQuery(&env_, &rs_, &born), MDbErrNone) << "the set is made again";
      });
  EXPECT_GT(sorts, 0);
  EXPECT_EQ(Column(kStart), (std::vector<std::u16string>{u"3:00 PM", u"9:30 AM"}));
}

TEST_F(OutOfMemoryTest, NewAndDuplicatedRecordsAreAddedWholeOrNotAtAll) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  const std::uint32_t firstRecords = DataCount();
  const std::uint32_t firstNumber = Counter(kDataCounter);
  std::uint32_t added = 0;
  // Every record added took the next creation number, and no failed
  // attempt took one or left a record behind.
  auto expectAdded = [&](std::int32_t result) {
    if (result == MDbErrNone) ++added;
    EXPECT_EQ(DataCount(), firstRecords + added);
    EXPECT_EQ(Counter(kDataCounter), firstNumber + added);
    EXPECT_EQ(MDbDataRecIsOpened(&rs_.rec), 0);
  };
  EXPECT_GT(FailEachAllocation(
                "a new record", kEngine, [&] { return MDbRecsetNewRec(&env_, &rs_, nullptr); },
                expectAdded),
            0);
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 7), MDbErrNone);
  EXPECT_GT(FailEachAllocation(
                "a duplicate of record 4", kEngine,
                [&] {
                  std::uint16_t position = 0;
                  return MDBRecsetDupRec(&env_, &rs_, 4, &position);
                },
                expectAdded),
            0);
  std::uint16_t position = 0;
  ASSERT_EQ(MDbRecsetGetInx(&env_, &rs_, &position), MDbErrNone);
  EXPECT_EQ(position, 7) << "the set's position is kept";

  // Closed and opened again, the database holds what the calls reported.
  MDbRecsetDestroy(&env_, &rs_);
  ASSERT_EQ(MDbAgentCloseDb(&env_), MDbErrNone);
  ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone);
  expectAdded(MDbErrFailed);
}

TEST_F(OutOfMemoryTest, OpeningOrCreatingThatFailsLeavesNothingBehind) {
  MDbRecsetDestroy(&env_, &rs_);
  ASSERT_EQ(MDbAgentCloseDb(&env_), MDbErrNone);
  FailEachAllocation(
      "opening through the agent layer", kEngineAndStore,
      [&] { return MDbAgentOpenDb(&env_, path_.c_str()); },
      [&](std::int32_t result) {
        if (result == MDbErrNone) MDbAgentCloseDb(&env_);
        ExpectNothingOpen();
      });

  const std::u16string path = Path("orders.tbm");
  FailEachAllocation(
      "creating a volume", kEngine, [&] { return MDbCreate(&env_, path.c_str(), &env_.ref); },
      [&](std::int32_t result) {
        if (result == MDbErrNone) {
          EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
        } else {
          EXPECT_EQ(env_.ref.opened, 0);
        }
        EXPECT_EQ(MDbDelete(&env_, path.c_str()), result == MDbErrNone ? MDbErrNone : MDbErrFailed)
            << "a failed creation leaves no file";
      });
  ASSERT_EQ(MDbAgentOpenDb(&env_, path_.c_str()), MDbErrNone);
}

TEST_F(OutOfMemoryTest, ReadsThatFailLeaveTheirOutputsAlone) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 2), MDbErrNone);
  ASSERT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrNone);
  const char16_t* first = nullptr;
  FailEachAllocation(
      "a field pointer", kEngineAndStore,
      [&] {
        first = nullptr;
        return MDbRecsetGetFieldPtr(&env_, &rs_, kFirst, &first);
      },
      [&](std::int32_t result) {
        if (result == MDbErrNone) {
          EXPECT_EQ(std::u16string(first), u"Zo\u00EB");
        } else {
          EXPECT_EQ(first, nullptr);
          EXPECT_EQ(rs_.rec.loaded, nullptr);
        }
        // The next attempt loads the fields afresh.
        ASSERT_EQ(MDbRecsetCloseRec(&env_, &rs_), MDbErrNone);
        ASSERT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrNone);
      });
  MDbRecsetCloseRec(&env_, &rs_);

  char16_t list[64];
  FailEachAllocation(
      "a value list", kEngineAndStore,
      [&] {
        std::fill(std::begin(list), std::end(list), u'#');
        return MDbAgentGetValList(&env_, 0, list, sizeof list);
      },
      [&](std::int32_t result) {
        if (result == MDbErrNone) {
          EXPECT_EQ(std::u16string(list), u"Customer\r\nSupplier\r\n-\r\nOther");
        } else {
          EXPECT_EQ(list[0], u'#');
        }
      });

  std::uint8_t ex[MDbOptionExBytes];
  FailEachAllocation(
      "a field's list settings", kEngineAndStore,
      [&] {
        std::fill(std::begin(ex), std::end(ex), 0xEE);
        return MDbRecsetGetFldOptionEx(&env_, &rs_, kCity, ex);
      },
      [&](std::int32_t result) {
        EXPECT_EQ(ex[kDisplayOrderByte], result == MDbErrNone ? std::uint8_t{kCity} : 0xEE);
      });

  MDbTimeRec time{};
  FailEachAllocation(
      "a time read as typed", kEngineAndStore,
      [&] {
        std::uint16_t digits[768];
        return MDbRecsetTimeStrToTRec(&env_, u"1:75 pm", &time, 0, nullptr, digits);
      },
      [&](std::int32_t result) {
        if (result == MDbErrNone) {
          EXPECT_EQ(time.minutes, 75);
        }
      });
}

}  // namespace
}  // namespace tbm::engine::testing
