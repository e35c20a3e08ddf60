#include "search/request_names.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(RequestNames, ArrivalFilterTakesOnlyUpperCaseExtensions) {
  struct Case {
    const char* name;
    bool request;
  } cases[] = {
      {"A.REQ", true},  {"A.QRY", true},   {"AREQ", true},    {"REQ", true},
      {"A.req", false}, {"A.Req", false},  {"a.qrY", false},  {"A.HIT", false},
      {"A.PRG", false}, {"A.REQ.tmp", false}, {"", false},    {"RE", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRequestFileName(c.name), c.request) << c.name;
  EXPECT_TRUE(IsRequestFileName(std::string(251, 'n') + ".REQ"));
  EXPECT_FALSE(IsRequestFileName(std::string(252, 'n') + ".REQ"));
}

TEST(RequestNames, KindLooksAtTheLastFourCharacters) {
  struct Case {
    const char* name;
    RequestKind kind;
  } cases[] = {
      {"A.QRY", RequestKind::kQuery},  {"a.qry", RequestKind::kQuery},
      {"X.Y.QRY", RequestKind::kQuery}, {".QRY", RequestKind::kQuery},
      {"A.REQ", RequestKind::kSearch}, {"AQRY", RequestKind::kSearch},
      {"QRY", RequestKind::kSearch},   {"A.QRYX", RequestKind::kSearch},
      {"A.Q", RequestKind::kSearch},   {"", RequestKind::kSearch},
  };
  for (const Case& c : cases) EXPECT_EQ(KindOfRequest(c.name), c.kind) << c.name;
}

TEST(RequestNames, AnswerNames) {
  struct Case {
    const char* request;
    const char* hit;
  } cases[] = {
      {"A.REQ", "A.HIT"},       {"SEARCH1.QRY", "SEARCH1.HIT"}, {"X.Y.REQ", "X.Y.HIT"},
      {"AREQ", "AREQ.HIT"},     {"A..REQ", "A..HIT"},           {"AB.C", "AB.HIT"},
      {"REQ", "REQ.HIT"},       {".REQ", ".HIT"},               {"", ".HIT"},
  };
  for (const Case& c : cases) EXPECT_EQ(HitFileName(c.request), c.hit) << c.request;
  EXPECT_EQ(ProgressFileName("A.QRY"), "A.PRG");
}

TEST(RequestNames, ListFileNamesStayInTheSearchFolder) {
  for (const char* good : {"A.HIT", "old results.HIT", "\xE9t\xE9.HIT", "...HIT", "a..b"}) {
    EXPECT_TRUE(IsPlainListFileName(good)) << good;
  }
  for (const char* bad : {"", ".", "..", "../A.HIT", "..\\A.HIT", "/etc/passwd", "\\A.HIT",
                          "C:A.HIT", "C:\\x\\A.HIT", "sub/A.HIT", "A.HIT\n", "A\x01.HIT"}) {
    EXPECT_FALSE(IsPlainListFileName(bad)) << bad;
  }
  CodePage cp = CodePage::BuiltInWindows1252();
  EXPECT_EQ(ListFilePath("/idx/VT_SEARCH", "\xE9t\xE9.HIT", cp), "/idx/VT_SEARCH/\xC3\xA9t\xC3\xA9.HIT");
  EXPECT_EQ(ListFilePath("/idx/VT_SEARCH", "../../etc/passwd", cp), std::nullopt);
}

}  // namespace
}  // namespace vantrel
