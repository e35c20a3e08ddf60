// The console's JSON API as plain functions over the server's real objects.
// The HTTP layer (web_console.cc) checks the session and the CSRF token and
// turns the requests into these calls; tests call them directly.
//
// Every handler checks what it takes as the console's dialogs check it, and
// a refused request changes nothing. Handlers that change the configuration
// need the edit session (RequireEdit); they save the configuration at once.
//
// Thread safety: handlers may run on many request threads at once; they
// reach shared objects only through their own locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "console/console_sessions.h"
#include "server/server_app.h"

namespace vantrel {

using Json = nlohmann::json;

struct ApiContext {
  ConsoleHost host;
  ConsoleSessions sessions;
  // Clocks: steady seconds for the session rules, Unix seconds for shown
  // times. Empty: the real clocks.
  std::function<int64_t()> steady_seconds;
  std::function<int64_t()> unix_seconds;
  // Set once the console stops: requests that wait (a search waiting for
  // its answer) end instead of holding the stop up. May be null.
  const std::atomic<bool>* stopping = nullptr;
  int64_t SteadyNow() const;
  int64_t UnixNow() const;
};

struct ApiReply {
  int status = 200;
  Json body = Json::object();
};

ApiReply Refused(int status, const std::string& message);

// The session a request comes from (already found by the HTTP layer).
struct ApiCaller {
  SessionInfo session;
};

using ApiParams = std::map<std::string, std::string>;

// --- Status, events, statistics (api_status.cc) ---
ApiReply GetSession(ApiContext& ctx, const ApiCaller& caller);
ApiReply GetTexts();
ApiReply GetStatus(ApiContext& ctx, const ApiCaller& caller);
// The event list's last `last` lines (all when 0).
ApiReply GetEvents(ApiContext& ctx, size_t last);
ApiReply ClearEvents(ApiContext& ctx);
ApiReply GetStatistics(ApiContext& ctx);
// The long work of every index at work now (catch-up, rebuild, rescan).
ApiReply GetProgress(ApiContext& ctx);
ApiReply ClearStatistics(ApiContext& ctx, const Json& body);

// --- Edit mode, password, configuration (api_config.cc) ---
ApiReply SetEditMode(ApiContext& ctx, const ApiCaller& caller, const Json& body);
// Ends the edit session as "off" does: saves and starts the task again
// (not when the server is stopping).
void EndEditSession(ApiContext& ctx, const std::string& why);
ApiReply ChangePassword(ApiContext& ctx, const ApiCaller& caller, const Json& body);
ApiReply GetConfig(ApiContext& ctx);
ApiReply ChangeIndex(ApiContext& ctx, const ApiCaller& caller, const Json& body);
ApiReply ChangeImageFolder(ApiContext& ctx, const ApiCaller& caller, const Json& body);
ApiReply SuggestNetworkNames(ApiContext& ctx, const ApiParams& params);
ApiReply SetIndexOptions(ApiContext& ctx, const ApiCaller& caller, const Json& body);
ApiReply SetPdfOptions(ApiContext& ctx, const ApiCaller& caller, const Json& body);
ApiReply SetLogOptions(ApiContext& ctx, const Json& body);

// --- Tasks, exit, folder chooser (api_tasks.cc) ---
ApiReply RequestTask(ApiContext& ctx, const Json& body);
// {thumbnails_queued}: the PDF thumbnail jobs the stop would wait for, so
// the page asks the thumbnail question before it stops the server.
ApiReply GetExitQuestion(ApiContext& ctx);
// Stops the server as SIGTERM does; {wait_for_thumbnails: true|false} is the
// answer to the thumbnail question (left out: the stop waits a while, then
// drops what is left, as for a signal).
ApiReply RequestExit(ApiContext& ctx, const Json& body);
// The folder chooser lists the server's folders to the edit session, or to
// any session while no edit password is set (anyone could then take edit
// mode anyway); the Log File dialog uses it outside edit mode.
ApiReply ListServerFolder(ApiContext& ctx, const ApiCaller& caller, const ApiParams& params);
ApiReply CreateServerFolder(ApiContext& ctx, const ApiCaller& caller, const Json& body);

}  // namespace vantrel
