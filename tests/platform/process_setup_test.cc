// The allocator's huge page setting: asked for only where the kernel gives
// huge pages to memory that asks for them, and never over a setting the
// environment already holds.
#include "platform/process_setup.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(ProcessSetupTest, AsksForHugePageHeapsOnlyWhereTheyHelpAndNothingSaysOtherwise) {
  const char* madvise = "always [madvise] never\n";
  EXPECT_EQ(TunablesForHugePageHeap(nullptr, madvise), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesForHugePageHeap("", madvise), "glibc.malloc.hugetlb=1");
  // Other settings stay as they are.
  EXPECT_EQ(TunablesForHugePageHeap("glibc.malloc.arena_max=2", madvise),
            "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
  // An operator's choice, or the value after the restart: nothing changes,
  // so the server restarts at most once.
  EXPECT_EQ(TunablesForHugePageHeap("glibc.malloc.hugetlb=0", madvise), std::nullopt);
  EXPECT_EQ(TunablesForHugePageHeap("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1", madvise),
            std::nullopt);
  // Huge pages everywhere already, nowhere, or a kernel that says nothing.
  EXPECT_EQ(TunablesForHugePageHeap(nullptr, "[always] madvise never\n"), std::nullopt);
  EXPECT_EQ(TunablesForHugePageHeap(nullptr, "always madvise [never]\n"), std::nullopt);
  EXPECT_EQ(TunablesForHugePageHeap(nullptr, ""), std::nullopt);
}

}  // namespace
}  // namespace vantrel
