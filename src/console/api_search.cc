// The console's search: the page's query goes to the server exactly as a
// client's request file does (written into the index's search folder,
// answered by the search service with its engine path and hit filtering),
// and the hit file comes back as JSON.
#include "console/console_api_search.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>

#include "core/config_file.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "search/query_translation.h"
#include "search/request_file.h"
#include "server/console_config.h"
#include "server/task_control.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_search_exchange.h"

namespace vantrel {
namespace {

constexpr uint32_t kMaxConsoleHits = 5000;

std::optional<uint32_t> NumberParam(const ApiParams& params, const char* key) {
  auto it = params.find(key);
  if (it == params.end()) return std::nullopt;
  uint32_t value = 0;
  const std::string& t = it->second;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return std::nullopt;
  return value;
}

std::string TypeCodeText(uint32_t type) {
  std::string s;
  for (int shift = 24; shift >= 0 && type != 0; shift -= 8) {
    unsigned char c = static_cast<unsigned char>(type >> shift);
    s.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return s;
}

// The full path of a hit's key through the index's image folders; empty
// when the key names no used folder.
std::string FullPathOf(FileSystem* fs, const CodePage& cp, const IndexDefinition& def,
                       const std::string& key) {
  if (key.size() < 2 || key[0] < '0' || key[0] > '9' || key[1] < '0' || key[1] > '9') return "";
  const int slot = (key[0] - '0') * 10 + (key[1] - '0');
  if (slot >= config_layout::kImageFolderSlots || !def.image_folders[slot].used()) return "";
  const std::string& root = def.image_folders[slot].path;
  std::string_view relative = std::string_view(key).substr(2);
  if (relative.empty()) return root;
  std::string direct = JoinNative(root, KeyToNative(cp.ToUtf8(relative)));
  if (fs->Exists(direct)) return direct;
  StatusOr<std::string> found = ResolveKeyPath(fs, cp, root, relative);
  return found.ok() ? *found : direct;
}

// The names clients use for the hit: the folder's Windows share and
// Macintosh volume with the key's rest.
Json ClientNames(const IndexDefinition& def, const CodePage& cp, const std::string& key) {
  Json names = Json::object();
  if (key.size() < 2) return names;
  const int slot = (key[0] - '0') * 10 + (key[1] - '0');
  if (slot < 0 || slot >= config_layout::kImageFolderSlots) return names;
  const ImageFolderEntry& e = def.image_folders[slot];
  const std::string rest = cp.ToUtf8(std::string_view(key).substr(2));
  if (!e.windows_share.empty()) names["windows"] = e.windows_share + "\\" + rest;
  if (!e.mac_volume.empty()) {
    std::string mac = rest;
    for (char& c : mac) {
      if (c == '\\') c = ':';
    }
    names["mac"] = e.mac_volume + ":" + mac;
  }
  return names;
}

// True when `path` is a file (not a link) in a folder below `root` that is
// reached without links.
bool PlainFileInside(FileSystem* fs, const std::string& root, const std::string& path) {
  const size_t cut = path.find_last_of('/');
  if (cut == std::string::npos || cut == 0) return false;
  const std::string folder = path.substr(0, cut);
  const std::string name = path.substr(cut + 1);
  if (folder != root && !fs->IsInsideWithoutLinks(root, folder)) return false;
  if (folder.size() < root.size()) return false;
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return false;
  for (const FolderEntry& e : *entries) {
    if (e.name == name) return !e.is_link && !e.is_folder;
  }
  return false;
}

std::string BaseName(const std::string& key) {
  size_t cut = key.find_last_of("\\/:");
  return cut == std::string::npos ? key.substr(std::min<size_t>(2, key.size()))
                                  : key.substr(cut + 1);
}

}  // namespace

ApiReply SearchFromConsole(ApiContext& ctx, const ApiParams& params) {
  std::optional<uint32_t> index = NumberParam(params, "index");
  auto q = params.find("q");
  if (!index || *index < 1 || *index > 32 || q == params.end() || q->second.empty()) {
    return Refused(400, "a search needs index=N (from 1) and q=QUERY");
  }
  uint32_t sort = 1;
  if (auto s = params.find("sort"); s != params.end()) {
    if (s->second == "time") sort = 1;
    else if (s->second == "name") sort = 2;
    else if (s->second == "relevance") sort = 3;
    else return Refused(400, "sort is time, name or relevance");
  }
  uint32_t limit = 100;
  if (params.count("limit")) {
    std::optional<uint32_t> l = NumberParam(params, "limit");
    if (!l || *l < 1 || *l > kMaxConsoleHits) return Refused(400, "limit is 1 to 5000");
    limit = *l;
  }
  const CodePage& cp = CodePage::Default();
  LongSearchRequest words;
  words.query_text = cp.FromUtf8(q->second);
  if (words.query_text.size() >= 2048) return Refused(400, "the query is too long");

  Configuration config = ctx.host.config->Copy();
  const IndexDefinition* def = IndexAt(config, static_cast<int>(*index) - 1);
  if (!def) return Refused(404, "there is no index " + std::to_string(*index));
  if (ctx.host.task->paused()) {
    return Refused(503, "the database process task is stopped while edit mode is on");
  }
  const std::string folder = SearchFolderOf(def->index_folder);
  if (!ctx.host.fs->IsFolder(folder)) {
    return Refused(503, "the index has no search folder yet (" + folder + ")");
  }
  // The words translate as a client's long-form request does; the query
  // form carries the sort order and the limit.
  TranslatedQuery translated = TranslateLongForm(words);
  QueryRequest request;
  request.query_text = translated.query;
  request.option_bits = translated.option_bits;
  request.fuzziness = translated.fuzziness;
  request.hit_limit = limit;
  request.sort_order = sort;
  StatusOr<std::string> bytes = EncodeQueryRequest(request);
  if (!bytes.ok()) return Refused(400, bytes.status().message());
  StatusOr<std::string> name = FreshRequestName(ctx.host.fs, folder, ".QRY");
  if (!name.ok()) return Refused(503, name.status().message());
  ExchangeOptions exchange;
  auto stopping = [&ctx] { return ctx.stopping != nullptr && ctx.stopping->load(); };
  exchange.give_up = stopping;
  const auto began = std::chrono::steady_clock::now();
  StatusOr<ExchangeResult> answer = RunSearchExchange(ctx.host.fs, folder, *name, *bytes, exchange);
  if (!answer.ok() && stopping()) return Refused(503, "the server is stopping");
  // An index being prepared (a start, rescan or rebuild) cannot answer yet.
  if (!answer.ok() && answer.status().code() == StatusCode::kFailedPrecondition) {
    return Refused(503, answer.status().message());
  }
  if (!answer.ok()) return Refused(504, answer.status().message());
  // From the request written to the whole hit file read: what the search
  // took as a client sees it, in seconds to the millisecond.
  const double seconds =
      std::round(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() *
                 1000.0) /
      1000.0;

  Json hits = Json::array();
  for (const HitRecord& r : answer->hits.records) {
    if (hits.size() >= limit) break;
    const int64_t unix = UnixFromFileTimeStamp(r.time);
    hits.push_back(Json{{"key", cp.ToUtf8(r.key)},
                        {"name", cp.ToUtf8(BaseName(r.key))},
                        {"date", ShortDate(unix) + " " + TimeText(unix)},
                        {"time", r.time},
                        {"type", TypeCodeText(r.type)},
                        {"path", FullPathOf(ctx.host.fs, cp, *def, r.key)},
                        {"client_names", ClientNames(*def, cp, r.key)}});
  }
  ApiReply reply;
  reply.body = Json{{"found", answer->hits.found}, {"seconds", seconds}, {"hits", hits}};
  return reply;
}

std::string HitPath(FileSystem* fs, const IndexDefinition& def, const std::string& native_key) {
  const std::string path = FullPathOf(fs, CodePage::Default(), def, native_key);
  if (path.empty()) return "";
  const int slot = (native_key[0] - '0') * 10 + (native_key[1] - '0');
  return PlainFileInside(fs, def.image_folders[slot].path, path) ? path : "";
}

ApiReply InspectHit(ApiContext& ctx, const ApiParams& params) {
  std::optional<uint32_t> index = NumberParam(params, "index");
  auto key = params.find("key");
  if (!index || key == params.end() || key->second.size() < 3) {
    return Refused(400, "inspect needs index=N and key=KEY");
  }
  Configuration config = ctx.host.config->Copy();
  const IndexDefinition* def = IndexAt(config, static_cast<int>(*index) - 1);
  if (!def) return Refused(404, "there is no index " + std::to_string(*index));
  const CodePage& cp = CodePage::Default();
  const std::string native_key = cp.FromUtf8(key->second);
  const std::string path = FullPathOf(ctx.host.fs, cp, *def, native_key);
  const int slot = (native_key[0] - '0') * 10 + (native_key[1] - '0');
  // Only a file inside its image folder, reached without links.
  if (path.empty() || !PlainFileInside(ctx.host.fs, def->image_folders[slot].path, path)) {
    return Refused(404, "the key names no file of this index's image folders");
  }
  std::ostringstream out, err;
  NullVolumeNamer namer;
  CtlEnv env{&out, &err, ctx.host.fs, &namer, ctx.host.start_dir};
  CmdInspect(CtlCall{ctx.host.start_dir, {path}}, env);
  ApiReply reply;
  reply.body = Json{{"path", path}, {"text", out.str() + err.str()}};
  return reply;
}

}  // namespace vantrel
