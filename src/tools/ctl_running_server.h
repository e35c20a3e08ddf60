// vantrelctl and a server running in the start directory.
//
// While a server holds the start directory's instance lock, the commands
// that change its configuration, and the server actions (task, log clear,
// stats clear), go through the server's web console as its page does
// (docs/console-api.md): a session, edit mode taken with the edit password
// (from --password-file or typed at the terminal) when the change needs it,
// the change with the session's CSRF token, and edit mode given back, which
// saves the configuration and starts the database task again.
//
// The console's address is the one the server wrote into its instance lock
// file ("console URL"), or --console URL.
//
// Thread safety: one command at a time.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/ctl_console_client.h"
#include "tools/ctl_context.h"

namespace vantrel {

// True when a process holds the instance lock of `dir` (a server, or
// another vantrelctl changing the file).
bool ServerRunsIn(const std::string& dir);

// A console session with the server running in the start directory.
class RunningServer {
 public:
  // Finds the console and opens a session; nothing (after printing why,
  // *code the exit status) when that fails.
  static std::unique_ptr<RunningServer> Connect(const CtlCall& call, const CtlEnv& env,
                                                int* code);

  // GET `path`; nothing (after printing why, *code the exit status) unless
  // the answer is 200.
  std::optional<nlohmann::json> Get(const std::string& path, int* code,
                                    const std::map<std::string, std::string>& params = {});
  // POST; kCtlOk, or the exit status after printing the refusal.
  int Post(const std::string& path, const nlohmann::json& body);

  // Takes edit mode (asking for the password when one is set) and gives it
  // back. Exit statuses as Post.
  int TakeEdit();
  int LeaveEdit();

  const std::string& url() const { return url_; }

 private:
  RunningServer(const CtlCall& call, const CtlEnv& env, std::string url,
                std::unique_ptr<ConsoleClient> client)
      : call_(call), env_(env), url_(std::move(url)), client_(std::move(client)) {}
  int Explain(const std::string& what, const ConsoleAnswer& answer);
  int RefuseWhenHeld(const nlohmann::json& session);
  std::optional<std::string> EditPassword(int* code);

  const CtlCall& call_;
  const CtlEnv& env_;
  std::string url_;
  std::unique_ptr<ConsoleClient> client_;
};

// Runs `change` with a session in edit mode: takes edit mode, changes, and
// gives edit mode back even when the change was refused. Returns the
// change's status (or the first failure).
int ChangeThroughConsole(const CtlCall& call, const CtlEnv& env,
                         const std::function<int(RunningServer&)>& change);
// Runs `action` with a session that does not take edit mode.
int ActThroughConsole(const CtlCall& call, const CtlEnv& env,
                      const std::function<int(RunningServer&)>& action);

}  // namespace vantrel
