// vantrelctl index add / remove / set.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "core/config_file.h"
#include "engine/shard_layout.h"
#include "metadata/metadata_switches.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_remote_cmds.h"
#include "tools/ctl_running_server.h"

namespace vantrel {
namespace {

constexpr char kAddHelp[] =
    "Usage: vantrelctl [--dir DIR] index add NAME FOLDER\n"
    "\n"
    "Defines a new index named NAME (at most 32 bytes) whose data lives in\n"
    "FOLDER, an existing folder given as an absolute path (at most 238 bytes).\n"
    "The index gets the default options and its offline folder FOLDER/OffLine as\n"
    "image folder 00. It starts stopped; \"index set N active 1\" starts serving it.\n"
    "At most 32 indexes can exist.\n";

constexpr char kRemoveHelp[] =
    "Usage: vantrelctl [--dir DIR] index remove N\n"
    "\n"
    "Removes index N from the configuration. Indexes after it move down by one\n"
    "number. The index folder and its data stay on disk.\n";

constexpr char kSetHelp[] =
    "Usage: vantrelctl [--dir DIR] index set N OPTION VALUE\n"
    "\n"
    "Options and their values:\n"
    "  active            0|1   serve the index (*ACTIVE*) or not (STOPPED)\n"
    "  mac-text          0|1   convert caption text from Macintosh ASCII\n"
    "  docinfo           0|1   index Adobe Photoshop document info\n"
    "  empty-fields      0|1|2 0 Do not Index Empty Fields,\n"
    "                          1 Index The Most Common Empty Fields,\n"
    "                          2 Index All Empty Fields\n"
    "  optimize-hour     0..24 hour of the automatic optimization (24: never)\n"
    "  unused-threshold  N     unused entries that start an optimization\n"
    "                          (a whole number, written without '+' or leading zeros)\n"
    "  space-warning     0|1   warn when free disk space is low\n"
    "  space-limit       MB    the low-space limit: a multiple of 5, at least 5\n"
    "  browse-limit-on   0|1   limit the images that can be browsed\n"
    "  browse-limit      N     that limit: a multiple of 1000, at least 2000\n"
    "  shards            1..8  engine shards when the index is next built (a new\n"
    "                          index, or a rebuild); 0: one per core\n"
    "  remote-shard      URL   also search the shard served at tcp://HOST:PORT\n"
    "                          (xapian-tcpsrv); \"off\" forgets every remote shard\n"
    "Switches also accept on/off. shards and remote-shard are kept in the engine\n"
    "folder (VT_DATA/VT_INDEX/vtshards), not in the configuration.\n"
    "\n"
    "Usage: vantrelctl [--dir DIR] index set N metadata WHAT on|off\n"
    "\n"
    "Turns one metadata read beyond IIM captions and image-info trailers on or\n"
    "off for the index (all are on in a new index). WHAT is one of:\n"
    "  xmp         XMP packets and <name>.xmp sidecars\n"
    "  charset     IIM character sets (1:90, UTF-8) converted to the code page\n"
    "  dimensions  pixel size, resolution and colour from the image headers\n"
    "  dates       the capture date (EXIF, XMP) when the caption has no date\n"
    "With all four off, documents are those of IIM and trailers alone. Files\n"
    "already indexed keep their documents until they change or are rebuilt.\n";

// Parses an index number that must name an existing index.
std::optional<int> IndexNumber(const CtlEnv& env, const std::string& command,
                               const std::string& text, const Configuration& config,
                               int* exit_code) {
  std::optional<uint32_t> n = ParseStrictUint32(text);
  if (!n) {
    *exit_code = UsageError(env, command, "\"" + text + "\" is not an index number");
    return std::nullopt;
  }
  if (*n >= config.indexes.size()) {
    *exit_code = UsageError(env, command,
                            "there is no index " + text + " (there are " +
                                std::to_string(config.indexes.size()) + " indexes)");
    return std::nullopt;
  }
  return static_cast<int>(*n);
}

struct OptionRule {
  const char* name;
  std::function<uint32_t*(IndexDefinition&)> field;
  // Turns the text into the stored value, or says why not.
  std::function<std::optional<uint32_t>(const std::string&, std::string*)> parse;
};

std::optional<uint32_t> SwitchValue(const std::string& t, std::string* why) {
  std::optional<bool> b = ParseSwitch(t);
  if (!b) {
    *why = "must be 0 or 1 (or off/on)";
    return std::nullopt;
  }
  return *b ? 1 : 0;
}

std::function<std::optional<uint32_t>(const std::string&, std::string*)> Range(uint32_t lo,
                                                                               uint32_t hi) {
  return [lo, hi](const std::string& t, std::string* why) -> std::optional<uint32_t> {
    std::optional<uint32_t> v = ParseStrictUint32(t);
    if (!v || *v < lo || *v > hi) {
      *why = "must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
      return std::nullopt;
    }
    return v;
  };
}

std::function<std::optional<uint32_t>(const std::string&, std::string*)> Steps(uint32_t step,
                                                                               uint32_t lo) {
  return [step, lo](const std::string& t, std::string* why) -> std::optional<uint32_t> {
    std::optional<uint32_t> v = ParseStrictUint32(t);
    if (!v || *v < lo || *v % step != 0) {
      *why = "must be a multiple of " + std::to_string(step) + ", at least " + std::to_string(lo);
      return std::nullopt;
    }
    return v;
  };
}

const std::vector<OptionRule>& Rules() {
  static const auto* rules = new std::vector<OptionRule>{
      {"active", [](IndexDefinition& d) { return &d.active; }, SwitchValue},
      {"mac-text", [](IndexDefinition& d) { return &d.mac_text; }, SwitchValue},
      {"docinfo", [](IndexDefinition& d) { return &d.doc_info; }, SwitchValue},
      {"empty-fields", [](IndexDefinition& d) { return &d.empty_fields; }, Range(0, 2)},
      {"optimize-hour", [](IndexDefinition& d) { return &d.optimize_hour; }, Range(0, 24)},
      {"unused-threshold",
       [](IndexDefinition& d) { return reinterpret_cast<uint32_t*>(&d.unused_threshold); },
       [](const std::string& t, std::string* why) -> std::optional<uint32_t> {
         std::optional<int32_t> v = ParseStrictInt32(t);
         if (!v) {
           *why = "must be a whole number written without '+', blanks or leading zeros";
           return std::nullopt;
         }
         return static_cast<uint32_t>(*v);
       }},
      {"space-warning", [](IndexDefinition& d) { return &d.space_warning; }, SwitchValue},
      {"space-limit", [](IndexDefinition& d) { return &d.space_limit_mb; }, Steps(5, 5)},
      {"browse-limit-on", [](IndexDefinition& d) { return &d.browse_limit_on; }, SwitchValue},
      {"browse-limit", [](IndexDefinition& d) { return &d.browse_limit; }, Steps(1000, 2000)},
  };
  return *rules;
}

// The engine's shard settings of index `def` with `option` set to `text`;
// nothing (and *why says why) when the value is not valid.
std::optional<ShardSettings> ChangedShardSettings(const ShardSettings& current,
                                                  const std::string& option,
                                                  const std::string& text, std::string* why) {
  ShardSettings next = current;
  if (option == "shards") {
    std::optional<uint32_t> v = ParseStrictUint32(text);
    if (!v || *v > kMaxShards) {
      *why = "must be a whole number from 0 to " + std::to_string(kMaxShards);
      return std::nullopt;
    }
    next.next_count = *v;
    return next;
  }
  if (text == "off") {
    next.remotes.clear();
    return next;
  }
  std::string host;
  unsigned port = 0;
  if (!ParseRemoteShard(text, &host, &port)) {
    *why = "must be tcp://HOST:PORT (or off)";
    return std::nullopt;
  }
  if (std::find(next.remotes.begin(), next.remotes.end(), text) != next.remotes.end()) return next;
  if (next.remotes.size() >= kMaxRemoteShards) {
    *why = "cannot be added: an index has at most " + std::to_string(kMaxRemoteShards) +
           " remote shards";
    return std::nullopt;
  }
  next.remotes.push_back(text);
  return next;
}

// `index set N shards K` and `index set N remote-shard URL`: written into
// the shard settings file of the index's engine folder.
int SetShardOption(const CtlEnv& env, const CtlCall& call, const std::string& cmd,
                   const std::string& number, const std::string& option, const std::string& text) {
  if (ServerRunsIn(call.dir)) return NeedsStoppedServer(call, env, "the engine's shard settings");
  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  std::optional<int> n = IndexNumber(env, cmd, number, edit->config(), &code);
  if (!n) return code;
  const IndexDefinition& def = edit->config().indexes[*n];
  const std::string folder = EngineFolderOf(def.index_folder);
  StatusOr<ShardSettings> current = ReadShardSettings(env.fs, folder);
  if (!current.ok()) {
    *env.err << "error: " << current.status().message() << "\n";
    return kCtlFailed;
  }
  std::string why;
  std::optional<ShardSettings> next = ChangedShardSettings(*current, option, text, &why);
  if (!next) return UsageError(env, cmd, option + " " + why + ", not \"" + text + "\"");
  Status written = env.fs->CreateFolders(folder);
  if (written.ok()) written = WriteShardSettings(env.fs, folder, *next);
  if (!written.ok()) {
    *env.err << "error: cannot write the shard settings of index " << *n << ": "
             << written.message() << "\n";
    return kCtlFailed;
  }
  *env.out << "Index " << *n << " \"" << def.name << "\": " << option << " = " << text;
  if (option == "shards") *env.out << " (takes effect when the index is next built)";
  *env.out << "\n";
  return kCtlOk;
}

// index set N metadata WHAT on|off: sets or clears one bit of the stored
// switch word; the other bits of the word stay as they are.
int SetMetadataSwitch(const CtlEnv& env, const CtlCall& call, const std::vector<std::string>& pos) {
  const std::string cmd = "index set";
  if (pos.size() != 4) return UsageError(env, cmd, "give N, metadata, WHAT and on|off");
  const MetadataSwitchName* which = nullptr;
  for (const MetadataSwitchName& m : kMetadataSwitchNames) {
    if (pos[2] == m.name) which = &m;
  }
  if (which == nullptr) {
    return UsageError(env, cmd,
                      "unknown metadata switch \"" + pos[2] +
                          "\" (xmp, charset, dimensions or dates)");
  }
  std::optional<bool> on = ParseSwitch(pos[3]);
  if (!on) return UsageError(env, cmd, "metadata " + pos[2] + " must be on or off (or 1/0)");
  if (ServerRunsIn(call.dir)) return RemoteMetadataSwitch(call, env, pos[0], which->name, *on);

  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  std::optional<int> n = IndexNumber(env, cmd, pos[0], edit->config(), &code);
  if (!n) return code;
  IndexDefinition& def = edit->config().indexes[*n];
  if (*on) {
    def.metadata_switches &= ~which->off_bit;
  } else {
    def.metadata_switches |= which->off_bit;
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Index " << *n << " \"" << def.name << "\": metadata " << pos[2] << " = "
           << (*on ? "on" : "off") << "\n";
  return kCtlOk;
}

}  // namespace

std::string MetadataSwitchesText(uint32_t stored_bits) {
  std::string out;
  for (const MetadataSwitchName& m : kMetadataSwitchNames) {
    if (!out.empty()) out += ", ";
    out += m.name;
    out += (stored_bits & m.off_bit) != 0 ? " off" : " on";
  }
  return out;
}

int CmdIndexAdd(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "index add";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kAddHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 2) return UsageError(env, cmd, "give NAME and FOLDER");
  const std::string& name = args->positional[0];
  std::optional<std::string> folder = NormalizeAbsolutePath(args->positional[1]);
  if (!folder) {
    return UsageError(env, cmd,
                      "the index folder must be an absolute path: " + args->positional[1]);
  }
  if (!env.fs->IsValidFolder(*folder)) {
    return UsageError(env, cmd,
                      "the index folder " + *folder + " does not exist (create it first)");
  }
  StatusOr<IndexDefinition> def = NewIndexDefinition(name, *folder);
  if (!def.ok()) return UsageError(env, cmd, def.status().message());
  if (ServerRunsIn(call.dir)) return RemoteIndexAdd(call, env, name, *folder);

  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  Configuration& c = edit->config();
  for (size_t i = 0; i < c.indexes.size(); ++i) {
    if (PathIsWithin(c.indexes[i].index_folder, *folder) ||
        PathIsWithin(*folder, c.indexes[i].index_folder)) {
      return UsageError(env, cmd,
                        "index " + std::to_string(i) + " (" + c.indexes[i].name +
                            ") already keeps its data in " + c.indexes[i].index_folder +
                            "; two indexes cannot share or nest their index folders");
    }
    for (const ImageFolderEntry& e : c.indexes[i].image_folders) {
      if (e.used() && PathIsWithin(*folder, e.path)) {
        return UsageError(env, cmd,
                          "the index folder " + *folder + " lies in image folder " + e.path +
                              " of index " + std::to_string(i) +
                              "; index data must not be indexed as images");
      }
    }
  }
  StatusOr<int> count = AddIndex(&c, *def, *env.namer);
  if (!count.ok()) {
    *env.err << "error: " << count.status().message() << "\n";
    return count.status().code() == StatusCode::kResourceExhausted ? kCtlFailed : kCtlUsage;
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  int n = *count - 1;
  *env.out << "Added index " << n << " \"" << name << "\" in " << *folder
           << " (stopped; \"vantrelctl index set " << n << " active 1\" starts serving it)\n";
  return kCtlOk;
}

int CmdIndexRemove(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "index remove";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kRemoveHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 1) return UsageError(env, cmd, "give the index number N");
  if (ServerRunsIn(call.dir)) return RemoteIndexRemove(call, env, args->positional[0]);
  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  std::optional<int> n = IndexNumber(env, cmd, args->positional[0], edit->config(), &code);
  if (!n) return code;
  IndexDefinition removed = edit->config().indexes[*n];
  if (Status s = DeleteIndex(&edit->config(), *n); !s.ok()) {
    *env.err << "error: " << s.message() << "\n";
    return kCtlFailed;
  }
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Removed index " << *n << " \"" << removed.name << "\"; its folder "
           << removed.index_folder << " was left on disk";
  if (static_cast<size_t>(*n) < edit->config().indexes.size()) {
    *env.out << "; the indexes after it moved down by one number";
  }
  *env.out << "\n";
  return kCtlOk;
}

int CmdIndexSet(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "index set";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kSetHelp;
    return kCtlOk;
  }
  if (args->positional.size() >= 2 && args->positional[1] == "metadata") {
    return SetMetadataSwitch(env, call, args->positional);
  }
  if (args->positional.size() != 3) return UsageError(env, cmd, "give N, OPTION and VALUE");
  const std::string& option = args->positional[1];
  const std::string& text = args->positional[2];
  if (option == "shards" || option == "remote-shard") {
    return SetShardOption(env, call, cmd, args->positional[0], option, text);
  }
  const OptionRule* rule = nullptr;
  for (const OptionRule& r : Rules()) {
    if (option == r.name) rule = &r;
  }
  if (rule == nullptr) return UsageError(env, cmd, "unknown option \"" + option + "\"");
  std::string why;
  std::optional<uint32_t> value = rule->parse(text, &why);
  if (!value) return UsageError(env, cmd, option + " " + why + ", not \"" + text + "\"");
  if (ServerRunsIn(call.dir)) {
    return RemoteIndexSet(call, env, args->positional[0], option, text, *value);
  }

  int code;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env, call.dir, &code);
  if (!edit) return code;
  std::optional<int> n = IndexNumber(env, cmd, args->positional[0], edit->config(), &code);
  if (!n) return code;
  IndexDefinition& def = edit->config().indexes[*n];
  *rule->field(def) = *value;
  if (int saved = edit->Save(env); saved != kCtlOk) return saved;
  *env.out << "Index " << *n << " \"" << def.name << "\": " << option << " = " << text << "\n";
  if (option == "active" && *value == 1 && !env.fs->IsValidFolder(def.index_folder)) {
    *env.err << "warning: the index folder " << def.index_folder
             << " does not exist; the server will stop this index until it does\n";
  }
  return kCtlOk;
}

}  // namespace vantrel
