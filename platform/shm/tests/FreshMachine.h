// A fresh handheld for each test of the named objects: its own machine root
// in a temporary folder, so the test's objects never meet those of another
// test or another run, and helpers to look at what the host keeps.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
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

  // Creates (or opens) a section of one word, as the sync-active flag is.
  static HANDLE CreateWordSection(const WCHAR* name) {
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name);
  }

  // Maps the whole section for writing, to reach its first word.
  static DWORD* Word(HANDLE section) {
    return static_cast<DWORD*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  }

  // The section's first word through a view of its own; nullopt when the
  // section cannot be mapped.
  static std::optional<DWORD> ReadWord(HANDLE section) {
    const auto* word = static_cast<const DWORD*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
    if (word == nullptr) return std::nullopt;
    const DWORD value = *word;
    UnmapViewOfFile(word);
    return value;
  }

  static bool WriteWord(HANDLE section, DWORD value) {
    DWORD* word = Word(section);
    if (word == nullptr) return false;
    *word = value;
    return UnmapViewOfFile(word) != FALSE;
  }

  ScratchFolder root_{"tbm-shm-test"};
  ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  std::string tag_;
};

}  // namespace tbm::testing
