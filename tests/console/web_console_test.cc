#include "console/web_console.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "console/console_fixture.h"
#include "core/config_file.h"
#include "server/progress_board.h"
#include "support/eventually.h"

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

class WebConsoleTest : public ConsoleFixture {
 protected:
  // Starts `console` on a free loopback port for the fixture's server.
  void StartOnAFreePort(WebConsole* console, ProgressSource* progress = nullptr) {
    ConsoleHost host = ctx_.host;
    host.args.console = "127.0.0.1:0";
    if (progress != nullptr) host.progress = progress;
    ASSERT_TRUE(console->Start(host).ok());
  }
};

TEST_F(WebConsoleTest, ServesThePageWithItsHeadersAndGuardsChangesWithTheToken) {
  WebConsole console;
  ASSERT_NO_FATAL_FAILURE(StartOnAFreePort(&console));
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

TEST_F(WebConsoleTest, AStopDoesNotWaitOutAnIdleKeptAliveConnection) {
  WebConsole console;
  ASSERT_NO_FATAL_FAILURE(StartOnAFreePort(&console));
  // A browser keeps its connection open after a request; the server's
  // worker waits on it until it is idle for the keep-alive time.
  httplib::Client client("127.0.0.1", console.port());
  client.set_keep_alive(true);
  auto session = client.Get("/api/session");
  ASSERT_TRUE(session);
  const auto start = std::chrono::steady_clock::now();
  console.Stop();
  // A second at most, against the library's five by default; the bound
  // leaves room for a slow machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(WebConsoleTest, AStopEndsASearchStillWaitingForItsAnswer) {
  WebConsole console;
  ASSERT_NO_FATAL_FAILURE(StartOnAFreePort(&console));
  const std::string search_folder = MadeSearchFolder();
  auto requests_waiting = [&] { return RequestsWaitingIn(search_folder); };
  // This task has no search service: the request stays unanswered, as one
  // does that a restarting task has cleared away.
  int status = 0;
  std::thread searcher([&] {
    httplib::Client client("127.0.0.1", console.port());
    client.set_read_timeout(120, 0);
    auto reply = client.Get("/api/search?index=1&q=harbour");
    status = reply ? reply->status : -1;
  });
  ASSERT_TRUE(Eventually([&] { return requests_waiting() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  console.Stop();
  searcher.join();
  // Well under the thirty seconds that the search would otherwise wait.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(status, 503);
  EXPECT_EQ(requests_waiting(), 0u) << "the console removes the request it made";
}

// One index at work whose count grows at every read, until it is idle.
class GrowingProgress : public ProgressSource {
 public:
  std::vector<ProgressView> Running() override {
    if (idle) return {};
    return {ProgressView{0, WorkKind::kRescan, ++done, 1000000, 100, 10, 1700000000}};
  }
  std::atomic<bool> idle{false};
  std::atomic<uint64_t> done{0};
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(WebConsoleTest, TheStreamSendsProgressAtMostEveryHalfSecondAndOnceMoreWhenIdle) {
  GrowingProgress progress;
  WebConsole console;
  ASSERT_NO_FATAL_FAILURE(StartOnAFreePort(&console, &progress));
  // Status changes wake the stream all the time, as a folder being indexed
  // does.
  std::atomic<bool> busy{true};
  std::thread poster([&] {
    for (int i = 0; busy; ++i) {
      state_->OnStatus(StatusMessage::Text(kStatusFileIndexed, "/img/" + std::to_string(i)));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  httplib::Client client("127.0.0.1", console.port());
  std::string received;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
  client.Get("/api/events", [&](const char* data, size_t length) {
    received.append(data, length);
    if (elapsed() > std::chrono::seconds(3)) progress.idle = true;
    return elapsed() < std::chrono::seconds(60) && received.find("{\"running\":[]}") == std::string::npos;
  });
  const double seconds = std::chrono::duration<double>(elapsed()).count();
  busy = false;
  poster.join();
  console.Stop();

  ASSERT_NE(received.find("event: progress\ndata: {\"running\":[]}"), std::string::npos)
      << "the end of the work reaches the page";
  const size_t sent = Count(received, "event: progress");
  EXPECT_GE(sent, 3u) << "the figures changed all the time";
  EXPECT_LE(static_cast<double>(sent), seconds / 0.5 + 1) << "over " << seconds << " s";
  EXPECT_GT(Count(received, "event: status"), sent) << "status events are not held back";
  EXPECT_NE(received.find("\"operation\":\"rescan\""), std::string::npos);
}

}  // namespace
}  // namespace vantrel
