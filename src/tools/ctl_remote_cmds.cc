// vantrelctl's configuration changes through a running server's console.

#include "tools/ctl_remote_cmds.h"

#include <optional>

#include "core/config_file.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_running_server.h"

namespace vantrel {
namespace {

using Json = nlohmann::json;

// The index `number` (counted from 0) of the running server's
// configuration, checked against it.
std::optional<Json> IndexOf(RunningServer& server, const CtlEnv& env, const std::string& command,
                            const std::string& number, int* code) {
  std::optional<Json> config = server.Get("/api/config", code);
  if (!config) return std::nullopt;
  const Json indexes = config->value("indexes", Json::array());
  std::optional<uint32_t> n = ParseStrictUint32(number);
  if (!n || *n >= indexes.size()) {
    *code = UsageError(env, command,
                       "the running server has no index " + number + " (it has " +
                           std::to_string(indexes.size()) + " indexes)");
    return std::nullopt;
  }
  return indexes[*n];
}

int ApiIndex(const std::string& number) { return static_cast<int>(*ParseStrictUint32(number)) + 1; }

std::string Text(const Json& j, const char* key) {
  return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : "";
}

// The API names of the options of `index set` that the console's options
// page has; the value is sent as a switch, a number or (the threshold) text.
enum class Kind { kSwitch, kNumber, kText };
struct RemoteOption {
  const char* option;
  const char* key;
  Kind kind;
};
constexpr RemoteOption kRemoteOptions[] = {
    {"mac-text", "mac_text", Kind::kSwitch},
    {"docinfo", "doc_info", Kind::kSwitch},
    {"empty-fields", "empty_fields", Kind::kNumber},
    {"optimize-hour", "optimize_hour", Kind::kNumber},
    {"unused-threshold", "unused_threshold", Kind::kText},
    {"space-warning", "space_warning", Kind::kSwitch},
    {"space-limit", "space_limit_mb", Kind::kNumber},
    {"browse-limit-on", "browse_limit_on", Kind::kSwitch},
    {"browse-limit", "browse_limit", Kind::kNumber},
};

// Refuses an image folder that the file path's checks refuse and the
// console leaves to the operator: inside the index folder, or overlapping
// another image folder of the index.
std::string FolderOverlap(const Json& index, const std::string& path) {
  const std::string index_folder = Text(index, "index_folder");
  if (PathIsWithin(path, index_folder)) {
    return path + " lies inside the index folder " + index_folder +
           "; put files for this index into its offline folder instead";
  }
  for (const Json& f : index.value("folders", Json::array())) {
    const std::string other = Text(f, "path");
    if (!other.empty() && (PathIsWithin(path, other) || PathIsWithin(other, path))) {
      return path + " overlaps the image folder " + other + " of this index; its files would "
                    "be indexed twice";
    }
  }
  return "";
}

// Posts `body` to the console's options of index `number` and prints
// `change` after the index's name.
int PostIndexOptions(const CtlCall& call, const CtlEnv& env, const std::string& number,
                     const Json& body, const std::string& change) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = kCtlOk;
    std::optional<Json> index = IndexOf(server, env, "index set", number, &code);
    if (!index) return code;
    code = server.Post("/api/options", body);
    if (code != kCtlOk) return code;
    *env.out << "Index " << number << " \"" << Text(*index, "name") << "\": " << change << "\n";
    return kCtlOk;
  });
}

}  // namespace

int NeedsStoppedServer(const CtlCall& call, const CtlEnv& env, const std::string& what) {
  *env.err << "error: a Vantrel server runs in " << call.dir << "; " << what
           << " cannot be changed through its console: stop the server first\n";
  return kCtlFailed;
}

int RemoteIndexAdd(const CtlCall& call, const CtlEnv& env, const std::string& name,
                   const std::string& folder) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = server.Post("/api/indexes", Json{{"action", "new"}, {"name", name},
                                                {"folder", folder}});
    if (code != kCtlOk) return code;
    std::optional<Json> config = server.Get("/api/config", &code);
    const size_t n = config ? config->value("indexes", Json::array()).size() : 0;
    *env.out << "Added index " << (n > 0 ? std::to_string(n - 1) : "?") << " \"" << name
             << "\" in " << folder << " through the running server's console (stopped; "
             << "\"vantrelctl index set N active 1\" with the server stopped starts serving it)\n";
    return kCtlOk;
  });
}

int RemoteIndexRemove(const CtlCall& call, const CtlEnv& env, const std::string& number) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = kCtlOk;
    std::optional<Json> index = IndexOf(server, env, "index remove", number, &code);
    if (!index) return code;
    code = server.Post("/api/indexes", Json{{"action", "delete"}, {"index", ApiIndex(number)}});
    if (code != kCtlOk) return code;
    *env.out << "Removed index " << number << " \"" << Text(*index, "name") << "\"; its folder "
             << Text(*index, "index_folder") << " was left on disk\n";
    return kCtlOk;
  });
}

int RemoteIndexSet(const CtlCall& call, const CtlEnv& env, const std::string& number,
                   const std::string& option, const std::string& text, uint32_t value) {
  const RemoteOption* which = nullptr;
  for (const RemoteOption& o : kRemoteOptions) {
    if (option == o.option) which = &o;
  }
  if (which == nullptr) return NeedsStoppedServer(call, env, "the index option " + option);
  Json body{{"index", ApiIndex(number)}};
  switch (which->kind) {
    case Kind::kSwitch: body[which->key] = value != 0; break;
    case Kind::kNumber: body[which->key] = value; break;
    case Kind::kText: body[which->key] = text; break;
  }
  return PostIndexOptions(call, env, number, body, option + " = " + text);
}

int RemoteMetadataSwitch(const CtlCall& call, const CtlEnv& env, const std::string& number,
                         const std::string& name, bool on) {
  const Json body{{"index", ApiIndex(number)}, {"metadata", Json{{name, on}}}};
  return PostIndexOptions(call, env, number, body,
                          "metadata " + name + " = " + (on ? "on" : "off"));
}

int RemoteFolderAdd(const CtlCall& call, const CtlEnv& env, const std::string& number,
                    const std::string& path, const std::string* win, const std::string* mac,
                    bool subfolders) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = kCtlOk;
    std::optional<Json> index = IndexOf(server, env, "folder add", number, &code);
    if (!index) return code;
    if (std::string overlap = FolderOverlap(*index, path); !overlap.empty()) {
      return UsageError(env, "folder add", overlap);
    }
    Json body{{"action", "add"}, {"index", ApiIndex(number)}, {"path", path},
              {"include_subfolders", subfolders}};
    if (!win || !mac) {
      std::optional<Json> names = server.Get("/api/names", &code, {{"path", path}});
      if (!names) return code;
      body["windows"] = win ? *win : Text(*names, "windows");
      body["mac"] = mac ? *mac : Text(*names, "mac");
    } else {
      body["windows"] = *win;
      body["mac"] = *mac;
    }
    code = server.Post("/api/folders", body);
    if (code != kCtlOk) return code;
    *env.out << "Added image folder " << path << " to index " << number
             << " through the running server's console\n";
    return kCtlOk;
  });
}

int RemoteFolderRemove(const CtlCall& call, const CtlEnv& env, const std::string& number,
                       int slot) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = kCtlOk;
    std::optional<Json> index = IndexOf(server, env, "folder remove", number, &code);
    if (!index) return code;
    // The console counts image folders by position; the folder number
    // lives in the configuration data file, which the server saves at every
    // change. The folder is found by its path in the server's list.
    std::optional<Configuration> saved = ReadConfig(env, call.dir);
    if (!saved) return kCtlFailed;
    const size_t n = *ParseStrictUint32(number);
    std::string path;
    if (n < saved->indexes.size() && saved->indexes[n].image_folders[slot].used()) {
      path = saved->indexes[n].image_folders[slot].path;
    }
    const Json folders = index->value("folders", Json::array());
    int position = -1;
    for (size_t i = 0; i < folders.size() && !path.empty(); ++i) {
      if (Text(folders[i], "path") == path) position = static_cast<int>(i);
    }
    if (position < 0) {
      return UsageError(env, "folder remove",
                        "index " + number + " of the running server has no image folder " +
                            (slot < 10 ? "0" : "") + std::to_string(slot) +
                            " (\"vantrelctl config show\" lists them)");
    }
    code = server.Post("/api/folders",
                       Json{{"action", "remove"}, {"index", ApiIndex(number)}, {"folder", position}});
    if (code != kCtlOk) return code;
    *env.out << "Removed image folder " << (slot < 10 ? "0" : "") << slot << " (" << path
             << ") from index " << number << "\n";
    return kCtlOk;
  });
}

int RemoteLogSet(const CtlCall& call, const CtlEnv& env, const Json& body) {
  // The log options need no edit mode: the page's Log File and Log Options
  // dialogs change them at any time.
  return ActThroughConsole(call, env, [&](RunningServer& server) {
    int code = server.Post("/api/log/options", body);
    if (code == kCtlOk) *env.out << "Log settings changed through the running server's console\n";
    return code;
  });
}

int RemotePdfSet(const CtlCall& call, const CtlEnv& env, Json body, bool look_up_win,
                 bool look_up_mac) {
  return ChangeThroughConsole(call, env, [&](RunningServer& server) {
    int code = kCtlOk;
    const std::string folder = Text(body, "folder");
    if ((look_up_win || look_up_mac) && !folder.empty()) {
      std::optional<Json> names = server.Get("/api/names", &code, {{"path", folder}});
      if (!names) return code;
      if (look_up_win) body["win_path"] = Text(*names, "windows");
      if (look_up_mac) body["mac_path"] = Text(*names, "mac");
    } else if (look_up_win || look_up_mac) {
      if (look_up_win) body["win_path"] = "";
      if (look_up_mac) body["mac_path"] = "";
    }
    code = server.Post("/api/pdf", body);
    if (code == kCtlOk) *env.out << "PDF settings changed through the running server's console\n";
    return code;
  });
}

}  // namespace vantrel
