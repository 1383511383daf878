// The "synchronisation in progress" word as the agent, the provider and
// the handheld program see it from their own processes.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "SyncActiveFlag.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ChildProcess;
using tbm::testing::Pipe;
using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;

class SyncActiveFlagTest : public ::testing::Test {
 protected:
  ScratchFolder root_{"tbm-flag"};
  ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
};

TEST_F(SyncActiveFlagTest, NoWordIsThereUntilSomebodyHoldsTheSection) {
  EXPECT_FALSE(ReadSyncActive().has_value());
  // Written and closed again with nobody holding it: the word goes too.
  ASSERT_TRUE(WriteSyncActive(true));
  EXPECT_FALSE(ReadSyncActive().has_value());
}

TEST_F(SyncActiveFlagTest, TheWordOutlivesTheWriterWhileTheSectionIsHeld) {
  SyncActiveHolder holder;
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(ReadSyncActive(), false);
  ASSERT_TRUE(WriteSyncActive(true));
  EXPECT_EQ(ReadSyncActive(), true);
  ASSERT_TRUE(WriteSyncActive(false));
  EXPECT_EQ(ReadSyncActive(), false);
}

TEST_F(SyncActiveFlagTest, AnotherProcessSeesTheWordUnderTheMutex) {
  SyncActiveHolder holder;
  ASSERT_TRUE(holder.ok());
  Pipe toChild;
  Pipe toParent;
  ChildProcess child([&] {
    if (toChild.Receive() != 'r') return 2;
    const std::optional<bool> seen = ReadSyncActive();
    toParent.Send(seen == true ? 'y' : 'n');
    return 0;
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(WriteSyncActive(true));
  toChild.Send('r');
  EXPECT_EQ(toParent.Receive(), 'y');
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(SyncActiveFlagTest, EachHandheldHasItsOwnWord) {
  SyncActiveHolder holder;
  ASSERT_TRUE(WriteSyncActive(true));
  ScratchFolder other("tbm-flag-other");
  ScopedEnvironment otherDevice("TBM_DEVICE_ROOT", other.path().c_str());
  EXPECT_FALSE(ReadSyncActive().has_value());
}

}  // namespace
}  // namespace tbm::sync
