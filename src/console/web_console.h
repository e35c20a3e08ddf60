// WebConsole: the operator console on the web. An HTTP(S) server on the
// --console address serves the embedded page (web/) and the JSON API
// (console_api.h, docs/console-api.md), with the live stream of status and
// event lines at /api/events.
//
// Security: loopback by default; another address only with an edit password
// or --console-insecure. Sessions by an HttpOnly, SameSite=Strict cookie;
// every state-changing request repeats the session's CSRF token in the
// X-CSRF-Token header. Every answer carries a Content-Security-Policy
// without inline scripts, nosniff and frame-ancestors 'none'.
//
// Thread safety: Start and Stop from the main thread; requests run on the
// server's own threads.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "console/console_api.h"
#include "server/server_app.h"

namespace vantrel {

// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackAddress(const std::string& host);
// Splits "ADDR:PORT" ("[::1]:8470" too); false when it is not one.
bool SplitConsoleAddress(const std::string& text, std::string* host, int* port);
// Why the console must not listen as asked ("" when it may).
std::string ConsoleExposureProblem(const ServerArguments& args, bool password_set);

class WebConsole : public ConsoleService {
 public:
  WebConsole();
  ~WebConsole() override;

  Status Start(const ConsoleHost& host) override;
  void Stop() override;
  // "http(s)://HOST:PORT" with the port it listens on; a wildcard address
  // (0.0.0.0, ::) is reached through loopback. "" before Start.
  std::string Url() const override;

  // The port it listens on (after Start), for tests that ask for port 0.
  int port() const { return port_; }
  ApiContext& context() { return *ctx_; }

 private:
  struct Impl;
  void Janitor();

  std::unique_ptr<ApiContext> ctx_;
  std::unique_ptr<Impl> impl_;
  std::thread listener_;
  std::thread janitor_;
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace vantrel
