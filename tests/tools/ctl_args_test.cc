#include "tools/ctl_args.h"

#include "gtest/gtest.h"

namespace vantrel {
namespace {

TEST(CtlArgsTest, StrictIntegersAreWrittenAsPrintfWritesThem) {
  struct Case {
    const char* text;
    std::optional<int32_t> want;
  };
  const Case cases[] = {
      {"0", 0},
      {"12", 12},
      {"-5", -5},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"+5", std::nullopt},
      {"05", std::nullopt},
      {"-0", std::nullopt},
      {"-05", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"1e3", std::nullopt},
      {"99999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseStrictInt32(c.text), c.want) << c.text;

  EXPECT_EQ(ParseStrictUint32("4294967295"), 4294967295u);
  EXPECT_EQ(ParseStrictUint32("4294967296"), std::nullopt);
  EXPECT_EQ(ParseStrictUint32("-1"), std::nullopt);
  EXPECT_EQ(ParseStrictUint32("007"), std::nullopt);
}

TEST(CtlArgsTest, Switches) {
  EXPECT_EQ(ParseSwitch("on"), true);
  EXPECT_EQ(ParseSwitch("1"), true);
  EXPECT_EQ(ParseSwitch("off"), false);
  EXPECT_EQ(ParseSwitch("0"), false);
  EXPECT_EQ(ParseSwitch("2"), std::nullopt);
  EXPECT_EQ(ParseSwitch("ON"), std::nullopt);
}

TEST(CtlArgsTest, AbsolutePathsAreTidied) {
  struct Case {
    const char* in;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"/srv/img/", "/srv/img"},
      {"/srv//img/./a/../b", "/srv/img/b"},
      {"/", "/"},
      {"//", "/"},
      {"/..", "/"},
      {"relative/x", std::nullopt},
      {"", std::nullopt},
      {"./x", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeAbsolutePath(c.in), c.want) << c.in;
  EXPECT_EQ(ResolvePath("/base", "sub/../x"), "/base/x");
  EXPECT_EQ(ResolvePath("/base", "/abs"), "/abs");
}

TEST(CtlArgsTest, OptionsFlagsAndPositionals) {
  StatusOr<ParsedArgs> p =
      ParseArgs({"a", "--win", "\\\\S\\X", "--mac=V:x", "--no-subfolders", "--", "--b"},
                {"--win", "--mac"}, {"--no-subfolders"});
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->positional, (std::vector<std::string>{"a", "--b"}));
  EXPECT_EQ(*p->Option("--win"), "\\\\S\\X");
  EXPECT_EQ(*p->Option("--mac"), "V:x");
  EXPECT_TRUE(p->Has("--no-subfolders"));
  EXPECT_FALSE(p->help);

  // An empty value is a value ("" = no name).
  p = ParseArgs({"--win", ""}, {"--win"}, {});
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(*p->Option("--win"), "");
  // A lone "-" and negative numbers are positional.
  p = ParseArgs({"-", "-5"}, {}, {});
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->positional, (std::vector<std::string>{"-", "-5"}));

  EXPECT_FALSE(ParseArgs({"--bogus"}, {}, {}).ok());
  EXPECT_FALSE(ParseArgs({"--win"}, {"--win"}, {}).ok());
  EXPECT_FALSE(ParseArgs({"--win", "a", "--win", "b"}, {"--win"}, {}).ok());
  EXPECT_FALSE(ParseArgs({"--flag=1"}, {}, {"--flag"}).ok());
  EXPECT_TRUE(ParseArgs({"-h"}, {}, {})->help);
}

}  // namespace
}  // namespace vantrel
