// vantrelctl log set / pdf set: the server-wide settings.

#include <optional>
#include <string>
#include <utility>

#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_remote_cmds.h"
#include "tools/ctl_running_server.h"

namespace vantrel {
namespace {

constexpr char kLogHelp[] =
    "Usage: vantrelctl [--dir DIR] log set [--use-log on|off] [--daily|--weekly]\n"
    "                                      [--log-new-files on|off]\n"
    "                                      [--log-searches on|off] [--folder PATH]\n"
    "\n"
    "Changes the log file settings; options not given stay as they are.\n"
    "  --use-log on|off         write the log file (Use Log File)\n"
    "  --daily, --weekly        start a new log file every day or every week\n"
    "  --log-new-files on|off   log every file added to an index\n"
    "  --log-searches on|off    log every search\n"
    "  --folder PATH            the folder of the log files: an existing folder,\n"
    "                           absolute; \"\" for none\n";

constexpr char kPdfHelp[] =
    "Usage: vantrelctl [--dir DIR] pdf set [--folder PATH] [--win NAME] [--mac NAME]\n"
    "                                      [--thumbnail-size N] [--preview-size N]\n"
    "                                      [--leading-preview on|off]\n"
    "\n"
    "Changes the PDF settings; options not given stay as they are.\n"
    "  --folder PATH            folder of the PDF thumbnails and previews: an\n"
    "                           existing folder, absolute; \"\" for none\n"
    "  --win NAME               the folder as clients on Windows reach it\n"
    "                           (\\\\SERVER\\SHARE\\...). Looked up when --folder is\n"
    "                           given without it.\n"
    "  --mac NAME               the folder as a Macintosh volume path (Volume:...).\n"
    "                           Looked up when --folder is given without it.\n"
    "  --thumbnail-size N       thumbnail size in pixels, at least 100\n"
    "  --preview-size N         preview size in pixels, at least 100\n"
    "  --leading-preview on|off create an additional preview of leading pages\n";

// Applies "--name on|off" to `bit` of `flags`. False (after printing) when
// the value is not a switch.
bool ApplySwitch(const CtlEnv& env, const ParsedArgs& args, const char* name, uint32_t bit,
                 uint32_t* flags, int* code) {
  const std::string* v = args.Option(name);
  if (v == nullptr) return true;
  std::optional<bool> on = ParseSwitch(*v);
  if (!on) {
    *code = UsageError(env, "log set", std::string(name) + " takes on or off, not \"" + *v + "\"");
    return false;
  }
  *flags = *on ? (*flags | bit) : (*flags & ~bit);
  return true;
}

// An existing absolute folder, or "" to clear. False (after printing) otherwise.
bool FolderValue(const CtlEnv& env, const std::string& cmd, const std::string& text,
                 std::string* out, int* code) {
  if (text.empty()) {
    out->clear();
    return true;
  }
  std::optional<std::string> path = NormalizeAbsolutePath(text);
  if (!path) {
    *code = UsageError(env, cmd, "the folder must be an absolute path: " + text);
    return false;
  }
  if (!env.fs->IsValidFolder(*path)) {
    *code = UsageError(env, cmd, "the folder " + *path + " does not exist");
    return false;
  }
  *out = *path;
  return true;
}

// The members of /api/log/options for `log set`'s options. Nothing (after
// printing) when a switch is not one.
std::optional<nlohmann::json> LogOptionsBody(const CtlEnv& env, const ParsedArgs& args,
                                             const std::string* folder_arg,
                                             const std::string& folder, int* code) {
  nlohmann::json body = nlohmann::json::object();
  const std::pair<const char*, const char*> switches[] = {
      {"--use-log", "use_file"}, {"--log-new-files", "new_files"}, {"--log-searches", "searches"}};
  for (auto [name, key] : switches) {
    const std::string* v = args.Option(name);
    if (v == nullptr) continue;
    std::optional<bool> on = ParseSwitch(*v);
    if (!on) {
      *code = UsageError(env, "log set", std::string(name) + " takes on or off, not \"" + *v + "\"");
      return std::nullopt;
    }
    body[key] = *on;
  }
  if (args.Has("--daily")) body["daily"] = true;
  if (args.Has("--weekly")) body["daily"] = false;
  if (folder_arg) body["folder"] = folder;
  return body;
}

}  // namespace

int CmdLogSet(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "log set";
  StatusOr<ParsedArgs> args =
      ParseArgs(call.args, {"--use-log", "--log-new-files", "--log-searches", "--folder"},
                {"--daily", "--weekly"});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kLogHelp;
    return kCtlOk;
  }
  if (!args->positional.empty()) {
    return UsageError(env, cmd, "unexpected argument \"" + args->positional[0] + "\"");
  }
  if (args->options.empty() && args->flags.empty())
    return UsageError(env, cmd, "nothing to change");
  if (args->Has("--daily") && args->Has("--weekly")) {
    return UsageError(env, cmd, "give --daily or --weekly, not both");
  }
  int code = kCtlOk;
  std::string folder;
  const std::string* folder_arg = args->Option("--folder");
  if (folder_arg && !FolderValue(env, cmd, *folder_arg, &folder, &code)) return code;
  if (ServerRunsIn(call.dir)) {
    std::optional<nlohmann::json> body = LogOptionsBody(env, *args, folder_arg, folder, &code);
    return body ? RemoteLogSet(call, env, *body) : code;
  }

  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  Configuration& c = edit->config();
  uint32_t flags = c.log_flags;
  if (!ApplySwitch(env, *args, "--use-log", kLogUseFile, &flags, &code) ||
      !ApplySwitch(env, *args, "--log-new-files", kLogNewFiles, &flags, &code) ||
      !ApplySwitch(env, *args, "--log-searches", kLogSearches, &flags, &code)) {
    return code;
  }
  if (args->Has("--daily")) flags |= kLogDaily;
  if (args->Has("--weekly")) flags &= ~kLogDaily;
  SetLogFlags(&c, flags);
  if (folder_arg) {
    if (Status s = SetLogFolder(&c, folder); !s.ok()) return UsageError(env, cmd, s.message());
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Log settings changed (flags " << flags << ")\n";
  return kCtlOk;
}

int CmdPdfSet(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "pdf set";
  StatusOr<ParsedArgs> args = ParseArgs(
      call.args,
      {"--folder", "--win", "--mac", "--thumbnail-size", "--preview-size", "--leading-preview"},
      {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kPdfHelp;
    return kCtlOk;
  }
  if (!args->positional.empty()) {
    return UsageError(env, cmd, "unexpected argument \"" + args->positional[0] + "\"");
  }
  if (args->options.empty()) return UsageError(env, cmd, "nothing to change");
  int code = kCtlOk;
  std::string folder;
  const std::string* folder_arg = args->Option("--folder");
  if (folder_arg && !FolderValue(env, cmd, *folder_arg, &folder, &code)) return code;
  std::optional<uint32_t> thumb, preview;
  if (const std::string* v = args->Option("--thumbnail-size")) {
    thumb = ParseStrictUint32(*v);
    if (!thumb || *thumb < 100) {
      return UsageError(env, cmd, "--thumbnail-size must be a whole number, at least 100");
    }
  }
  if (const std::string* v = args->Option("--preview-size")) {
    preview = ParseStrictUint32(*v);
    if (!preview || *preview < 100) {
      return UsageError(env, cmd, "--preview-size must be a whole number, at least 100");
    }
  }
  std::optional<bool> leading;
  if (const std::string* v = args->Option("--leading-preview")) {
    leading = ParseSwitch(*v);
    if (!leading) return UsageError(env, cmd, "--leading-preview takes on or off");
  }
  if (ServerRunsIn(call.dir)) {
    nlohmann::json body = nlohmann::json::object();
    if (folder_arg) body["folder"] = folder;
    if (const std::string* v = args->Option("--win")) body["win_path"] = *v;
    if (const std::string* v = args->Option("--mac")) body["mac_path"] = *v;
    if (thumb) body["thumbnail_size"] = *thumb;
    if (preview) body["preview_size"] = *preview;
    if (leading) body["leading_preview"] = *leading;
    return RemotePdfSet(call, env, body, folder_arg && !args->Option("--win"),
                        folder_arg && !args->Option("--mac"));
  }

  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  PdfSettings pdf = GetPdfSettings(edit->config());
  if (folder_arg) {
    pdf.folder = folder;
    pdf.win_path = folder.empty() ? "" : env.namer->WindowsShareName(folder);
    pdf.mac_path = folder.empty() ? "" : env.namer->MacVolumeName(folder);
  }
  if (const std::string* v = args->Option("--win")) pdf.win_path = *v;
  if (const std::string* v = args->Option("--mac")) pdf.mac_path = *v;
  if (thumb) pdf.thumbnail_size = *thumb;
  if (preview) pdf.preview_size = *preview;
  if (leading) pdf.leading_preview = *leading ? 3 : 1;
  if (Status s = SetPdfSettings(&edit->config(), pdf); !s.ok()) {
    return UsageError(env, cmd, s.message());
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "PDF settings changed\n";
  return kCtlOk;
}

}  // namespace vantrel
