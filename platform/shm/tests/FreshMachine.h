// A fresh handheld for each test of the named objects: its own machine root
// in a temporary folder, so the test's objects never meet those of another
// test or another run, and helpers to look at what the host keeps.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "Machine.h"
#include "SharedMemory.h"
#include "TestSupport.h"

namespace tbm::testing {

class FreshMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    tag_ = MachineTag();
  }

  // The number of host shared-memory entries that belong to this test's
  // machine. Zero means nothing is left behind.
  int HostObjectsOfThisMachine() const {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
      if (entry.path().filename().string().find(tag_) != std::string::npos) ++count;
    }
    return count;
  }

  // Maps the whole section for writing and reads or writes its first word.
  static DWORD* Word(HANDLE section) {
    return static_cast<DWORD*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  }

  ScratchFolder root_{"tbm-shm-test"};
  ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  std::string tag_;
};

}  // namespace tbm::testing
