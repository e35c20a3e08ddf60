// vantrelctl folder add / remove: the image folders of an index.

#include <cstdio>
#include <string>

#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_remote_cmds.h"
#include "tools/ctl_running_server.h"

namespace vantrel {
namespace {

constexpr char kAddHelp[] =
    "Usage: vantrelctl [--dir DIR] folder add N PATH [--win NAME] [--mac NAME]\n"
    "                                        [--no-subfolders]\n"
    "\n"
    "Adds the existing folder PATH (an absolute path) as an image folder of\n"
    "index N. It takes the lowest free folder number from 01 to 31; the number\n"
    "is part of the key of every file in it and stays with the folder.\n"
    "  --win NAME        Windows network name clients use for the folder\n"
    "                    (\\\\SERVER\\SHARE\\...; \"\" for none). Default: looked up.\n"
    "  --mac NAME        Macintosh volume name (Volume:folder; \"\" for none).\n"
    "                    Default: looked up.\n"
    "  --no-subfolders   store \"Include subfolders\" as off\n"
    "Refused: a folder that holds the index folder, a folder inside the index\n"
    "folder (use its OffLine folder), a folder that holds or lies in another\n"
    "image folder of the index.\n";

constexpr char kRemoveHelp[] =
    "Usage: vantrelctl [--dir DIR] folder remove N K\n"
    "\n"
    "Removes image folder number K (01 to 31, as \"config show\" prints it) from\n"
    "index N. Its number becomes free for the next folder added. The offline\n"
    "folder 00 cannot be removed.\n";

std::string FolderNumber(int slot) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02i", slot);
  return buf;
}

std::optional<int> ParseIndex(const std::string& text, const Configuration& c) {
  std::optional<uint32_t> n = ParseStrictUint32(text);
  if (!n || *n >= c.indexes.size()) return std::nullopt;
  return static_cast<int>(*n);
}

}  // namespace

int CmdFolderAdd(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "folder add";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {"--win", "--mac"}, {"--no-subfolders"});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kAddHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 2) return UsageError(env, cmd, "give the index number N and PATH");
  std::optional<std::string> path = NormalizeAbsolutePath(args->positional[1]);
  if (!path) {
    return UsageError(env, cmd,
                      "the image folder must be an absolute path: " + args->positional[1]);
  }
  if (!env.fs->IsValidFolder(*path)) {
    return UsageError(env, cmd,
                      "the image folder " + *path + " does not exist or cannot be listed");
  }
  if (ServerRunsIn(call.dir)) {
    return RemoteFolderAdd(call, env, args->positional[0], *path, args->Option("--win"),
                           args->Option("--mac"), !args->Has("--no-subfolders"));
  }

  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  Configuration& c = edit->config();
  std::optional<int> index = ParseIndex(args->positional[0], c);
  if (!index) {
    return UsageError(env, cmd,
                      "there is no index " + args->positional[0] + " (there are " +
                          std::to_string(c.indexes.size()) + " indexes)");
  }
  const IndexDefinition& def = c.indexes[*index];
  if (PathIsWithin(def.index_folder, *path)) {
    return UsageError(env, cmd,
                      "Index Folder " + def.index_folder +
                          " can NOT be in an Image Folder. Move the Index Folder out of the "
                          "Image Folder or select a different Image Folder!");
  }
  if (PathIsWithin(*path, def.index_folder)) {
    return UsageError(env, cmd,
                      *path + " lies inside the index folder " + def.index_folder +
                          "; put files for this index into its offline folder " +
                          def.image_folders[0].path + " instead");
  }
  for (int s = 0; s < config_layout::kImageFolderSlots; ++s) {
    const ImageFolderEntry& e = def.image_folders[s];
    if (e.used() && (PathIsWithin(*path, e.path) || PathIsWithin(e.path, *path))) {
      return UsageError(env, cmd,
                        *path + " overlaps image folder " + FolderNumber(s) + " (" + e.path +
                            ") of index " + std::to_string(*index) +
                            "; its files would be indexed twice");
    }
  }
  const std::string* win = args->Option("--win");
  const std::string* mac = args->Option("--mac");
  std::string win_name = win ? *win : env.namer->WindowsShareName(*path);
  std::string mac_name = mac ? *mac : env.namer->MacVolumeName(*path);
  StatusOr<int> slot =
      AddImageFolder(&c, *index, *path, win_name, mac_name, !args->Has("--no-subfolders"));
  if (!slot.ok()) {
    *env.err << "error: " << slot.status().message() << "\n";
    return slot.status().code() == StatusCode::kResourceExhausted ? kCtlFailed : kCtlUsage;
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Added image folder " << FolderNumber(*slot) << " to index " << *index << ": "
           << *path << "\n";
  return kCtlOk;
}

int CmdFolderRemove(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "folder remove";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kRemoveHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 2) return UsageError(env, cmd, "give the index number N and K");
  // Folder numbers are shown with two digits; "3" and "03" both mean 03.
  const std::string& k_text = args->positional[1];
  int slot = -1;
  if (k_text.size() <= 2 && k_text.find_first_not_of("0123456789") == std::string::npos &&
      !k_text.empty()) {
    slot = std::stoi(k_text);
  }
  if (slot < 0 || slot >= config_layout::kImageFolderSlots) {
    return UsageError(env, cmd, "\"" + k_text + "\" is not a folder number (01 to 31)");
  }
  if (slot == 0) {
    return UsageError(env, cmd, "folder 00 is the offline folder of the index; it stays");
  }
  if (ServerRunsIn(call.dir)) return RemoteFolderRemove(call, env, args->positional[0], slot);

  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  Configuration& c = edit->config();
  std::optional<int> index = ParseIndex(args->positional[0], c);
  if (!index) {
    return UsageError(env, cmd,
                      "there is no index " + args->positional[0] + " (there are " +
                          std::to_string(c.indexes.size()) + " indexes)");
  }
  const auto& slots = c.indexes[*index].image_folders;
  if (!slots[slot].used()) {
    return UsageError(
        env, cmd, "index " + std::to_string(*index) + " has no image folder " + FolderNumber(slot));
  }
  // The configuration counts image folders by position among the used slots.
  int n = 0;
  for (int s = 0; s < slot; ++s) n += slots[s].used() ? 1 : 0;
  std::string path = slots[slot].path;
  if (Status s = RemoveImageFolder(&c, *index, n); !s.ok()) {
    *env.err << "error: " << s.message() << "\n";
    return kCtlFailed;
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Removed image folder " << FolderNumber(slot) << " (" << path << ") from index "
           << *index << "\n";
  return kCtlOk;
}

}  // namespace vantrel
