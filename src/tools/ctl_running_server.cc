#include "tools/ctl_running_server.h"

#include "core/file_names.h"
#include "platform/instance_lock.h"
#include "platform/terminal_input.h"

namespace vantrel {
namespace {

using Json = nlohmann::json;

constexpr char kConsolePrefix[] = "console ";

std::string LockPathIn(const std::string& dir) {
  return (dir == "/" ? dir : dir + "/") + names::kInstanceLockFile;
}

// The console URL of the server running in `dir`, from --console or from
// the lock file's owner text. Nothing (after printing) when there is none.
std::optional<std::string> ConsoleUrlOf(const CtlCall& call, const CtlEnv& env, int* code) {
  if (!call.console.url.empty()) return call.console.url;
  StatusOr<std::string> owner = InstanceLock::ReadOwnerInfo(LockPathIn(call.dir));
  *code = kCtlUnreachable;
  if (!owner.ok()) {
    *env.err << "error: a Vantrel server runs in " << call.dir
             << ", but its console address cannot be read: " << owner.status().message()
             << " (give --console URL)\n";
    return std::nullopt;
  }
  if (owner->rfind(kConsolePrefix, 0) != 0) {
    *env.err << "error: the start directory " << call.dir << " is in use (" << *owner
             << "); changes go through a server's console, and this one has none: stop it to "
                "change the file, or start it with a console\n";
    return std::nullopt;
  }
  return owner->substr(sizeof kConsolePrefix - 1);
}

// The first line of the password file, without its line end.
StatusOr<std::string> PasswordFromFile(const CtlEnv& env, const std::string& path) {
  StatusOr<std::string> text = env.fs->ReadFile(path);
  if (!text.ok()) return text.status();
  std::string line = text->substr(0, text->find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool ServerRunsIn(const std::string& dir) { return InstanceLock::IsHeld(LockPathIn(dir)); }

std::unique_ptr<RunningServer> RunningServer::Connect(const CtlCall& call, const CtlEnv& env,
                                                      int* code) {
  std::optional<std::string> url = ConsoleUrlOf(call, env, code);
  if (!url) return nullptr;
  ConsoleClient::Options options;
  options.url = *url;
  options.ca_file = call.console.ca_file;
  StatusOr<std::unique_ptr<ConsoleClient>> client = ConsoleClient::Open(options);
  if (!client.ok()) {
    // A bad --console value is the operator's; a bad address in the lock
    // file is the server's, which then cannot be reached.
    const bool bad_option =
        client.status().code() == StatusCode::kInvalidArgument && !call.console.url.empty();
    *code = bad_option ? kCtlUsage : kCtlUnreachable;
    *env.err << "error: a Vantrel server runs in " << call.dir << ", but "
             << client.status().message() << "; nothing was changed\n";
    return nullptr;
  }
  *code = kCtlOk;
  return std::unique_ptr<RunningServer>(
      new RunningServer(call, env, *url, std::move(client.value())));
}

int RunningServer::Explain(const std::string& what, const ConsoleAnswer& answer) {
  if (answer.not_sent) {
    *env_.err << "error: " << answer.failure << "\n";
    return kCtlUsage;
  }
  if (answer.status == 0) {
    *env_.err << "error: the console at " << url_ << " stopped answering (" << answer.failure
              << ") while " << what << "\n";
    return kCtlUnreachable;
  }
  *env_.err << "error: the server refused " << what << ": " << answer.ErrorText() << "\n";
  return answer.status >= 500 ? kCtlFailed : kCtlRefused;
}

std::optional<Json> RunningServer::Get(const std::string& path, int* code,
                                       const std::map<std::string, std::string>& params) {
  ConsoleAnswer answer = client_->Get(path, params);
  if (answer.ok()) {
    *code = kCtlOk;
    return answer.body;
  }
  *code = Explain("to answer " + path, answer);
  return std::nullopt;
}

int RunningServer::Post(const std::string& path, const Json& body) {
  ConsoleAnswer answer = client_->Post(path, body);
  return answer.ok() ? kCtlOk : Explain("the change", answer);
}

std::optional<std::string> RunningServer::EditPassword(int* code) {
  if (!call_.console.password_file.empty()) {
    StatusOr<std::string> password = PasswordFromFile(env_, call_.console.password_file);
    if (!password.ok()) {
      *env_.err << "error: cannot read the password file " << call_.console.password_file << ": "
                << password.status().message() << "\n";
      *code = kCtlUsage;
      return std::nullopt;
    }
    return *password;
  }
  if (!StandardInputIsTerminal()) {
    *env_.err << "error: the server's edit mode needs its edit password, and standard input is "
                 "not a terminal to ask for it: give --password-file FILE\n";
    *code = kCtlUsage;
    return std::nullopt;
  }
  StatusOr<std::string> typed = ReadHiddenLine("Edit password of the server at " + url_ + ": ");
  if (!typed.ok()) {
    *env_.err << "error: " << typed.status().message() << "\n";
    *code = kCtlUsage;
    return std::nullopt;
  }
  return *typed;
}

// "edit mode is held by ... since ...", when the session's view says
// another session holds it; kCtlRefused after printing, else kCtlOk.
int RunningServer::RefuseWhenHeld(const Json& session) {
  const Json edit = session.value("edit", Json::object());
  if (!edit.value("on", false) || edit.value("mine", false)) return kCtlOk;
  const std::string holder = edit.value("holder", std::string());
  const std::string since = edit.value("since", std::string());
  *env_.err << "error: edit mode is held by "
            << (holder.empty() ? std::string("another console session") : holder)
            << (since.empty() ? "" : " since " + since)
            << "; nothing was changed (it is free again when that session turns edit mode "
               "off, or 10 minutes after its last request)\n";
  return kCtlRefused;
}

int RunningServer::TakeEdit() {
  int code = kCtlOk;
  // Who holds edit mode is told before a password is asked for.
  std::optional<Json> session = Get("/api/session", &code);
  if (!session) return code;
  if (int held = RefuseWhenHeld(*session); held != kCtlOk) return held;
  std::optional<Json> config = Get("/api/config", &code);
  if (!config) return code;
  Json body{{"on", true}};
  if (config->value("password_set", false)) {
    std::optional<std::string> password = EditPassword(&code);
    if (!password) return code;
    body["password"] = *password;
  }
  ConsoleAnswer answer = client_->Post("/api/edit", body);
  if (answer.ok()) return kCtlOk;
  if (answer.status == 409) {
    ConsoleAnswer now = client_->Get("/api/session");
    if (RefuseWhenHeld(now.body) == kCtlRefused) return kCtlRefused;
    return Explain("edit mode", answer);
  }
  if (answer.status == 403) {
    *env_.err << "error: wrong edit password (" << answer.ErrorText()
              << "); nothing was changed\n";
    return kCtlRefused;
  }
  if (answer.status == 429) {
    *env_.err << "error: edit mode is locked after five wrong passwords; try again in a minute ("
              << answer.ErrorText() << ")\n";
    return kCtlRefused;
  }
  return Explain("edit mode", answer);
}

int RunningServer::LeaveEdit() {
  ConsoleAnswer answer = client_->Post("/api/edit", Json{{"on", false}});
  if (answer.ok()) return kCtlOk;
  return Explain("to end edit mode (the server ends it by itself 10 minutes after the last "
                 "request)",
                 answer);
}

int ChangeThroughConsole(const CtlCall& call, const CtlEnv& env,
                         const std::function<int(RunningServer&)>& change) {
  int code = kCtlOk;
  std::unique_ptr<RunningServer> server = RunningServer::Connect(call, env, &code);
  if (!server) return code;
  if (int taken = server->TakeEdit(); taken != kCtlOk) return taken;
  int changed = change(*server);
  int left = server->LeaveEdit();
  return changed != kCtlOk ? changed : left;
}

int ActThroughConsole(const CtlCall& call, const CtlEnv& env,
                      const std::function<int(RunningServer&)>& action) {
  int code = kCtlOk;
  std::unique_ptr<RunningServer> server = RunningServer::Connect(call, env, &code);
  if (!server) return code;
  return action(*server);
}

}  // namespace vantrel
