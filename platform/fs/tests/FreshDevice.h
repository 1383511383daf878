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

#include "Utf16.h"

namespace tbm::testing {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class FreshDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != 0 ? tmp : "/tmp") + "/tbm-fs-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch_ = std::filesystem::canonical(pattern).string();
    root_ = scratch_ + "/device";
    ::setenv("TBM_DEVICE_ROOT", root_.c_str(), 1);
  }

  void TearDown() override {
    ::unsetenv("TBM_DEVICE_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  // The host path of a place inside the device root ("My Documents/x").
  std::string Host(const std::string& relative) const { return root_ + "/" + relative; }

  static void WriteHostFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
  }

  static std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static bool HostExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
  }

  static void MakeHostFolder(const std::string& path) { std::filesystem::create_directories(path); }

  // Text in UTF-8 (as written in the tests) as the handheld's UTF-16.
  static std::u16string W(const std::string& utf8) { return Utf8ToUtf16(utf8); }

  std::string scratch_;  // the temporary folder, removed after the test
  std::string root_;     // the device root inside it
};

}  // namespace tbm::testing
