// A fresh handheld for each test: a new device root in a temporary folder,
// named by TBM_DEVICE_ROOT for the test's duration, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::testing {

class FreshDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratchFolder_.ok());
    scratch_ = scratchFolder_.path().string();
    root_ = scratch_ + "/device";
    ::setenv("TBM_DEVICE_ROOT", root_.c_str(), 1);
  }

  void TearDown() override { ::unsetenv("TBM_DEVICE_ROOT"); }

  // The host path of a place inside the device root ("My Documents/x").
  std::string Host(const std::string& relative) const { return root_ + "/" + relative; }

  static void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
  }

  static std::string ReadHostFile(const std::string& path) { return ReadWholeFile(path); }

  static bool HostExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
  }

  static void MakeHostFolder(const std::string& path) { std::filesystem::create_directories(path); }

  // Text in UTF-8 (as written in the tests) as the handheld's UTF-16.
  static std::u16string W(const std::string& utf8) { return Utf8ToUtf16(utf8); }

  ScratchFolder scratchFolder_{"tbm-fs-test"};  // removed after the test
  std::string scratch_;                         // its path
  std::string root_;                            // the device root inside it
};

}  // namespace tbm::testing
