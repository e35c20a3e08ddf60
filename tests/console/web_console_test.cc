#include "console/web_console.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "console/console_fixture.h"

namespace vantrel {
namespace {

TEST(ConsoleExposure, AnotherAddressThanLoopbackNeedsAPasswordOrConsent) {
  ServerArguments args;
  EXPECT_EQ(ConsoleExposureProblem(args, false), "");
  args.console = "[::1]:8470";
  EXPECT_EQ(ConsoleExposureProblem(args, false), "");
  args.console = "0.0.0.0:8470";
  EXPECT_NE(ConsoleExposureProblem(args, false).find("--console-insecure"), std::string::npos);
  EXPECT_EQ(ConsoleExposureProblem(args, true), "");
  args.console_insecure = true;
  EXPECT_EQ(ConsoleExposureProblem(args, false), "");
  args.console = "127.0.0.1:99999";
  EXPECT_NE(ConsoleExposureProblem(args, false), "");
}

using WebConsoleTest = ConsoleFixture;

TEST_F(WebConsoleTest, ServesThePageWithItsHeadersAndGuardsChangesWithTheToken) {
  ConsoleHost host = ctx_.host;
  host.args.console = "127.0.0.1:0";
  WebConsole console;
  ASSERT_TRUE(console.Start(host).ok());
  httplib::Client client("127.0.0.1", console.port());

  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("console.js"), std::string::npos);
  const std::string csp = page->get_header_value("Content-Security-Policy");
  EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos);
  EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos);
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(client.Get("/../etc/passwd")->status, 404);

  auto session = client.Get("/api/session");
  ASSERT_TRUE(session);
  const std::string cookie = session->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  const std::string csrf = Json::parse(session->body)["csrf"];
  httplib::Headers with_cookie{{"Cookie", cookie.substr(0, cookie.find(';'))}};

  const std::string body = R"({"task":"rescan"})";
  auto no_token = client.Post("/api/tasks", with_cookie, body, "application/json");
  EXPECT_EQ(no_token->status, 403);
  auto no_session = client.Post("/api/tasks", httplib::Headers{{"X-CSRF-Token", csrf}}, body,
                                "application/json");
  EXPECT_EQ(no_session->status, 401);
  EXPECT_FALSE(requests_.Pop());

  httplib::Headers good = with_cookie;
  good.emplace("X-CSRF-Token", csrf);
  auto malformed = client.Post("/api/tasks", good, "{task:", "application/json");
  EXPECT_EQ(malformed->status, 400);
  EXPECT_NE(malformed->body.find("not a JSON object"), std::string::npos);
  auto ok = client.Post("/api/tasks", good, body, "application/json");
  EXPECT_EQ(ok->status, 200);
  EXPECT_TRUE(requests_.Pop());
  console.Stop();
}

}  // namespace
}  // namespace vantrel
