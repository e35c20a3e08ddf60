// Status, event log, statistics and texts of the console API.
#include <chrono>
#include <cmath>
#include <span>

#include "console/console_api.h"
#include "console/console_texts.h"
#include "core/config_file.h"
#include "core/event_log.h"
#include "core/index_statistics.h"
#include "core/text_table.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "search/search_statistics.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/progress_board.h"
#include "server/task_control.h"

namespace vantrel {
namespace {

uint32_t Word(std::string_view r, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(r[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(r[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(r[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(r[at + 3])) << 24;
}

std::string PathField(std::string_view r, size_t at) {
  std::string_view field = r.substr(at, 256);
  return std::string(field.substr(0, field.find('\0')));
}

// The figures of an index statistics record; zeros for a record that is
// missing or not of the record's size.
IndexStatistics DecodeStatisticsRecord(std::string_view r) {
  IndexStatistics s;
  if (r.size() != 544) return s;
  s.file_count = Word(r, 0);
  s.unused_documents = static_cast<int32_t>(Word(r, 4));
  s.folder_count = Word(r, 8);
  s.engine_documents = Word(r, 12);
  s.newest_path = PathField(r, 20);
  s.oldest_path = PathField(r, 276);
  s.newest_time = Word(r, 532);
  s.oldest_time = Word(r, 536);
  s.index_number = static_cast<int32_t>(Word(r, 540));
  return s;
}

std::vector<IndexContent> ContentsOf(const Configuration& config, const ConsoleSnapshot& snap) {
  std::vector<IndexContent> out;
  for (int i = 0; i < IndexCount(config); ++i) {
    IndexStatistics s =
        DecodeStatisticsRecord(static_cast<size_t>(i) < snap.statistics.size()
                                   ? std::string_view(snap.statistics[i])
                                   : std::string_view());
    IndexContent c;
    c.active = config.indexes[i].active != 0;
    c.image_folders = CountImageFolders(config, i);
    c.files = s.file_count;
    c.unused = s.unused_documents;
    c.sub_folders = s.folder_count;
    c.words = s.engine_documents;
    out.push_back(c);
  }
  return out;
}

std::string StampText(uint32_t stamp) {
  if (stamp == 0) return "";
  int64_t unix = UnixFromFileTimeStamp(stamp);
  return ShortDate(unix) + " " + TimeText(unix);
}

Json Line(TextId label, const std::string& value) {
  return Json{{"label", Text(label)}, {"value", value}};
}

Json EditJson(ApiContext& ctx, const ApiCaller& caller) {
  std::optional<ConsoleSessions::EditHolder> holder = ctx.sessions.edit_holder();
  Json edit{{"on", holder.has_value()},
            {"mine", holder && holder->id == caller.session.id},
            {"holder", holder ? holder->label : ""},
            {"since", holder ? ShortDate(holder->since_unix) + " " + TimeText(holder->since_unix)
                             : ""}};
  return edit;
}

const char* WorkName(WorkKind kind) {
  switch (kind) {
    case WorkKind::kRebuild:
      return "rebuild";
    case WorkKind::kRescan:
      return "rescan";
    default:
      return "catch-up";
  }
}

}  // namespace

ApiReply Refused(int status, const std::string& message) {
  ApiReply r;
  r.status = status;
  r.body = Json{{"error", message}};
  return r;
}

int64_t ApiContext::SteadyNow() const {
  if (steady_seconds) return steady_seconds();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t ApiContext::UnixNow() const { return unix_seconds ? unix_seconds() : NowUnix(); }

ApiReply GetSession(ApiContext& ctx, const ApiCaller& caller) {
  ApiReply r;
  r.body = Json{{"csrf", caller.session.csrf},
                {"label", caller.session.label},
                {"edit", EditJson(ctx, caller)}};
  return r;
}

ApiReply GetTexts() {
  ApiReply r;
  r.body = ConsoleTextsJson();
  return r;
}

ApiReply GetStatus(ApiContext& ctx, const ApiCaller& caller) {
  ConsoleSnapshot snap = ctx.host.state->Snapshot();
  Configuration config = ctx.host.config->Copy();
  std::vector<IndexContent> contents = ContentsOf(config, snap);
  ContentTotals totals = ComputeContentTotals(contents, -1);
  ApiReply r;
  r.body = Json{
      {"version", snap.version},
      {"activity",
       Json::array({Line(TextId::IDS_ACTIVITY, snap.operation),
                    Line(TextId::IDS_LASTSCAN, snap.last_folder),
                    Line(TextId::IDS_LASTINDEX, snap.last_file),
                    Line(TextId::IDS_LASTSEARCH, snap.last_search)})},
      {"totals", Json::array({Line(TextId::IDS_DISKS, DisksLine(totals)),
                              Line(TextId::IDS_DATABASE, TotalDatabaseLine(totals)),
                              Line(TextId::IDS_MEMORY,
                                   MemoryLine(ReadMemoryFigures(ctx.host.fs)))})},
      {"task_paused", ctx.host.task->paused()},
      {"edit", EditJson(ctx, caller)},
      {"events_added", snap.events_added},
      {"events_cleared", snap.events_cleared},
      {"defaults_used_since_damaged", snap.defaults_used_since_damaged}};
  Json notices = Json::array();
  for (const Notice& n : snap.notices) notices.push_back({{"caption", n.caption}, {"text", n.text}});
  r.body["notices"] = notices;
  return r;
}

ApiReply GetEvents(ApiContext& ctx, size_t last) {
  ConsoleSnapshot snap = ctx.host.state->Snapshot();
  std::vector<std::string> lines = ctx.host.log->Lines();
  if (last > 0 && lines.size() > last) lines.erase(lines.begin(), lines.end() - last);
  ApiReply r;
  r.body = Json{{"lines", lines},
                {"events_added", snap.events_added},
                {"events_cleared", snap.events_cleared}};
  return r;
}

ApiReply ClearEvents(ApiContext& ctx) {
  ctx.host.state->ClearEvents();
  return ApiReply{};
}

ApiReply GetStatistics(ApiContext& ctx) {
  ConsoleSnapshot snap = ctx.host.state->Snapshot();
  Configuration config = ctx.host.config->Copy();
  std::vector<IndexContent> contents = ContentsOf(config, snap);
  Json indexes = Json::array();
  for (int i = 0; i < IndexCount(config); ++i) {
    const IndexDefinition& def = config.indexes[i];
    IndexStatistics s =
        DecodeStatisticsRecord(static_cast<size_t>(i) < snap.statistics.size()
                                   ? std::string_view(snap.statistics[i])
                                   : std::string_view());
    // The lines count the index even when it is stopped.
    IndexContent own = contents[i];
    own.active = true;
    ContentTotals totals = ComputeContentTotals(std::span<const IndexContent>(&own, 1), 0);
    indexes.push_back(Json{
        {"number", i + 1},
        {"name", def.name},
        {"folder", def.index_folder},
        {"active", def.active != 0},
        {"title", StatisticsTitle(def.name)},
        {"lines",
         Json::array({Line(TextId::IDS_DISKS, DisksLine(totals)),
                      Line(TextId::IDS_DATABASE, IndexDatabaseLine(totals)),
                      Line(TextId::IDS_SEARCHDATA,
                           SearchLoadLine(ComputeSearchLoad(def.statistics))),
                      Line(TextId::IDS_NEWESTFILE, s.newest_path + "  " + StampText(s.newest_time)),
                      Line(TextId::IDS_OLDESTFILE,
                           s.oldest_path + "  " + StampText(s.oldest_time))})}});
  }
  ApiReply r;
  r.body = Json{{"title", Text(TextId::IDS_INDEXLIST)}, {"indexes", indexes}};
  return r;
}

ApiReply ClearStatistics(ApiContext& ctx, const Json& body) {
  if (!body.is_object() || !body.contains("index") || !body["index"].is_number_integer()) {
    return Refused(400, "clearing statistics needs {\"index\": N} (N counted from 1)");
  }
  const int index = body["index"].get<int>() - 1;
  bool found = ctx.host.config->Update([&](Configuration& c) {
    IndexDefinition* def = MutableIndexAt(&c, index);
    if (!def) return false;
    def->statistics = SearchStatistics{};
    return true;
  });
  if (!found) return Refused(404, "there is no index " + std::to_string(index + 1));
  SaveOrSay(*ctx.host.config, *ctx.host.state);
  return ApiReply{};
}

}  // namespace vantrel

namespace vantrel {

ApiReply GetProgress(ApiContext& ctx) {
  Json running = Json::array();
  if (ctx.host.progress != nullptr) {
    Configuration config = ctx.host.config->Copy();
    for (const ProgressView& v : ctx.host.progress->Running()) {
      Json item{{"index", v.index + 1},
                {"name", v.index < IndexCount(config) ? config.indexes[v.index].name : ""},
                {"operation", WorkName(v.kind)},
                {"done", v.done},
                {"total", nullptr},
                {"rate", std::round(v.rate * 10) / 10},
                {"seconds_left", nullptr},
                {"started", v.started_unix}};
      if (v.total >= 0) item["total"] = v.total;
      if (v.seconds_left >= 0) item["seconds_left"] = v.seconds_left;
      running.push_back(std::move(item));
    }
  }
  ApiReply r;
  r.body = Json{{"running", running}};
  return r;
}

}  // namespace vantrel
