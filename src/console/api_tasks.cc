// Task requests, Exit and the server-side folder chooser of the console API.
#include <algorithm>

#include "console/console_api.h"
#include "core/text_table.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/task_control.h"

namespace vantrel {
namespace {

// The folder chooser is the edit session's, or anyone's while no edit
// password guards edit mode.
bool MayChooseFolders(ApiContext& ctx, const ApiCaller& caller) {
  return ctx.sessions.HoldsEdit(caller.session.id) || ctx.host.config->Copy().edit_password.empty();
}

bool PlainFolderName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

ApiReply RequestTask(ApiContext& ctx, const Json& body) {
  if (!body.is_object() || !body.contains("task") || !body["task"].is_string()) {
    return Refused(400, "the request needs a \"task\": rebuild, optimize or rescan");
  }
  const std::string task = body["task"].get<std::string>();
  int32_t index = -1;
  if (body.contains("index")) {
    if (!body["index"].is_number_integer() || body["index"].get<int64_t>() < 1 ||
        body["index"].get<int64_t>() > 32) {
      return Refused(400, "\"index\" counts from 1 to 32; leave it out for every index");
    }
    index = static_cast<int32_t>(body["index"].get<int64_t>() - 1);
  }
  uint32_t code = 0;
  if (task == "rebuild") code = kRequestRebuild;
  if (task == "optimize") code = kRequestOptimize;
  if (task == "rescan") code = kRequestRescan;
  if (code == 0) return Refused(400, "unknown task " + task + " (rebuild, optimize or rescan)");
  ctx.host.requests->Push(TaskRequest{code, index, 0});
  ctx.host.state->AddEvent("Console: " + task + " requested for " +
                           (index < 0 ? std::string("every index")
                                      : "index " + std::to_string(index + 1)));
  return ApiReply{};
}

ApiReply GetExitQuestion(ApiContext& ctx) {
  ApiReply r;
  r.body = Json{{"thumbnails_queued", ctx.host.task->QueuedThumbnails()}};
  return r;
}

ApiReply RequestExit(ApiContext& ctx, const Json& body) {
  if (body.is_object() && body.contains("wait_for_thumbnails")) {
    if (!body["wait_for_thumbnails"].is_boolean()) {
      return Refused(400, "\"wait_for_thumbnails\" is true or false");
    }
    ctx.host.task->AnswerThumbnailQuestion(body["wait_for_thumbnails"].get<bool>());
  }
  ctx.host.signals->RequestStop();
  return ApiReply{};
}

ApiReply ListServerFolder(ApiContext& ctx, const ApiCaller& caller, const ApiParams& params) {
  if (!MayChooseFolders(ctx, caller)) {
    return Refused(403, "the folder chooser needs edit mode");
  }
  auto it = params.find("path");
  std::string path = it == params.end() || it->second.empty() ? "/" : it->second;
  if (path[0] != '/') return Refused(400, "the path must be absolute");
  if (!ctx.host.fs->IsFolder(path)) return Refused(404, path + " is not an existing folder");
  StatusOr<std::vector<FolderEntry>> entries = ctx.host.fs->ListFolder(path);
  if (!entries.ok()) return Refused(403, "cannot list " + path + ": " + entries.status().message());
  std::vector<std::string> folders;
  for (const FolderEntry& e : *entries) {
    // Links are never followed; hidden folders are not shown.
    if (e.is_folder && !e.is_link && !e.hidden) folders.push_back(e.name);
  }
  std::sort(folders.begin(), folders.end());
  std::string parent = path.substr(0, path.find_last_of('/'));
  if (parent.empty()) parent = "/";
  ApiReply r;
  r.body = Json{{"path", path}, {"parent", parent}, {"folders", folders}};
  return r;
}

ApiReply CreateServerFolder(ApiContext& ctx, const ApiCaller& caller, const Json& body) {
  if (!MayChooseFolders(ctx, caller)) {
    return Refused(403, "creating a folder needs edit mode");
  }
  if (!body.is_object() || !body.contains("parent") || !body["parent"].is_string() ||
      !body.contains("name") || !body["name"].is_string()) {
    return Refused(400, "the request needs a \"parent\" folder and a \"name\"");
  }
  const std::string parent = body["parent"].get<std::string>();
  const std::string name = body["name"].get<std::string>();
  if (parent.empty() || parent[0] != '/' || !ctx.host.fs->IsFolder(parent)) {
    return Refused(422, parent + " is not an existing folder");
  }
  if (!PlainFolderName(name)) return Refused(422, "\"" + name + "\" is not a plain folder name");
  const std::string path = (parent == "/" ? "" : parent) + "/" + name;
  if (ctx.host.fs->Exists(path)) return Refused(409, path + " exists already");
  Status s = ctx.host.fs->CreateFolders(path);
  if (!s.ok()) return Refused(422, "cannot create " + path + ": " + s.message());
  ApiReply r;
  r.body = Json{{"path", path}};
  return r;
}

}  // namespace vantrel
