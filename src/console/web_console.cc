#include "console/web_console.h"

#include <chrono>
#include <cstdio>

#include <httplib.h>

#include "console/console_api_search.h"
#include "console/preview_route.h"
#include "console/web_assets.h"
#include "core/event_log.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/task_control.h"

namespace vantrel {
namespace {

constexpr char kCookieName[] = "vt_session";
constexpr size_t kMaxBody = 64 * 1024;

const httplib::Headers& SecurityHeaders() {
  static const httplib::Headers headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
       "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
  };
  return headers;
}

std::string Dump(const Json& j) {
  // Paths need not be UTF-8: bytes that are not become U+FFFD.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Reply(httplib::Response& res, const ApiReply& reply) {
  res.status = reply.status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(Dump(reply.body), "application/json; charset=utf-8");
}

std::string CookieValue(const httplib::Request& req) {
  std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(kCookieName) + "=";
  size_t at = 0;
  while (at < cookies.size()) {
    size_t end = cookies.find(';', at);
    if (end == std::string::npos) end = cookies.size();
    std::string part = cookies.substr(at, end - at);
    size_t start = part.find_first_not_of(' ');
    if (start != std::string::npos && part.compare(start, key.size(), key) == 0) {
      return part.substr(start + key.size());
    }
    at = end + 1;
  }
  return "";
}

ApiParams ParamsOf(const httplib::Request& req) {
  ApiParams out;
  for (const auto& [k, v] : req.params) out.emplace(k, v);
  return out;
}

}  // namespace

bool IsLoopbackAddress(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

bool SplitConsoleAddress(const std::string& text, std::string* host, int* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  const std::string p = text.substr(colon + 1);
  if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  int n = std::stoi(p);
  if (n > 65535 || h.empty()) return false;
  *host = h;
  *port = n;
  return true;
}

std::string ConsoleExposureProblem(const ServerArguments& args, bool password_set) {
  std::string host;
  int port = 0;
  if (!SplitConsoleAddress(args.console, &host, &port)) {
    return "--console needs ADDR:PORT, e.g. 127.0.0.1:8470";
  }
  if (IsLoopbackAddress(host) || password_set || args.console_insecure) return "";
  return "the console would listen on " + args.console +
         ", which other machines reach, and no edit password is set: set one with "
         "vantrelctl (or on the console at 127.0.0.1) or give --console-insecure";
}

struct WebConsole::Impl {
  std::unique_ptr<httplib::Server> server;
  bool https = false;
};

WebConsole::WebConsole() : ctx_(std::make_unique<ApiContext>()), impl_(std::make_unique<Impl>()) {
  ctx_->stopping = &stopping_;
}

WebConsole::~WebConsole() { Stop(); }

namespace {

// The session of a request; a new one (with its cookie) when it has none.
ApiCaller CallerOf(ApiContext& ctx, const httplib::Request& req, httplib::Response& res,
                   bool https) {
  const std::string id = CookieValue(req);
  if (std::optional<SessionInfo> found = ctx.sessions.Touch(id, ctx.SteadyNow())) {
    return ApiCaller{*found};
  }
  SessionInfo fresh = ctx.sessions.Create(req.remote_addr, ctx.SteadyNow());
  res.set_header("Set-Cookie", std::string(kCookieName) + "=" + fresh.id +
                                   "; Path=/; HttpOnly; SameSite=Strict" +
                                   (https ? "; Secure" : ""));
  return ApiCaller{fresh};
}

using ReadHandler = std::function<ApiReply(const ApiCaller&, const ApiParams&)>;
using WriteHandler = std::function<ApiReply(const ApiCaller&, const Json&)>;

void AddRead(httplib::Server& server, ApiContext& ctx, bool https, const char* path,
             ReadHandler handler) {
  server.Get(path, [&ctx, https, handler](const httplib::Request& req, httplib::Response& res) {
    ApiCaller caller = CallerOf(ctx, req, res, https);
    Reply(res, handler(caller, ParamsOf(req)));
  });
}

// A state-changing request: the session must exist already and the
// X-CSRF-Token header must carry its token; the body must be JSON.
void HandleWrite(ApiContext& ctx, const httplib::Request& req, httplib::Response& res,
                 const WriteHandler& handler) {
  std::optional<SessionInfo> session = ctx.sessions.Touch(CookieValue(req), ctx.SteadyNow());
  if (!session) {
    Reply(res, Refused(401, "no console session: reload the page"));
    return;
  }
  if (!ConstantTimeEquals(req.get_header_value("X-CSRF-Token"), session->csrf)) {
    Reply(res, Refused(403, "the request lacks this session's X-CSRF-Token"));
    return;
  }
  Json body = Json::object();
  if (!req.body.empty()) {
    body = Json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    if (body.is_discarded() || !body.is_object()) {
      Reply(res, Refused(400, "the request body is not a JSON object"));
      return;
    }
  }
  Reply(res, handler(ApiCaller{*session}, body));
}

void AddWrite(httplib::Server& server, ApiContext& ctx, const char* path, WriteHandler handler) {
  server.Post(path, [&ctx, handler](const httplib::Request& req, httplib::Response& res) {
    HandleWrite(ctx, req, res, handler);
  });
}

void AddStaticFiles(httplib::Server& server) {
  server.Get(R"(/([A-Za-z0-9_.\-]*))", [](const httplib::Request& req, httplib::Response& res) {
    const WebAsset* asset = FindWebAsset(req.path);
    if (!asset) {
      res.status = 404;
      res.set_content("not found", "text/plain; charset=utf-8");
      return;
    }
    res.set_content(std::string(asset->body), std::string(asset->content_type));
  });
}

void AddApiRoutes(httplib::Server& server, ApiContext& ctx, bool https) {
  AddRead(server, ctx, https, "/api/session",
          [&ctx](const ApiCaller& c, const ApiParams&) { return GetSession(ctx, c); });
  AddRead(server, ctx, https, "/api/texts",
          [](const ApiCaller&, const ApiParams&) { return GetTexts(); });
  AddRead(server, ctx, https, "/api/status",
          [&ctx](const ApiCaller& c, const ApiParams&) { return GetStatus(ctx, c); });
  AddRead(server, ctx, https, "/api/log", [&ctx](const ApiCaller&, const ApiParams& p) {
    size_t last = 0;
    if (auto it = p.find("last"); it != p.end()) {
      last = static_cast<size_t>(std::strtoul(it->second.c_str(), nullptr, 10));
    }
    return GetEvents(ctx, last);
  });
  AddRead(server, ctx, https, "/api/statistics",
          [&ctx](const ApiCaller&, const ApiParams&) { return GetStatistics(ctx); });
  AddRead(server, ctx, https, "/api/progress",
          [&ctx](const ApiCaller&, const ApiParams&) { return GetProgress(ctx); });
  AddRead(server, ctx, https, "/api/config",
          [&ctx](const ApiCaller&, const ApiParams&) { return GetConfig(ctx); });
  AddRead(server, ctx, https, "/api/names",
          [&ctx](const ApiCaller&, const ApiParams& p) { return SuggestNetworkNames(ctx, p); });
  AddRead(server, ctx, https, "/api/dirs",
          [&ctx](const ApiCaller& c, const ApiParams& p) { return ListServerFolder(ctx, c, p); });
  AddRead(server, ctx, https, "/api/inspect",
          [&ctx](const ApiCaller&, const ApiParams& p) { return InspectHit(ctx, p); });
  AddRead(server, ctx, https, "/api/search",
          [&ctx](const ApiCaller&, const ApiParams& p) { return SearchFromConsole(ctx, p); });

  AddWrite(server, ctx, "/api/log/clear",
           [&ctx](const ApiCaller&, const Json&) { return ClearEvents(ctx); });
  AddWrite(server, ctx, "/api/log/options",
           [&ctx](const ApiCaller&, const Json& b) { return SetLogOptions(ctx, b); });
  AddWrite(server, ctx, "/api/statistics/clear",
           [&ctx](const ApiCaller&, const Json& b) { return ClearStatistics(ctx, b); });
  AddWrite(server, ctx, "/api/edit",
           [&ctx](const ApiCaller& c, const Json& b) { return SetEditMode(ctx, c, b); });
  AddWrite(server, ctx, "/api/password",
           [&ctx](const ApiCaller& c, const Json& b) { return ChangePassword(ctx, c, b); });
  AddWrite(server, ctx, "/api/indexes",
           [&ctx](const ApiCaller& c, const Json& b) { return ChangeIndex(ctx, c, b); });
  AddWrite(server, ctx, "/api/folders",
           [&ctx](const ApiCaller& c, const Json& b) { return ChangeImageFolder(ctx, c, b); });
  AddWrite(server, ctx, "/api/options",
           [&ctx](const ApiCaller& c, const Json& b) { return SetIndexOptions(ctx, c, b); });
  AddWrite(server, ctx, "/api/pdf",
           [&ctx](const ApiCaller& c, const Json& b) { return SetPdfOptions(ctx, c, b); });
  AddWrite(server, ctx, "/api/tasks",
           [&ctx](const ApiCaller&, const Json& b) { return RequestTask(ctx, b); });
  AddRead(server, ctx, https, "/api/exit",
          [&ctx](const ApiCaller&, const ApiParams&) { return GetExitQuestion(ctx); });
  AddWrite(server, ctx, "/api/exit",
           [&ctx](const ApiCaller&, const Json& b) { return RequestExit(ctx, b); });
  AddWrite(server, ctx, "/api/dirs",
           [&ctx](const ApiCaller& c, const Json& b) { return CreateServerFolder(ctx, c, b); });

  server.Get("/api/preview", [&ctx](const httplib::Request& req, httplib::Response& res) {
    PreviewReply reply = ServePreview(ctx, ParamsOf(req));
    res.status = reply.status;
    res.set_header("Cache-Control", "private, max-age=300");
    res.set_content(reply.body, reply.content_type);
  });
}

std::string SseEvent(const char* name, const Json& data) {
  return std::string("event: ") + name + "\ndata: " + Dump(data) + "\n\n";
}

// What one live stream has sent.
struct StreamSeen {
  uint64_t version, added, cleared;
  std::chrono::steady_clock::time_point sent;
  std::chrono::steady_clock::time_point progress_sent;
  std::string progress;  // the last "progress" data
  bool working = false;  // it named an index at work
};

// A "progress" event when the long work's figures changed, at most every
// 500 ms.
void AppendProgressEvent(ApiContext& ctx, StreamSeen* seen, std::string* out) {
  const auto now = std::chrono::steady_clock::now();
  if (now - seen->progress_sent < std::chrono::milliseconds(500)) return;
  Json body = GetProgress(ctx).body;
  std::string data = Dump(body);
  if (data == seen->progress) return;
  seen->progress = data;
  seen->progress_sent = now;
  seen->working = !body["running"].empty();
  *out += "event: progress\ndata: " + data + "\n\n";
}

// The live stream: a "status" event whenever the console's state changed,
// "log" with the event lines added since the last one, "reset" with the
// whole list after Clear Log, "progress" while long work runs (and once when
// it ends).
void AddEventStream(httplib::Server& server, ApiContext& ctx, std::atomic<bool>& stopping,
                    bool https) {
  server.Get("/api/events", [&ctx, &stopping, https](const httplib::Request& req,
                                                     httplib::Response& res) {
    ApiCaller caller = CallerOf(ctx, req, res, https);
    res.set_header("Cache-Control", "no-store");
    ConsoleSnapshot start = ctx.host.state->Snapshot();
    // The first message is a "reset" with the whole list: the page needs
    // nothing else to start.
    auto seen = std::make_shared<StreamSeen>(
        StreamSeen{~uint64_t{0}, start.events_added, ~uint64_t{0}, {}, {}, {}, false});
    res.set_chunked_content_provider(
        "text/event-stream",
        [&ctx, &stopping, caller, seen](size_t, httplib::DataSink& sink) {
          if (stopping.load()) return false;
          uint64_t version = ctx.host.state->WaitForChange(
              seen->version, std::chrono::milliseconds(seen->working ? 500 : 1000));
          if (stopping.load()) return false;
          ctx.sessions.Touch(caller.session.id, ctx.SteadyNow());
          if (version == seen->version) {
            std::string out;
            AppendProgressEvent(ctx, seen.get(), &out);
            if (out.empty()) out = ": ping\n\n";
            return sink.write(out.data(), out.size());
          }
          // Changes that come in a burst (a folder being indexed) share one
          // message: after a message, the next waits a little.
          const auto now = std::chrono::steady_clock::now();
          if (now - seen->sent < std::chrono::milliseconds(100)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            version = ctx.host.state->Snapshot().version;
          }
          seen->sent = std::chrono::steady_clock::now();
          seen->version = version;
          ConsoleSnapshot snap = ctx.host.state->Snapshot();
          std::string out;
          if (snap.events_cleared != seen->cleared) {
            out += SseEvent("reset", Json{{"lines", ctx.host.log->Lines()}});
          } else if (snap.events_added > seen->added) {
            std::vector<std::string> lines = ctx.host.log->Lines();
            const uint64_t fresh = snap.events_added - seen->added;
            if (fresh < lines.size()) lines.erase(lines.begin(), lines.end() - fresh);
            out += SseEvent("log", Json{{"lines", lines}});
          }
          seen->cleared = snap.events_cleared;
          seen->added = snap.events_added;
          out += SseEvent("status", GetStatus(ctx, caller).body);
          AppendProgressEvent(ctx, seen.get(), &out);
          return sink.write(out.data(), out.size());
        });
  });
}

}  // namespace

Status WebConsole::Start(const ConsoleHost& host) {
  ctx_->host = host;
  const bool password_set = !host.config->Copy().edit_password.empty();
  std::string problem = ConsoleExposureProblem(host.args, password_set);
  if (!problem.empty()) return Status::InvalidArgument(problem);
  std::string address;
  int port = 0;
  SplitConsoleAddress(host.args.console, &address, &port);

  if (!host.args.console_cert.empty()) {
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    auto tls = std::make_unique<httplib::SSLServer>(host.args.console_cert.c_str(),
                                                    host.args.console_key.c_str());
    if (!tls->is_valid()) {
      return Status::InvalidArgument("cannot use the certificate " + host.args.console_cert +
                                     " with the key " + host.args.console_key);
    }
    impl_->server = std::move(tls);
    impl_->https = true;
#else
    return Status::InvalidArgument("this build serves the console without HTTPS");
#endif
  } else {
    impl_->server = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *impl_->server;
  server.set_default_headers(SecurityHeaders());
  server.set_payload_max_length(kMaxBody);
  server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  // A worker holds an idle kept-alive connection open until this time has
  // passed, and a stop waits for every worker: a second keeps the stop
  // short (the library's default of five held every Exit for five) and
  // frees workers that idle browsers hold. The page's event stream is one
  // long response and is not cut by it.
  server.set_keep_alive_timeout(1);
  AddApiRoutes(server, *ctx_, impl_->https);
  AddEventStream(server, *ctx_, stopping_, impl_->https);
  AddStaticFiles(server);

  if (port == 0) {
    port_ = server.bind_to_any_port(address);
    if (port_ < 0) return Status::IoError("the console cannot listen on " + address);
  } else {
    if (!server.bind_to_port(address, port)) {
      return Status::IoError("the console cannot listen on " + host.args.console +
                             " (in use, or not an address of this machine)");
    }
    port_ = port;
  }
  listener_ = std::thread([this] { impl_->server->listen_after_bind(); });
  janitor_ = std::thread([this] { Janitor(); });
  return Status::Ok();
}

std::string WebConsole::Url() const {
  std::string host;
  int port = 0;
  if (port_ <= 0 || !SplitConsoleAddress(ctx_->host.args.console, &host, &port)) return "";
  if (host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return std::string(impl_->https ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

void WebConsole::Janitor() {
  while (!stopping_.load()) {
    for (int i = 0; i < 20 && !stopping_.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (stopping_.load()) return;
    if (ctx_->sessions.ExpireIdle(ctx_->SteadyNow())) {
      ctx_->sessions.ReleaseAnyEdit();
      ctx_->host.state->AddEvent(
          "The console session in edit mode ended after 10 minutes without a request; edit "
          "mode is off");
      SaveOrSay(*ctx_->host.config, *ctx_->host.state);
      ctx_->host.task->Resume();
    }
  }
}

void WebConsole::Stop() {
  if (stopping_.exchange(true)) return;
  if (impl_->server) impl_->server->stop();
  if (listener_.joinable()) listener_.join();
  if (janitor_.joinable()) janitor_.join();
  // An edit session ends with the server: saved, the task not started again.
  if (ctx_->host.config && ctx_->sessions.ReleaseAnyEdit()) {
    SaveOrSay(*ctx_->host.config, *ctx_->host.state);
  }
}

}  // namespace vantrel
