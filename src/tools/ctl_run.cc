// The vantrelctl dispatcher: global options, command words, top-level help.

#include <map>
#include <string>
#include <vector>

#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"

namespace vantrel {
namespace {

constexpr char kTopHelp[] =
    "Usage: vantrelctl [--dir DIR] COMMAND [ARGS...]\n"
    "\n"
    "Changes and shows the configuration of a Vantrel server and reads its list\n"
    "files. Works on the file \"Vantrel CONFIGURATION DATA\" in DIR (default: the\n"
    "current directory, the server's start directory). The server must not run\n"
    "while its configuration is changed; vantrelctl refuses to change it then.\n"
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
    "  list FILE [--json] [--by-time]       print a list file or hit file\n"
    "  inspect FILE [--no-docinfo]          show what the server reads from a picture\n"
    "  search INDEX-FOLDER QUERY [OPTIONS]  search an index as a client does (exit\n"
    "                                       status 0 hits, 1 none, 2 error)\n"
    "\n"
    "Every command takes --help. Index numbers count from 0, as \"config show\"\n"
    "prints them.\n"
    "\n"
    "Exit status: 0 done; 1 could not be done (server running, unreadable\n"
    "configuration, limit reached, write failed); 2 bad arguments.\n";

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
      {"log", {"Usage: vantrelctl log set [OPTIONS]\n", {{"set", CmdLogSet}}}},
      {"pdf",
       {"Usage: vantrelctl pdf set [OPTIONS] | vantrelctl pdf render FILE\n",
        {{"set", CmdPdfSet}, {"render", CmdPdfRender}}}},
  };
  return *groups;
}

}  // namespace

int UsageError(const CtlEnv& env, const std::string& command, const std::string& message) {
  *env.err << "error: " << message << "\n"
           << "Run \"vantrelctl " << command << " --help\" for usage.\n";
  return kCtlUsage;
}

int RunVantrelctl(const std::vector<std::string>& args, const CtlEnv& env) {
  size_t i = 0;
  std::string dir_arg;
  bool dir_given = false;
  while (i < args.size() && !args[i].empty() && args[i][0] == '-') {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      *env.out << kTopHelp;
      return kCtlOk;
    }
    if (a == "--dir" || a.rfind("--dir=", 0) == 0) {
      if (dir_given) return UsageError(env, "", "--dir is given twice");
      dir_given = true;
      if (a == "--dir") {
        if (i + 1 >= args.size()) return UsageError(env, "", "--dir needs a folder");
        dir_arg = args[++i];
      } else {
        dir_arg = a.substr(6);
      }
      ++i;
      continue;
    }
    return UsageError(env, "", "unknown option " + a);
  }
  if (i >= args.size()) {
    *env.err << kTopHelp;
    return kCtlUsage;
  }
  std::string word = args[i++];
  if (word == "help") {
    // "help COMMAND" is "COMMAND --help".
    if (i < args.size()) {
      std::vector<std::string> again(args.begin(),
                                     args.begin() + static_cast<std::ptrdiff_t>(i - 1));
      again.insert(again.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      again.push_back("--help");
      return RunVantrelctl(again, env);
    }
    *env.out << kTopHelp;
    return kCtlOk;
  }

  std::optional<std::string> dir =
      dir_given ? ResolvePath(env.current_dir, dir_arg) : NormalizeAbsolutePath(env.current_dir);
  if (!dir) return UsageError(env, "", "cannot use \"" + dir_arg + "\" as the directory");

  CtlCall call;
  call.dir = *dir;
  Command command = nullptr;
  if (word == "list") {
    command = CmdList;
  } else if (word == "inspect") {
    command = CmdInspect;
  } else if (word == "search") {
    command = CmdSearch;
  } else {
    auto group = Groups().find(word);
    if (group == Groups().end()) return UsageError(env, "", "unknown command \"" + word + "\"");
    if (i >= args.size() || args[i] == "--help" || args[i] == "-h") {
      bool asked = i < args.size();
      (asked ? *env.out : *env.err) << group->second.help;
      return asked ? kCtlOk : kCtlUsage;
    }
    auto sub = group->second.subcommands.find(args[i]);
    if (sub == group->second.subcommands.end()) {
      return UsageError(env, word, "unknown command \"" + word + " " + args[i] + "\"");
    }
    command = sub->second;
    ++i;
  }
  call.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  // Commands that only read (help, show, list) work without the folder;
  // everything else needs the start directory to exist.
  bool needs_dir = command != CmdList && command != CmdConfigShow && command != CmdInspect &&
                   command != CmdSearch;
  bool wants_help = false;
  for (const std::string& a : call.args) wants_help |= (a == "--help" || a == "-h");
  if (needs_dir && !wants_help && !env.fs->IsFolder(call.dir)) {
    *env.err << "error: the directory " << call.dir << " does not exist\n";
    return kCtlUsage;
  }
  return command(call, env);
}

}  // namespace vantrel
