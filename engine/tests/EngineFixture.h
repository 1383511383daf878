// A fresh device root and an initialised environment per test, with ways
// to reach into a volume through the store the way a damaged or foreign
// file would look.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "MDb.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::engine::testing {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    folder_ = scratch_.path();
    std::filesystem::create_directories(folder_ / "device");
    ::setenv("TBM_DEVICE_ROOT", (folder_ / "device").c_str(), 1);
    MDbEnvInitialize(&env_);
    ASSERT_EQ(MDbInit(&env_, 0), MDbErrNone);
  }
  void TearDown() override {
    if (env_.ref.opened) MDbClose(&env_, &env_.ref);
    MDbShutdown(&env_);
  }

  std::u16string Path(const std::string& name) const {
    return Utf8ToUtf16((folder_ / name).string());
  }

  // Rewrites one property of object-table entry (kind, index) of a closed
  // volume directly through the store, or removes the entry when value is
  // null.
  void Tamper(const std::string& name, std::uint32_t key, CEPROPVAL* value) {
    CEGUID vol{};
    ASSERT_TRUE(CeMountDBVol(&vol, Path(name).c_str(), OPEN_EXISTING)) << StoreLastMessage();
    CEOID oid = 0;
    HANDLE h = CeOpenDatabaseEx(&vol, &oid, u"OBJG_0", PropId(1, CEVT_UI4), 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CEPROPVAL k{};
    k.propid = PropId(1, CEVT_UI4);
    k.val.ulVal = key;
    const CEOID entry =
        CeSeekDatabase(h, CEDB_SEEK_VALUEFIRSTEQUAL, reinterpret_cast<std::uintptr_t>(&k), nullptr);
    if (value == nullptr) {
      ASSERT_NE(entry, 0u);
      ASSERT_TRUE(CeDeleteRecord(h, entry));
    } else if (entry != 0) {
      ASSERT_NE(CeWriteRecordProps(h, entry, 1, value), 0u);
    } else {
      CEPROPVAL both[2] = {k, *value};
      ASSERT_NE(CeWriteRecordProps(h, 0, 2, both), 0u);
    }
    CeCloseHandle(h);
    ASSERT_TRUE(CeUnmountDBVol(&vol));
  }

  tbm::testing::ScratchFolder scratch_{"tbm-engine-test"};
  std::filesystem::path folder_;
  MDbEnv env_{};
};

}  // namespace tbm::engine::testing
