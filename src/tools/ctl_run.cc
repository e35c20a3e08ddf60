// The vantrelctl dispatcher: global options, command words, top-level help.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"

namespace vantrel {
namespace {

constexpr char kTopHelp[] =
    "Usage: vantrelctl [--dir DIR] [--console URL] [--console-ca FILE]\n"
    "                  [--password-file FILE] COMMAND [ARGS...]\n"
    "\n"
    "Changes and shows the configuration of a Vantrel server and reads its list\n"
    "files. Works on the file \"Vantrel CONFIGURATION DATA\" in DIR (default: the\n"
    "current directory, the server's start directory) when no server runs there.\n"
    "\n"
    "While a server runs in DIR, the commands that change the configuration, and\n"
    "task, log clear and stats clear, go through the server's web console as its\n"
    "page does: edit mode is taken (with the edit password when one is set), the\n"
    "change made, and edit mode given back, which saves the configuration and\n"
    "starts indexing and searching again. \"config show\" reads the file, which\n"
    "the server saves at every change. Through the console, \"index set N\n"
    "active\", \"index set N metadata\" and the shard settings are refused (the\n"
    "console has no such setting): stop the server for them.\n"
    "  --console URL          the console (http://HOST:PORT or https://...);\n"
    "                         default: the address the running server wrote into\n"
    "                         DIR/.vantrel.lock\n"
    "  --console-ca FILE      HTTPS: check the console's certificate against FILE\n"
    "                         (PEM). Without it the system's authorities check it;\n"
    "                         only a console on a loopback address is taken\n"
    "                         unchecked.\n"
    "  --password-file FILE   the edit password: the first line of FILE. Without\n"
    "                         it vantrelctl asks on the terminal (not echoed), and\n"
    "                         refuses when standard input is no terminal.\n"
    "\n"
    "Commands:\n"
    "  config show [--json]                 show every setting and index\n"
    "  index add NAME FOLDER                define a new index (stopped)\n"
    "  index remove N                       remove index N; later indexes move down\n"
    "  index set N OPTION VALUE             change an option of index N\n"
    "  folder add N PATH [--win NAME] [--mac NAME] [--no-subfolders]\n"
    "                                       add an image folder to index N\n"
    "  folder remove N K                    remove image folder number K of index N\n"
    "  log set [OPTIONS]                    change the log file settings\n"
    "  pdf set [OPTIONS]                    change the PDF thumbnail settings\n"
    "  pdf render FILE                      make the thumbnail and previews of a PDF\n"
    "  task rebuild|optimize|rescan [N]     ask the running server for a task on\n"
    "                                       index N (every index without N)\n"
    "  log clear                            clear the running server's event log\n"
    "  stats clear N                        clear the search statistics of index N\n"
    "                                       (the running server's, else the file's)\n"
    "  list FILE [--json] [--by-time]       print a list file or hit file\n"
    "  inspect FILE [--no-docinfo]          show what the server reads from a picture\n"
    "  search INDEX-FOLDER QUERY [OPTIONS]  search an index as a client does (exit\n"
    "                                       status 0 hits, 1 none, 2 error)\n"
    "\n"
    "Every command takes --help. Index numbers count from 0, as \"config show\"\n"
    "prints them.\n"
    "\n"
    "Exit status: 0 done; 1 could not be done (unreadable configuration, limit\n"
    "reached, write failed, a server action without a server, a setting that needs\n"
    "the server stopped); 2 bad arguments; 3 the running server's console refused\n"
    "(edit mode held by another session, wrong password, locked after wrong\n"
    "passwords, the console's own checks); 4 a server runs but its console cannot\n"
    "be reached.\n";

constexpr char kIndexHelp[] =
    "Usage: vantrelctl index add NAME FOLDER\n"
    "       vantrelctl index remove N\n"
    "       vantrelctl index set N OPTION VALUE\n"
    "Run \"vantrelctl index add --help\" (or remove, set) for details.\n";

constexpr char kFolderHelp[] =
    "Usage: vantrelctl folder add N PATH [--win NAME] [--mac NAME] [--no-subfolders]\n"
    "       vantrelctl folder remove N K\n"
    "Run \"vantrelctl folder add --help\" (or remove) for details.\n";

using Command = int (*)(const CtlCall&, const CtlEnv&);

struct Group {
  const char* help;
  std::map<std::string, Command> subcommands;
};

const std::map<std::string, Group>& Groups() {
  static const auto* groups = new std::map<std::string, Group>{
      {"config", {"Usage: vantrelctl config show [--json]\n", {{"show", CmdConfigShow}}}},
      {"index",
       {kIndexHelp, {{"add", CmdIndexAdd}, {"remove", CmdIndexRemove}, {"set", CmdIndexSet}}}},
      {"folder", {kFolderHelp, {{"add", CmdFolderAdd}, {"remove", CmdFolderRemove}}}},
      {"log",
       {"Usage: vantrelctl log set [OPTIONS] | vantrelctl log clear\n",
        {{"set", CmdLogSet}, {"clear", CmdLogClear}}}},
      {"task",
       {"Usage: vantrelctl task rebuild|optimize|rescan [N]\n",
        {{"rebuild", CmdTaskRebuild}, {"optimize", CmdTaskOptimize}, {"rescan", CmdTaskRescan}}}},
      {"stats", {"Usage: vantrelctl stats clear N\n", {{"clear", CmdStatsClear}}}},
      {"pdf",
       {"Usage: vantrelctl pdf set [OPTIONS] | vantrelctl pdf render FILE\n",
        {{"set", CmdPdfSet}, {"render", CmdPdfRender}}}},
  };
  return *groups;
}

// The member of `console` that the global option `arg` ("--name" or
// "--name=VALUE") sets; null for other arguments.
std::string* ConsoleOption(const std::string& arg, CtlCall::Console* console) {
  const std::string name = arg.substr(0, arg.find('='));
  if (name == "--console") return &console->url;
  if (name == "--console-ca") return &console->ca_file;
  if (name == "--password-file") return &console->password_file;
  return nullptr;
}

// The options before the command word.
struct GlobalOptions {
  std::string dir_arg;
  bool dir_given = false;
  CtlCall::Console console;
};

// Reads the global options from args[*i] on, leaving *i at the command
// word. An exit status when they end the run (help, a usage error).
std::optional<int> ReadGlobalOptions(const std::vector<std::string>& args, const CtlEnv& env,
                                     size_t* i, GlobalOptions* options) {
  while (*i < args.size() && !args[*i].empty() && args[*i][0] == '-') {
    const std::string& a = args[*i];
    if (a == "--help" || a == "-h") {
      *env.out << kTopHelp;
      return kCtlOk;
    }
    if (std::string* target = ConsoleOption(a, &options->console)) {
      const size_t eq = a.find('=');
      if (eq == std::string::npos && *i + 1 >= args.size()) {
        return UsageError(env, "", a + " needs a value");
      }
      if (!target->empty()) return UsageError(env, "", a.substr(0, eq) + " is given twice");
      *target = eq == std::string::npos ? args[++*i] : a.substr(eq + 1);
      if (target->empty()) return UsageError(env, "", a.substr(0, eq) + " needs a value");
      ++*i;
      continue;
    }
    if (a == "--dir" || a.rfind("--dir=", 0) == 0) {
      if (options->dir_given) return UsageError(env, "", "--dir is given twice");
      options->dir_given = true;
      if (a == "--dir") {
        if (*i + 1 >= args.size()) return UsageError(env, "", "--dir needs a folder");
        options->dir_arg = args[++*i];
      } else {
        options->dir_arg = a.substr(6);
      }
      ++*i;
      continue;
    }
    return UsageError(env, "", "unknown option " + a);
  }
  return std::nullopt;
}

// The call's start directory and console files as absolute paths; an exit
// status when one cannot be used.
std::optional<int> ResolveCallPaths(const GlobalOptions& options, const CtlEnv& env,
                                    CtlCall* call) {
  std::optional<std::string> dir = options.dir_given ? ResolvePath(env.current_dir, options.dir_arg)
                                                     : NormalizeAbsolutePath(env.current_dir);
  if (!dir) return UsageError(env, "", "cannot use \"" + options.dir_arg + "\" as the directory");
  call->dir = *dir;
  call->console = options.console;
  for (std::string* file : {&call->console.ca_file, &call->console.password_file}) {
    if (file->empty()) continue;
    std::optional<std::string> path = ResolvePath(env.current_dir, *file);
    if (!path) return UsageError(env, "", "cannot use \"" + *file + "\" as a file");
    *file = *path;
  }
  return std::nullopt;
}

// The command that `word` (and, for a group, the sub-command at args[*i])
// names, leaving *i at its first argument. An exit status when it names
// none or asks for the group's help.
std::optional<int> ChooseCommand(const std::string& word, const std::vector<std::string>& args,
                                 const CtlEnv& env, size_t* i, Command* command) {
  if (word == "list") {
    *command = CmdList;
  } else if (word == "inspect") {
    *command = CmdInspect;
  } else if (word == "search") {
    *command = CmdSearch;
  } else {
    auto group = Groups().find(word);
    if (group == Groups().end()) return UsageError(env, "", "unknown command \"" + word + "\"");
    if (*i >= args.size() || args[*i] == "--help" || args[*i] == "-h") {
      const bool asked = *i < args.size();
      (asked ? *env.out : *env.err) << group->second.help;
      return asked ? kCtlOk : kCtlUsage;
    }
    auto sub = group->second.subcommands.find(args[*i]);
    if (sub == group->second.subcommands.end()) {
      return UsageError(env, word, "unknown command \"" + word + " " + args[*i] + "\"");
    }
    *command = sub->second;
    ++*i;
  }
  return std::nullopt;
}

// Commands that only read (help, show, list) work without the folder;
// everything else needs the start directory to exist.
bool NeedsStartDirectory(Command command, const std::vector<std::string>& args) {
  if (command == CmdList || command == CmdConfigShow || command == CmdInspect ||
      command == CmdSearch) {
    return false;
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return false;
  }
  return true;
}

// "help COMMAND ..." run as "COMMAND ... --help", with the global options
// before it; `word_at` is the place of "help".
int RunAsHelp(const std::vector<std::string>& args, size_t word_at, const CtlEnv& env) {
  std::vector<std::string> again(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(word_at));
  again.insert(again.end(), args.begin() + static_cast<std::ptrdiff_t>(word_at + 1), args.end());
  again.push_back("--help");
  return RunVantrelctl(again, env);
}

}  // namespace

int UsageError(const CtlEnv& env, const std::string& command, const std::string& message) {
  *env.err << "error: " << message << "\n"
           << "Run \"vantrelctl " << command << " --help\" for usage.\n";
  return kCtlUsage;
}

int RunVantrelctl(const std::vector<std::string>& args, const CtlEnv& env) {
  size_t i = 0;
  GlobalOptions options;
  if (std::optional<int> ended = ReadGlobalOptions(args, env, &i, &options)) return *ended;
  if (i >= args.size()) {
    *env.err << kTopHelp;
    return kCtlUsage;
  }
  const std::string word = args[i++];
  if (word == "help") {
    if (i < args.size()) return RunAsHelp(args, i - 1, env);
    *env.out << kTopHelp;
    return kCtlOk;
  }
  CtlCall call;
  if (std::optional<int> ended = ResolveCallPaths(options, env, &call)) return *ended;
  Command command = nullptr;
  if (std::optional<int> ended = ChooseCommand(word, args, env, &i, &command)) return *ended;
  call.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (NeedsStartDirectory(command, call.args) && !env.fs->IsFolder(call.dir)) {
    *env.err << "error: the directory " << call.dir << " does not exist\n";
    return kCtlUsage;
  }
  return command(call, env);
}

}  // namespace vantrel
