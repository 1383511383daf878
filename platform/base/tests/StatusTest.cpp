#include <gtest/gtest.h>

#include "HostErrors.h"
#include "Status.h"

using tbm::PlatformFailure;
using tbm::Status;
using tbm::StatusCode;

namespace {

TEST(StatusTest, ContextGoesInFrontAndKeepsTheKindAndThePlatformError) {
  const Status failure = PlatformFailure(ERROR_DISK_FULL, "cannot write the record");
  const Status told = failure.WithContext("field 3").WithContext("record 12");
  EXPECT_FALSE(told.ok());
  EXPECT_EQ(told.code(), StatusCode::kNoSpace);
  EXPECT_EQ(told.platformError(), ERROR_DISK_FULL);
  EXPECT_EQ(told.message(), "record 12: field 3: cannot write the record");

  const Status fine = Status().WithContext("record 12");
  EXPECT_TRUE(fine.ok());
  EXPECT_EQ(fine.code(), StatusCode::kOk);
  EXPECT_EQ(fine.message(), "");
  EXPECT_EQ(fine.platformError(), 0u);
}

TEST(StatusTest, APlatformFailuresKindFollowsItsErrorNumber) {
  struct Case {
    DWORD error;
    StatusCode kind;
  };
  for (const Case& c : {Case{ERROR_SHARING_VIOLATION, StatusCode::kBusy},
                        Case{ERROR_DISK_FULL, StatusCode::kNoSpace},
                        Case{ERROR_ACCESS_DENIED, StatusCode::kNoPermission},
                        Case{ERROR_FILE_CORRUPT, StatusCode::kDamaged}}) {
    const Status status = PlatformFailure(c.error, "the volume 'Sales.tbm'");
    EXPECT_FALSE(status.ok()) << c.error;
    EXPECT_EQ(status.code(), c.kind) << c.error;
    EXPECT_EQ(status.platformError(), c.error);
    EXPECT_EQ(status.message(), "the volume 'Sales.tbm'");
  }
}

}  // namespace
