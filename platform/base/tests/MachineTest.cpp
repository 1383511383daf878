#include <gtest/gtest.h>

#include "Machine.h"
#include "TestSupport.h"

using tbm::Machine;
using tbm::testing::ScopedEnvironment;

namespace {

TEST(MachineTest, EachSideHasItsOwnRootFromItsVariable) {
  ScopedEnvironment device("TBM_DEVICE_ROOT", "/tmp/tbm-hand/");
  ScopedEnvironment desktop("TBM_DESKTOP_ROOT", "/tmp/tbm-desk");
  EXPECT_EQ(tbm::MachineRoot(Machine::Handheld), "/tmp/tbm-hand");
  EXPECT_EQ(tbm::MachineRoot(Machine::Desktop), "/tmp/tbm-desk");
}

TEST(MachineTest, RootsDefaultUnderTheUsersDataFolder) {
  ScopedEnvironment device("TBM_DEVICE_ROOT", nullptr);
  ScopedEnvironment desktop("TBM_DESKTOP_ROOT", "");
  ScopedEnvironment xdg("XDG_DATA_HOME", "/srv/data");
  EXPECT_EQ(tbm::MachineRoot(Machine::Handheld), "/srv/data/tabulon/device");
  EXPECT_EQ(tbm::MachineRoot(Machine::Desktop), "/srv/data/tabulon/desktop");
  ScopedEnvironment relative("XDG_DATA_HOME", "relative/data");
  ScopedEnvironment home("HOME", "/home/ann");
  EXPECT_EQ(tbm::MachineRoot(Machine::Handheld), "/home/ann/.local/share/tabulon/device");
}

TEST(MachineTest, TheProcessIsOnTheHandheldUntilItSelectsTheDesktop) {
  ScopedEnvironment device("TBM_DEVICE_ROOT", "/tmp/tbm-hand");
  ScopedEnvironment desktop("TBM_DESKTOP_ROOT", "/tmp/tbm-desk");
  {
    ScopedEnvironment unset("TBM_MACHINE", nullptr);
    EXPECT_EQ(tbm::CurrentMachine(), Machine::Handheld);
    EXPECT_EQ(tbm::MachineRoot(), "/tmp/tbm-hand");
    ScopedEnvironment given("TBM_MACHINE", "desktop");
    EXPECT_EQ(tbm::CurrentMachine(), Machine::Desktop);
  }
  tbm::SelectMachine(Machine::Desktop);
  EXPECT_EQ(tbm::MachineRoot(), "/tmp/tbm-desk");
  tbm::SelectMachine(Machine::Handheld);
  EXPECT_EQ(tbm::MachineRoot(), "/tmp/tbm-hand");
}

TEST(MachineTest, TagsFollowTheRootAndNothingElse) {
  ScopedEnvironment device("TBM_DEVICE_ROOT", "/tmp/root-one");
  ScopedEnvironment desktop("TBM_DESKTOP_ROOT", "/tmp/root-one/");
  const std::string tag = tbm::MachineTag(Machine::Handheld);
  EXPECT_EQ(tag.size(), 8u);
  EXPECT_EQ(tag.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(tbm::MachineTag(Machine::Desktop), tag);
  ScopedEnvironment other("TBM_DESKTOP_ROOT", "/tmp/root-two");
  EXPECT_NE(tbm::MachineTag(Machine::Desktop), tag);
}

}  // namespace
