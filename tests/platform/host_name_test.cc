#include "platform/host_name.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

namespace vantrel {
namespace {

TEST(HostName, IsTheKernelsNodeName) {
  struct utsname u;
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(HostName(), std::string(u.nodename));
  EXPECT_FALSE(HostName().empty());
}

}  // namespace
}  // namespace vantrel
