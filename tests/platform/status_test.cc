#include "platform/status.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vantrel {
namespace {

StatusOr<std::unique_ptr<int>> MakeNumber(bool fail) {
  if (fail) return Status::NotFound("no number here");
  return std::make_unique<int>(7);
}

Status Check(bool fail) {
  if (fail) return Status::Corruption("bad bytes");
  return Status::Ok();
}

// Uses both macros; `*reached` tells how far it got.
StatusOr<int> Twice(bool fail_make, bool fail_check, int* reached) {
  VANTREL_ASSIGN_OR_RETURN(std::unique_ptr<int> number, MakeNumber(fail_make));
  *reached = 1;
  int doubled = 0;
  VANTREL_ASSIGN_OR_RETURN(doubled, StatusOr<int>(*number * 2));  // an existing variable
  VANTREL_RETURN_IF_ERROR(Check(fail_check));
  *reached = 2;
  return doubled;
}

TEST(StatusMacrosTest, ErrorsReturnEarlyAndValuesMoveIn) {
  int reached = 0;
  StatusOr<int> ok = Twice(false, false, &reached);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(*ok, 14);
  EXPECT_EQ(reached, 2);

  reached = 0;
  EXPECT_EQ(Twice(true, false, &reached).status().code(), StatusCode::kNotFound);
  EXPECT_EQ(reached, 0);
  EXPECT_EQ(Twice(false, true, &reached).status().code(), StatusCode::kCorruption);
  EXPECT_EQ(reached, 1);
}

TEST(StatusOrDeathTest, ValueOfAnErrorEndsTheProcessWithTheStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  StatusOr<std::string> missing = Status::NotFound("no file /x");
  EXPECT_DEATH((void)missing.value(), "fatal error: .*not found: no file /x");
  EXPECT_DEATH((void)std::move(missing).value(), "not found: no file /x");
  const StatusOr<int> failed = Status::IoError("disk gone");
  EXPECT_DEATH((void)*failed, "I/O error: disk gone");
}

}  // namespace
}  // namespace vantrel
