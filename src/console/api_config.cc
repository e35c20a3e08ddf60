// Edit mode, passwords and the configuration pages of the console API.
#include <charconv>

#include "console/console_api.h"
#include "core/config_file.h"
#include "core/event_log.h"
#include "core/text_table.h"
#include "core/volume_namer.h"
#include "metadata/metadata_switches.h"
#include "platform/file_system.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/task_control.h"

namespace vantrel {
namespace {

// A text member of `body`, or nothing when it is missing or not a text.
std::optional<std::string> TextOf(const Json& body, const char* key) {
  if (!body.is_object() || !body.contains(key) || !body[key].is_string()) return std::nullopt;
  return body[key].get<std::string>();
}

std::optional<int64_t> NumberOf(const Json& body, const char* key) {
  if (!body.is_object() || !body.contains(key) || !body[key].is_number_integer()) {
    return std::nullopt;
  }
  return body[key].get<int64_t>();
}

std::optional<bool> FlagOf(const Json& body, const char* key) {
  if (!body.is_object() || !body.contains(key) || !body[key].is_boolean()) return std::nullopt;
  return body[key].get<bool>();
}

// A text cut to `size` bytes (a slot of the configuration data file).
std::string CutTo(const std::string& text, size_t size) { return text.substr(0, size); }

std::string TrimSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

ApiReply RequireEdit(ApiContext& ctx, const ApiCaller& caller) {
  if (ctx.sessions.HoldsEdit(caller.session.id)) return ApiReply{};
  std::optional<ConsoleSessions::EditHolder> holder = ctx.sessions.edit_holder();
  if (holder) {
    return Refused(409, "edit mode is held by " + holder->label + "; changes need edit mode");
  }
  return Refused(403, "changes need edit mode: turn edit on first");
}

// Stores an accepted change and saves the configuration at once.
ApiReply Saved(ApiContext& ctx) {
  SaveOrSay(*ctx.host.config, *ctx.host.state);
  return ApiReply{};
}

// The checks of a new index folder: absolute, an existing folder, short
// enough for its derived folders, not inside any image folder and not
// holding or inside another index's folder.
std::string IndexFolderProblem(ApiContext& ctx, const Configuration& c, const std::string& folder,
                               int except) {
  if (folder.empty() || folder[0] != '/') return "the index folder must be an absolute path";
  if (folder.size() > kMaxIndexFolderLength) {
    return "the index folder path is longer than " + std::to_string(kMaxIndexFolderLength) +
           " bytes";
  }
  if (!ctx.host.fs->IsFolder(folder)) return folder + " is not an existing folder";
  for (int i = 0; i < IndexCount(c); ++i) {
    if (i == except) continue;
    const IndexDefinition& def = c.indexes[i];
    if (PathIsWithin(def.index_folder, folder) || PathIsWithin(folder, def.index_folder)) {
      return folder + " overlaps the index folder of " + def.name;
    }
    for (const ImageFolderEntry& e : def.image_folders) {
      if (e.used() && PathIsWithin(folder, e.path)) {
        return Text(TextId::IDS_INDEX) + " " + folder + " " + Text(TextId::IDS_BADNESTED);
      }
    }
  }
  return "";
}

int IndexNumber(const Json& body) {
  std::optional<int64_t> n = NumberOf(body, "index");
  return n && *n >= 1 && *n <= 32 ? static_cast<int>(*n - 1) : -1;
}

ApiReply Missing(const std::string& what) { return Refused(400, "the request needs " + what); }

// --- index actions ---

ApiReply NewIndex(ApiContext& ctx, const Json& body) {
  std::optional<std::string> name = TextOf(body, "name");
  std::optional<std::string> folder = TextOf(body, "folder");
  if (!name || name->empty() || !folder) return Missing("a \"name\" and a \"folder\"");
  const std::string path = TrimSlashes(*folder);
  Configuration c = ctx.host.config->Copy();
  if (IndexCount(c) >= config_layout::kMaxIndexes) {
    return Refused(409, "32 indexes exist already; no more can be added");
  }
  std::string problem = IndexFolderProblem(ctx, c, path, -1);
  if (!problem.empty()) return Refused(422, problem);
  StatusOr<IndexDefinition> def = NewIndexDefinition(CutTo(*name, kMaxIndexNameLength), path);
  if (!def.ok()) return Refused(422, def.status().message());
  NullVolumeNamer none;
  VolumeNamer& namer = ctx.host.namer ? *ctx.host.namer : none;
  StatusOr<int> added =
      ctx.host.config->Update([&](Configuration& live) { return AddIndex(&live, *def, namer); });
  if (!added.ok()) return Refused(409, added.status().message());
  ApiReply r = Saved(ctx);
  r.body["index"] = *added;
  return r;
}

ApiReply RenameIndex(ApiContext& ctx, int index, const Json& body) {
  std::optional<std::string> name = TextOf(body, "name");
  if (!name || name->empty()) return Missing("a non-empty \"name\"");
  bool found = ctx.host.config->Update([&](Configuration& c) {
    IndexDefinition* def = MutableIndexAt(&c, index);
    if (def) def->name = CutTo(*name, kMaxIndexNameLength);
    return def != nullptr;
  });
  if (!found) return Refused(404, "there is no such index");
  return Saved(ctx);
}

ApiReply DeleteIndexAt(ApiContext& ctx, int index) {
  Status s = ctx.host.config->Update([&](Configuration& c) { return DeleteIndex(&c, index); });
  if (!s.ok()) return Refused(404, "there is no such index");
  return Saved(ctx);
}

ApiReply SetIndexFolder(ApiContext& ctx, int index, const Json& body) {
  std::optional<std::string> folder = TextOf(body, "folder");
  if (!folder) return Missing("a \"folder\"");
  const std::string path = TrimSlashes(*folder);
  Configuration c = ctx.host.config->Copy();
  const IndexDefinition* def = IndexAt(c, index);
  if (!def) return Refused(404, "there is no such index");
  std::string problem = IndexFolderProblem(ctx, c, path, index);
  if (problem.empty()) {
    for (const ImageFolderEntry& e : def->image_folders) {
      if (e.used() && PathIsWithin(path, e.path)) {
        problem = Text(TextId::IDS_INDEX) + " " + path + " " + Text(TextId::IDS_BADNESTED);
      }
    }
  }
  if (!problem.empty()) return Refused(422, problem);
  ctx.host.config->Update([&](Configuration& live) {
    if (IndexDefinition* d = MutableIndexAt(&live, index)) {
      d->index_folder = path;
      DeriveIndexFolders(d);
    }
  });
  return Saved(ctx);
}

// --- image folder checks ---

std::string ImageFolderProblem(ApiContext& ctx, const IndexDefinition& def,
                               const std::string& path) {
  if (path.empty() || path[0] != '/') return "the image folder must be an absolute path";
  if (path.size() > kMaxPathLength) return "the image folder path is too long";
  if (!ctx.host.fs->IsFolder(path)) return path + " is not an existing folder";
  if (PathIsWithin(def.index_folder, path)) {
    return Text(TextId::IDS_INDEX) + " " + def.index_folder + " " + Text(TextId::IDS_BADNESTED);
  }
  return "";
}

ImageFolderEntry EntryFrom(const Json& body, const std::string& path) {
  ImageFolderEntry e;
  e.path = path;
  e.windows_share = CutTo(TextOf(body, "windows").value_or(""), kMaxPathLength);
  e.mac_volume = CutTo(TextOf(body, "mac").value_or(""), kMaxPathLength);
  e.include_subfolders = FlagOf(body, "include_subfolders").value_or(true) ? 1 : 0;
  return e;
}

ApiReply AddFolder(ApiContext& ctx, int index, const Json& body) {
  std::optional<std::string> folder = TextOf(body, "path");
  if (!folder) return Missing("a \"path\"");
  const std::string path = TrimSlashes(*folder);
  Configuration c = ctx.host.config->Copy();
  const IndexDefinition* def = IndexAt(c, index);
  if (!def) return Refused(404, "there is no such index");
  std::string problem = ImageFolderProblem(ctx, *def, path);
  if (!problem.empty()) return Refused(422, problem);
  ImageFolderEntry e = EntryFrom(body, path);
  StatusOr<int> slot = ctx.host.config->Update([&](Configuration& live) {
    return AddImageFolder(&live, index, e.path, e.windows_share, e.mac_volume,
                          e.include_subfolders != 0);
  });
  if (!slot.ok()) {
    if (slot.status().code() == StatusCode::kResourceExhausted) {
      return Refused(409, "this index has 32 image folders already; no more can be added");
    }
    return Refused(422, slot.status().message());
  }
  return Saved(ctx);
}

ApiReply SetFolder(ApiContext& ctx, int index, int n, const Json& body) {
  Configuration c = ctx.host.config->Copy();
  const ImageFolderEntry* old = GetImageFolder(c, index, n);
  if (!old) return Refused(404, "there is no such image folder");
  ImageFolderEntry e = *old;
  if (std::optional<std::string> w = TextOf(body, "windows")) e.windows_share = CutTo(*w, kMaxPathLength);
  if (std::optional<std::string> m = TextOf(body, "mac")) e.mac_volume = CutTo(*m, kMaxPathLength);
  if (std::optional<bool> sub = FlagOf(body, "include_subfolders")) e.include_subfolders = *sub;
  Status s = ctx.host.config->Update(
      [&](Configuration& live) { return SetImageFolder(&live, index, n, e); });
  if (!s.ok()) return Refused(422, s.message());
  return Saved(ctx);
}

ApiReply RemoveFolder(ApiContext& ctx, int index, int n) {
  Status s = ctx.host.config->Update(
      [&](Configuration& live) { return RemoveImageFolder(&live, index, n); });
  if (!s.ok()) return Refused(404, "there is no such image folder");
  return Saved(ctx);
}

Json FolderJson(const ImageFolderEntry& e) {
  return Json{{"path", e.path},
              {"windows", e.windows_share},
              {"mac", e.mac_volume},
              {"include_subfolders", e.include_subfolders != 0}};
}

Json MetadataJson(uint32_t stored_bits) {
  Json j = Json::object();
  for (const MetadataSwitchName& m : kMetadataSwitchNames) j[m.name] = (stored_bits & m.off_bit) == 0;
  return j;
}

// Reads {"metadata": {xmp?, charset?, dimensions?, dates?}} into `bits`;
// the problem's text when the member is malformed.
std::string ReadMetadataSwitches(const Json& body, uint32_t* bits) {
  if (!body.contains("metadata")) return "";
  const Json& m = body["metadata"];
  if (!m.is_object()) return "\"metadata\" is an object of switches (xmp, charset, dimensions, dates)";
  uint32_t changed = *bits;
  for (const auto& [key, value] : m.items()) {
    const MetadataSwitchName* which = nullptr;
    for (const MetadataSwitchName& n : kMetadataSwitchNames) {
      if (key == n.name) which = &n;
    }
    if (!which) return "unknown metadata switch \"" + key + "\" (xmp, charset, dimensions or dates)";
    if (!value.is_boolean()) return "metadata switch " + key + " is true or false";
    changed = value.get<bool>() ? (changed & ~which->off_bit) : (changed | which->off_bit);
  }
  *bits = changed;
  return "";
}

Json IndexJson(const Configuration& c, int i) {
  const IndexDefinition& d = c.indexes[i];
  Json folders = Json::array();
  for (int n = 0; const ImageFolderEntry* e = GetImageFolder(c, i, n); ++n) {
    folders.push_back(FolderJson(*e));
  }
  return Json{{"number", i + 1},
              {"name", d.name},
              {"index_folder", d.index_folder},
              {"active", d.active != 0},
              {"folders", folders},
              {"options",
               {{"mac_text", d.mac_text != 0},
                {"doc_info", d.doc_info != 0},
                {"empty_fields", d.empty_fields},
                {"unused_threshold", d.unused_threshold},
                {"optimize_hour", d.optimize_hour},
                {"space_warning", d.space_warning != 0},
                {"space_limit_mb", d.space_limit_mb},
                {"browse_limit_on", d.browse_limit_on != 0},
                {"browse_limit", d.browse_limit},
                {"metadata", MetadataJson(d.metadata_switches)}}}};
}

// The threshold text is taken only when it is exactly the decimal writing
// of a number.
std::optional<int32_t> DecimalNumber(const std::string& text) {
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (text.size() > 1 && (text[0] == '0' || text[0] == '+')) return std::nullopt;
  return value;
}

// Reads the options of `body` into `d`; the problem's text when one is out
// of range (nothing is then stored).
std::string ReadOptions(const Json& body, IndexDefinition* d) {
  if (auto v = FlagOf(body, "mac_text")) d->mac_text = *v;
  if (auto v = FlagOf(body, "doc_info")) d->doc_info = *v;
  if (auto v = NumberOf(body, "empty_fields")) {
    if (*v < 0 || *v > 2) return "the empty-field mode is 0, 1 or 2";
    d->empty_fields = static_cast<uint32_t>(*v);
  }
  if (auto v = TextOf(body, "unused_threshold")) {
    if (auto n = DecimalNumber(*v)) d->unused_threshold = *n;  // otherwise ignored
  }
  if (auto v = NumberOf(body, "optimize_hour")) {
    if (*v < 0 || *v > 24) return "the optimization hour is 0 to 24";
    d->optimize_hour = static_cast<uint32_t>(*v);
  }
  if (auto v = FlagOf(body, "space_warning")) d->space_warning = *v;
  if (auto v = NumberOf(body, "space_limit_mb")) {
    if (*v < 5 || *v > 100000000) return "the minimum free space is at least 5 MB";
    d->space_limit_mb = static_cast<uint32_t>(*v);
  }
  if (auto v = FlagOf(body, "browse_limit_on")) d->browse_limit_on = *v;
  if (auto v = NumberOf(body, "browse_limit")) {
    if (*v < 1000 || *v > 100000000 || *v % 1000 != 0) {
      return "the browse maximum is stored in steps of 1000 (at least 1000)";
    }
    d->browse_limit = static_cast<uint32_t>(*v);
  }
  return ReadMetadataSwitches(body, &d->metadata_switches);
}

}  // namespace

void EndEditSession(ApiContext& ctx, const std::string& why) {
  if (!ctx.sessions.ReleaseAnyEdit()) return;
  if (!why.empty()) ctx.host.state->AddEvent(why);
  SaveOrSay(*ctx.host.config, *ctx.host.state);
  ctx.host.task->Resume();
}

ApiReply SetEditMode(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  std::optional<bool> on = FlagOf(body, "on");
  if (!on) return Missing("{\"on\": true|false}");
  if (!*on) {
    if (!ctx.sessions.ReleaseEdit(caller.session.id)) {
      return Refused(409, "this session does not hold edit mode");
    }
    SaveOrSay(*ctx.host.config, *ctx.host.state);
    ctx.host.task->Resume();
    return ApiReply{};
  }
  const std::string stored = ctx.host.config->Copy().edit_password;
  bool locked_now = false;
  ConsoleSessions::EditClaim claim =
      ctx.sessions.ClaimEdit(caller.session.id, TextOf(body, "password").value_or(""), stored,
                             ctx.SteadyNow(), ctx.UnixNow(), &locked_now);
  if (locked_now) {
    ctx.host.state->AddEvent("Five wrong edit passwords: edit mode is locked for a minute");
  }
  switch (claim) {
    case ConsoleSessions::EditClaim::kTaken:
      ctx.host.task->Pause();
      return ApiReply{};
    case ConsoleSessions::EditClaim::kHeldByOther: {
      auto holder = ctx.sessions.edit_holder();
      return Refused(409, "edit mode is held by " + (holder ? holder->label : "another session"));
    }
    case ConsoleSessions::EditClaim::kLocked:
      return Refused(429, "too many wrong passwords: edit mode is locked for a minute");
    case ConsoleSessions::EditClaim::kBadPassword:
      return Refused(403, Text(TextId::IDS_BADPASSWORD));
  }
  return Refused(500, "unknown edit claim");
}

ApiReply ChangePassword(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  ApiReply edit = RequireEdit(ctx, caller);
  if (edit.status != 200) return edit;
  std::optional<std::string> typed_new = TextOf(body, "new");
  std::optional<std::string> typed_confirm = TextOf(body, "confirm");
  if (!typed_new || !typed_confirm) return Missing("\"new\" and \"confirm\"");
  const std::string stored = ctx.host.config->Copy().edit_password;
  if (!stored.empty()) {
    bool locked_now = false;
    ConsoleSessions::EditClaim check = ctx.sessions.CheckPassword(
        TextOf(body, "old").value_or(""), stored, ctx.SteadyNow(), &locked_now);
    if (locked_now) {
      ctx.host.state->AddEvent("Five wrong edit passwords: edit mode is locked for a minute");
    }
    if (check == ConsoleSessions::EditClaim::kLocked) {
      return Refused(429, "too many wrong passwords: try again in a minute");
    }
    if (check != ConsoleSessions::EditClaim::kTaken) {
      return Refused(403, Text(TextId::IDS_BADPASSWORD));
    }
  }
  const std::string fresh = DialogPassword(*typed_new);
  if (fresh != DialogPassword(*typed_confirm)) return Refused(422, Text(TextId::IDS_MISSPASSWORD));
  ctx.host.config->Update([&](Configuration& c) { (void)SetEditPassword(&c, fresh); });
  return Saved(ctx);
}

ApiReply GetConfig(ApiContext& ctx) {
  Configuration c = ctx.host.config->Copy();
  Json indexes = Json::array();
  for (int i = 0; i < IndexCount(c); ++i) indexes.push_back(IndexJson(c, i));
  ApiReply r;
  r.body = Json{{"indexes", indexes},
                {"password_set", !c.edit_password.empty()},
                {"pdf",
                 {{"folder", c.pdf.folder},
                  {"mac_path", c.pdf.mac_path},
                  {"win_path", c.pdf.win_path},
                  {"thumbnail_size", c.pdf.thumbnail_size},
                  {"preview_size", c.pdf.preview_size},
                  {"leading_preview", c.pdf.leading_preview == 3}}},
                {"log",
                 {{"use_file", (c.log_flags & kLogUseFile) != 0},
                  {"daily", (c.log_flags & kLogDaily) != 0},
                  {"new_files", (c.log_flags & kLogNewFiles) != 0},
                  {"searches", (c.log_flags & kLogSearches) != 0},
                  {"folder", c.log_folder}}},
                {"limits", {{"indexes", 32}, {"image_folders", 32}, {"password", 15}}}};
  return r;
}

ApiReply ChangeIndex(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  ApiReply edit = RequireEdit(ctx, caller);
  if (edit.status != 200) return edit;
  std::optional<std::string> action = TextOf(body, "action");
  if (!action) return Missing("an \"action\" (new, rename, delete, folder)");
  if (*action == "new") return NewIndex(ctx, body);
  const int index = IndexNumber(body);
  if (index < 0) return Missing("an \"index\" from 1 to 32");
  if (*action == "rename") return RenameIndex(ctx, index, body);
  if (*action == "delete") return DeleteIndexAt(ctx, index);
  if (*action == "folder") return SetIndexFolder(ctx, index, body);
  return Refused(400, "unknown action " + *action);
}

ApiReply ChangeImageFolder(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  ApiReply edit = RequireEdit(ctx, caller);
  if (edit.status != 200) return edit;
  std::optional<std::string> action = TextOf(body, "action");
  const int index = IndexNumber(body);
  if (!action || index < 0) return Missing("an \"action\" (add, set, remove) and an \"index\"");
  if (*action == "add") return AddFolder(ctx, index, body);
  std::optional<int64_t> n = NumberOf(body, "folder");
  if (!n || *n < 0 || *n >= 32) return Missing("a \"folder\" position from 0 to 31");
  if (*action == "set") return SetFolder(ctx, index, static_cast<int>(*n), body);
  if (*action == "remove") return RemoveFolder(ctx, index, static_cast<int>(*n));
  return Refused(400, "unknown action " + *action);
}

ApiReply SuggestNetworkNames(ApiContext& ctx, const ApiParams& params) {
  auto it = params.find("path");
  if (it == params.end()) return Missing("a path");
  ApiReply r;
  r.body = Json{{"windows", ctx.host.namer ? ctx.host.namer->WindowsShareName(it->second) : ""},
                {"mac", ctx.host.namer ? ctx.host.namer->MacVolumeName(it->second) : ""}};
  return r;
}

ApiReply SetIndexOptions(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  ApiReply edit = RequireEdit(ctx, caller);
  if (edit.status != 200) return edit;
  const int index = IndexNumber(body);
  if (index < 0) return Missing("an \"index\" from 1 to 32");
  Configuration c = ctx.host.config->Copy();
  const IndexDefinition* def = IndexAt(c, index);
  if (!def) return Refused(404, "there is no such index");
  IndexDefinition changed = *def;
  std::string problem = ReadOptions(body, &changed);
  if (!problem.empty()) return Refused(422, problem);
  ctx.host.config->Update([&](Configuration& live) {
    if (IndexDefinition* d = MutableIndexAt(&live, index)) {
      d->mac_text = changed.mac_text;
      d->doc_info = changed.doc_info;
      d->empty_fields = changed.empty_fields;
      d->unused_threshold = changed.unused_threshold;
      d->optimize_hour = changed.optimize_hour;
      d->space_warning = changed.space_warning;
      d->space_limit_mb = changed.space_limit_mb;
      d->browse_limit_on = changed.browse_limit_on;
      d->browse_limit = changed.browse_limit;
      d->metadata_switches = changed.metadata_switches;
    }
  });
  return Saved(ctx);
}

ApiReply SetPdfOptions(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  ApiReply edit = RequireEdit(ctx, caller);
  if (edit.status != 200) return edit;
  PdfSettings pdf = ctx.host.config->Copy().pdf;
  if (auto v = TextOf(body, "folder")) {
    const std::string path = TrimSlashes(*v);
    if (!path.empty() && !ctx.host.fs->IsFolder(path)) {
      return Refused(422, path + " is not an existing folder");
    }
    pdf.folder = path;
  }
  if (auto v = TextOf(body, "mac_path")) pdf.mac_path = CutTo(*v, kMaxPathLength);
  if (auto v = TextOf(body, "win_path")) pdf.win_path = CutTo(*v, kMaxPathLength);
  for (auto [key, field] : {std::pair{"thumbnail_size", &pdf.thumbnail_size},
                            std::pair{"preview_size", &pdf.preview_size}}) {
    if (!body.contains(key)) continue;
    auto v = NumberOf(body, key);
    if (!v || *v < 100 || *v > 100000) {
      return Refused(422, std::string(key) + " must be a number of at least 100; it stays " +
                              std::to_string(*field));
    }
    *field = static_cast<uint32_t>(*v);
  }
  if (auto v = FlagOf(body, "leading_preview")) pdf.leading_preview = *v ? 3 : 1;
  Status s = ctx.host.config->Update([&](Configuration& c) { return SetPdfSettings(&c, pdf); });
  if (!s.ok()) return Refused(422, s.message());
  return Saved(ctx);
}

ApiReply SetLogOptions(ApiContext& ctx, const Json& body) {
  if (!body.is_object()) return Missing("a JSON object");
  Configuration c = ctx.host.config->Copy();
  uint32_t flags = c.log_flags;
  std::string folder = c.log_folder;
  const std::pair<const char*, uint32_t> bits[] = {
      {"use_file", kLogUseFile}, {"daily", kLogDaily}, {"new_files", kLogNewFiles},
      {"searches", kLogSearches}};
  for (auto [key, bit] : bits) {
    if (auto v = FlagOf(body, key)) flags = *v ? (flags | bit) : (flags & ~bit);
  }
  if (auto v = TextOf(body, "folder")) {
    folder = TrimSlashes(*v);
    if (!folder.empty() && !ctx.host.fs->IsFolder(folder)) {
      return Refused(422, folder + " is not an existing folder");
    }
    if (folder.size() > kMaxLogFolderLength) return Refused(422, "the log folder path is too long");
  }
  ctx.host.config->Update([&](Configuration& live) {
    SetLogFlags(&live, flags);
    (void)SetLogFolder(&live, folder);
  });
  ctx.host.log->SetOptions(flags, folder);
  ctx.host.requests->Push(TaskRequest{kRequestLogOptions, -1, flags});
  return Saved(ctx);
}

}  // namespace vantrel
