#include "tools/ctl_console_client.h"

#include <httplib.h>

namespace vantrel {
namespace {

constexpr char kCookieName[] = "vt_session";

// "http(s)://HOST:PORT" with an optional trailing '/'; the host without
// brackets in *host.
bool SplitUrl(const std::string& url, bool* https, std::string* host) {
  std::string rest;
  if (url.rfind("http://", 0) == 0) {
    *https = false;
    rest = url.substr(7);
  } else if (url.rfind("https://", 0) == 0) {
    *https = true;
    rest = url.substr(8);
  } else {
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) return false;
  const std::string port = rest.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  std::string h = rest.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (h.empty() || h.find_first_of("/?#@ ") != std::string::npos) return false;
  *host = h;
  return true;
}

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The value of the session cookie in a Set-Cookie header.
std::string SessionCookie(const std::string& set_cookie) {
  const std::string key = std::string(kCookieName) + "=";
  if (set_cookie.rfind(key, 0) != 0) return "";
  std::string value = set_cookie.substr(key.size());
  return value.substr(0, value.find(';'));
}

ConsoleAnswer AnswerOf(const httplib::Result& result) {
  ConsoleAnswer answer;
  answer.body = nlohmann::json::object();
  if (!result) {
    answer.failure = httplib::to_string(result.error());
    return answer;
  }
  answer.status = result->status;
  nlohmann::json body = nlohmann::json::parse(result->body, nullptr, /*allow_exceptions=*/false);
  if (!body.is_discarded() && body.is_object()) answer.body = std::move(body);
  return answer;
}

}  // namespace

std::string ConsoleAnswer::ErrorText() const {
  if (status == 0) return failure;
  if (body.contains("error") && body["error"].is_string()) return body["error"].get<std::string>();
  return "HTTP status " + std::to_string(status);
}

bool IsLoopbackUrl(const std::string& url) {
  bool https = false;
  std::string host;
  return SplitUrl(url, &https, &host) && IsLoopbackHost(host);
}

struct ConsoleClient::Impl {
  std::unique_ptr<httplib::Client> http;
  std::string cookie;
  std::string csrf;

  httplib::Headers Headers(bool with_token) const {
    httplib::Headers h;
    if (!cookie.empty()) h.emplace("Cookie", std::string(kCookieName) + "=" + cookie);
    if (with_token) h.emplace("X-CSRF-Token", csrf);
    return h;
  }
};

ConsoleClient::ConsoleClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ConsoleClient::~ConsoleClient() = default;

StatusOr<std::unique_ptr<ConsoleClient>> ConsoleClient::Open(const Options& options) {
  bool https = false;
  std::string host;
  if (!SplitUrl(options.url, &https, &host)) {
    return Status::InvalidArgument("\"" + options.url +
                                   "\" is not a console address (http://HOST:PORT or "
                                   "https://HOST:PORT)");
  }
  std::string base = options.url;
  if (base.back() == '/') base.pop_back();
  auto impl = std::make_unique<Impl>();
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
  impl->http = std::make_unique<httplib::Client>(base);
  if (https) {
    if (!options.ca_file.empty()) {
      impl->http->set_ca_cert_path(options.ca_file);
      impl->http->enable_server_certificate_verification(true);
    } else {
      impl->http->enable_server_certificate_verification(!IsLoopbackHost(host));
    }
  }
#else
  if (https) return Status::InvalidArgument("this build of vantrelctl speaks no HTTPS");
  impl->http = std::make_unique<httplib::Client>(base);
#endif
  impl->http->set_connection_timeout(options.timeout_seconds, 0);
  impl->http->set_read_timeout(options.timeout_seconds, 0);
  impl->http->set_write_timeout(options.timeout_seconds, 0);

  httplib::Result first = impl->http->Get("/api/session");
  ConsoleAnswer answer = AnswerOf(first);
  if (!answer.ok()) {
    return Status::Unavailable("the console at " + base + " cannot be reached (" +
                               answer.ErrorText() + ")");
  }
  impl->cookie = SessionCookie(first->get_header_value("Set-Cookie"));
  if (impl->cookie.empty() || !answer.body.contains("csrf") || !answer.body["csrf"].is_string()) {
    return Status::Unavailable("the console at " + base + " gave no session");
  }
  impl->csrf = answer.body["csrf"].get<std::string>();
  std::unique_ptr<ConsoleClient> client(new ConsoleClient(std::move(impl)));
  client->session_ = std::move(answer.body);
  return client;
}

ConsoleAnswer ConsoleClient::Get(const std::string& path,
                                 const std::map<std::string, std::string>& params) {
  httplib::Params query(params.begin(), params.end());
  return AnswerOf(impl_->http->Get(path, query, impl_->Headers(false)));
}

ConsoleAnswer ConsoleClient::Post(const std::string& path, const nlohmann::json& body) {
  std::string text;
  try {
    text = body.dump();
  } catch (const nlohmann::json::exception&) {
    ConsoleAnswer refused;
    refused.not_sent = true;
    refused.failure = "a path or name is not UTF-8 text, which the console API cannot carry";
    return refused;
  }
  return AnswerOf(impl_->http->Post(path, impl_->Headers(true), text, "application/json"));
}

}  // namespace vantrel
