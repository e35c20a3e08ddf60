// ConsoleClient: one session of a running server's web console, held over
// HTTP(S) as the console's page holds one (docs/console-api.md): the session
// cookie from the first request, and its CSRF token on every POST.
//
// HTTPS: the certificate is checked against --console-ca FILE when given,
// else against the system's certificate authorities; only a console on a
// loopback address (127.0.0.0/8, ::1, localhost) is taken without a check
// when no FILE is given (its self-signed certificate cannot be checked, and
// nothing leaves the machine).
//
// Thread safety: one object per thread.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/status.h"

namespace vantrel {

struct ConsoleAnswer {
  // The HTTP status; 0 when no answer came (then `failure` says why).
  int status = 0;
  nlohmann::json body;  // the answer's JSON object (empty object when none)
  std::string failure;
  bool not_sent = false;  // the request could not be written (no answer expected)

  bool ok() const { return status == 200; }
  // The API's {"error": ...} text, or a description of the status.
  std::string ErrorText() const;
};

class ConsoleClient {
 public:
  struct Options {
    std::string url;      // http://HOST:PORT or https://HOST:PORT
    std::string ca_file;  // HTTPS: the certificate (or CA) to check against
    int timeout_seconds = 60;
  };

  // Opens a session (GET /api/session). kInvalidArgument for a URL that is
  // not http(s)://HOST:PORT; kUnavailable when the console cannot be
  // reached or gives no session.
  static StatusOr<std::unique_ptr<ConsoleClient>> Open(const Options& options);
  ~ConsoleClient();

  // The session's answer to GET /api/session when it was opened.
  const nlohmann::json& session() const { return session_; }

  // GET `path` with the query `params` (encoded here).
  ConsoleAnswer Get(const std::string& path, const std::map<std::string, std::string>& params = {});
  // POST `body` as JSON. A text that is not UTF-8 cannot be sent in JSON:
  // no request is made then (status 0).
  ConsoleAnswer Post(const std::string& path, const nlohmann::json& body);

 private:
  struct Impl;
  explicit ConsoleClient(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
  nlohmann::json session_;
};

// True for URLs whose host is a loopback address.
bool IsLoopbackUrl(const std::string& url);

}  // namespace vantrel
