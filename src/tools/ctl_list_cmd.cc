// vantrelctl list: prints a list file (TIMELIST, CHARLIST, DIRLIST, volume
// lists, the indexed list) or a hit file.

#include <cstdio>
#include <string>

#include "core/browse_list.h"
#include "core/list_file.h"
#include "nlohmann/json.hpp"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"

namespace vantrel {
namespace {

constexpr char kHelp[] =
    "Usage: vantrelctl list FILE [--json] [--by-time]\n"
    "\n"
    "Prints the entries of a list file or hit file: time stamp (hexadecimal and\n"
    "as a UTC date), value, extra and name. Entries are shown by name, or with\n"
    "--by-time newest first. A damaged file prints the entries before the damage\n"
    "and says what is wrong (exit status 1). A relative FILE is taken from the\n"
    "current directory.\n"
    "  --json      print one JSON object\n"
    "  --by-time   newest entries first\n";

std::string Hex(uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

}  // namespace

int CmdList(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "list";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {"--json", "--by-time"});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 1) return UsageError(env, cmd, "give one FILE");
  std::optional<std::string> path = ResolvePath(env.current_dir, args->positional[0]);
  if (!path) return UsageError(env, cmd, "cannot use \"" + args->positional[0] + "\" as a file");

  BrowseList list;
  // Sorting the empty list first makes the loader sort once.
  if (!list.SetOrder(args->Has("--by-time") ? kOrderTime : kOrderName).ok()) return kCtlFailed;
  ListFileHeader header;
  Status loaded = LoadListFile(env.fs, *path, /*keep_extra=*/true, &list, &header);
  if (loaded.IsNotFound()) {
    *env.err << "error: " << loaded.message() << "\n";
    return kCtlFailed;
  }

  if (args->Has("--json")) {
    nlohmann::json entries = nlohmann::json::array();
    list.ForEach([&](const BrowseEntryView& v) {
      entries.push_back({{"name", v.ExpandedName()},
                         {"time", v.time},
                         {"time_utc", UtcStampText(v.time)},
                         {"value", v.value},
                         {"extra", v.extra}});
      return true;
    });
    nlohmann::json out = {{"file", *path},
                          {"count", header.count},
                          {"second_word", header.second_word},
                          {"entries", entries}};
    if (!loaded.ok()) out["damage"] = loaded.message();
    *env.out << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  } else {
    *env.out << *path << ": " << header.count << " records";
    if (header.second_word != 0) *env.out << ", second word " << header.second_word;
    *env.out << "\n";
    list.ForEach([&](const BrowseEntryView& v) {
      *env.out << Hex(v.time) << "  " << UtcStampText(v.time) << "  " << v.value << "  "
               << (v.extra == kNoExtra ? std::string("-") : std::to_string(v.extra)) << "  "
               << v.ExpandedName() << "\n";
      return true;
    });
  }
  if (!loaded.ok()) {
    *env.err << "error: " << *path << ": " << loaded.message() << "\n";
    return kCtlFailed;
  }
  return kCtlOk;
}

}  // namespace vantrel
