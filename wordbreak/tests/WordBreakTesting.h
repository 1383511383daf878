// Helpers for the word-break tests: a ready library, one-call finds, and
// scratch data folders for the set-up tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "TBMWbrk.h"
#include "TestSupport.h"

namespace tbm::wordbreak::testing {

using tbm::testing::ScopedEnvironment;

// The folder of the running test program, ending in '/'; the build puts
// tbmres/ with the real data files beside it.
inline std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  const std::string program(buffer.data(), static_cast<std::size_t>(n));
  return program.substr(0, program.rfind('/') + 1);
}

inline std::string InstalledDataFolder() { return ProgramFolder() + "tbmres/"; }

// The bytes of one of the installed data files.
inline std::vector<std::uint8_t> ReadInstalled(const std::string& name) {
  std::ifstream file(InstalledDataFolder() + name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The library set up from the installed data folder, as a program starts it.
class WordBreak : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS); }
  void TearDown() override { EXPECT_EQ(TBMWbrShutdown(), TBMWBR_SUCCESS); }

  // Opens a session for search, looks in text, closes the session; returns
  // what FWFindWord returned.
  static int Find(const std::u16string& search, const std::u16string& text) {
    FWSession* session = nullptr;
    if (FWOpenSession(search.c_str(), &session) != TBMWBR_SUCCESS) {
      ADD_FAILURE() << "no session for the search text";
      return -1;
    }
    const int result = FWFindWord(session, text.c_str());
    EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
    return result;
  }

  static bool Finds(const std::u16string& search, const std::u16string& text) {
    return Find(search, text) == TBMWBR_SUCCESS;
  }
  static bool Misses(const std::u16string& search, const std::u16string& text) {
    return Find(search, text) == FW_WORD_NOT_FOUND;
  }
};

// A scratch data folder named by TBM_WBR_DATA_DIR for the test's duration.
// The library is set up again from the installed folder afterwards, so the
// next test starts as a program does.
class ScratchDataFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != 0 ? tmp : "/tmp") + "/tbm-wordbreak-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = std::filesystem::canonical(pattern).string() + "/";
    override_.emplace("TBM_WBR_DATA_DIR", folder_.c_str());
  }

  void TearDown() override {
    override_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    EXPECT_EQ(TBMWbrInit(), TBMWBR_SUCCESS) << "the installed data folder works again";
  }

  // Copies one of the installed data files into the scratch folder.
  void CopyInstalled(const std::string& name) {
    std::filesystem::copy_file(InstalledDataFolder() + name, folder_ + name,
                               std::filesystem::copy_options::overwrite_existing);
  }

  // Writes bytes as the scratch folder's file name.
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream file(folder_ + name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.flush()) << name;
  }

  std::string folder_;
  std::optional<ScopedEnvironment> override_;
};

}  // namespace tbm::wordbreak::testing
