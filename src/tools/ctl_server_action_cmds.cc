// vantrelctl task / log clear / stats clear: what the console's menu and
// buttons ask a running server to do.

#include <optional>
#include <string>

#include "core/config_file.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_running_server.h"

namespace vantrel {
namespace {

using Json = nlohmann::json;

constexpr char kTaskHelp[] =
    "Usage: vantrelctl [--dir DIR] task rebuild|optimize|rescan [N]\n"
    "\n"
    "Asks the server running in DIR to rebuild, optimize or rescan index N (all\n"
    "indexes without N), as the console's menu does; the event log says when\n"
    "the request is taken. Needs a running server (the task is the server's).\n";

constexpr char kLogClearHelp[] =
    "Usage: vantrelctl [--dir DIR] log clear\n"
    "\n"
    "Clears the event log of the server running in DIR (the console's Clear\n"
    "Log). Needs a running server: the event lines live in the server.\n";

constexpr char kStatsClearHelp[] =
    "Usage: vantrelctl [--dir DIR] stats clear N\n"
    "\n"
    "Clears the search statistics of index N (Clear Search Statistics): through\n"
    "the console of the server running in DIR, or, without a server, in the\n"
    "configuration data file.\n";

// Parses the arguments of a command without options; false (after printing
// help or the problem, *code the exit status) when the command is done.
bool PlainArgs(const CtlCall& call, const CtlEnv& env, const std::string& cmd, const char* help,
               size_t min, size_t max, std::vector<std::string>* positional, int* code) {
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) {
    *code = UsageError(env, cmd, args.status().message());
    return false;
  }
  if (args->help) {
    *env.out << help;
    *code = kCtlOk;
    return false;
  }
  if (args->positional.size() < min || args->positional.size() > max) {
    *code = UsageError(env, cmd, "wrong number of arguments");
    return false;
  }
  *positional = args->positional;
  return true;
}

int NeedsServer(const CtlCall& call, const CtlEnv& env, const std::string& what) {
  *env.err << "error: no Vantrel server runs in " << call.dir << "; " << what
           << " is asked of a running server (start it first)\n";
  return kCtlFailed;
}

// Checks index `number` (from 0) against the running server's
// configuration; its console number (from 1), or nothing after printing.
std::optional<int> ServerIndex(RunningServer& server, const CtlEnv& env, const std::string& cmd,
                               const std::string& number, int* code) {
  std::optional<uint32_t> n = ParseStrictUint32(number);
  if (!n) {
    *code = UsageError(env, cmd, "\"" + number + "\" is not an index number");
    return std::nullopt;
  }
  std::optional<Json> config = server.Get("/api/config", code);
  if (!config) return std::nullopt;
  const size_t count = config->value("indexes", Json::array()).size();
  if (*n >= count) {
    *code = UsageError(env, cmd,
                       "the running server has no index " + number + " (it has " +
                           std::to_string(count) + " indexes)");
    return std::nullopt;
  }
  return static_cast<int>(*n) + 1;
}

int RequestTask(const CtlCall& call, const CtlEnv& env, const std::string& task) {
  const std::string cmd = "task " + task;
  std::vector<std::string> pos;
  int code = kCtlOk;
  if (!PlainArgs(call, env, cmd, kTaskHelp, 0, 1, &pos, &code)) return code;
  if (!ServerRunsIn(call.dir)) return NeedsServer(call, env, "a " + task);
  return ActThroughConsole(call, env, [&](RunningServer& server) {
    Json body{{"task", task}};
    if (!pos.empty()) {
      std::optional<int> index = ServerIndex(server, env, cmd, pos[0], &code);
      if (!index) return code;
      body["index"] = *index;
    }
    code = server.Post("/api/tasks", body);
    if (code == kCtlOk) {
      *env.out << "Asked the server for a " << task << " of "
               << (pos.empty() ? std::string("every index") : "index " + pos[0]) << "\n";
    }
    return code;
  });
}

}  // namespace

int CmdTaskRebuild(const CtlCall& call, const CtlEnv& env) {
  return RequestTask(call, env, "rebuild");
}
int CmdTaskOptimize(const CtlCall& call, const CtlEnv& env) {
  return RequestTask(call, env, "optimize");
}
int CmdTaskRescan(const CtlCall& call, const CtlEnv& env) {
  return RequestTask(call, env, "rescan");
}

int CmdLogClear(const CtlCall& call, const CtlEnv& env) {
  std::vector<std::string> pos;
  int code = kCtlOk;
  if (!PlainArgs(call, env, "log clear", kLogClearHelp, 0, 0, &pos, &code)) return code;
  if (!ServerRunsIn(call.dir)) return NeedsServer(call, env, "clearing the event log");
  return ActThroughConsole(call, env, [&](RunningServer& server) {
    code = server.Post("/api/log/clear", Json::object());
    if (code == kCtlOk) *env.out << "The server's event log was cleared\n";
    return code;
  });
}

int CmdStatsClear(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "stats clear";
  std::vector<std::string> pos;
  int code = kCtlOk;
  if (!PlainArgs(call, env, cmd, kStatsClearHelp, 1, 1, &pos, &code)) return code;
  if (ServerRunsIn(call.dir)) {
    return ActThroughConsole(call, env, [&](RunningServer& server) {
      std::optional<int> index = ServerIndex(server, env, cmd, pos[0], &code);
      if (!index) return code;
      code = server.Post("/api/statistics/clear", Json{{"index", *index}});
      if (code == kCtlOk) *env.out << "Search statistics of index " << pos[0] << " cleared\n";
      return code;
    });
  }
  std::optional<uint32_t> n = ParseStrictUint32(pos[0]);
  if (!n) return UsageError(env, cmd, "\"" + pos[0] + "\" is not an index number");
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  if (*n >= edit->config().indexes.size()) {
    return UsageError(env, cmd,
                      "there is no index " + pos[0] + " (there are " +
                          std::to_string(edit->config().indexes.size()) + " indexes)");
  }
  edit->config().indexes[*n].statistics = SearchStatistics{};
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Search statistics of index " << pos[0] << " cleared\n";
  return kCtlOk;
}

}  // namespace vantrel
