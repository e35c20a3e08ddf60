// vantrelctl config show: every setting and index, as text or JSON.

#include <cstdio>
#include <string>

#include "metadata/metadata_switches.h"
#include "nlohmann/json.hpp"
#include "search/search_statistics.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"

namespace vantrel {
namespace {

constexpr char kHelp[] =
    "Usage: vantrelctl [--dir DIR] config show [--json]\n"
    "\n"
    "Prints the server settings, every index with its options (the OPTION names\n"
    "that \"index set\" takes) and its image folders with their folder numbers.\n"
    "The edit password itself is never printed, only whether one is set.\n"
    "  --json   print one JSON object instead of text\n";

const char* EmptyFieldsText(uint32_t v) {
  switch (v) {
    case 0:
      return "Do not Index Empty Fields";
    case 1:
      return "Index The Most Common Empty Fields";
    case 2:
      return "Index All Empty Fields";
    default:
      return "unknown";
  }
}

std::string HourText(uint32_t hour) {
  char buf[32];
  std::snprintf(buf, sizeof buf, hour < 10 ? "0%u:00" : "%u:00", hour);
  return hour == 24 ? std::string("24:00, never") : std::string(buf);
}

std::string OrNone(const std::string& s) { return s.empty() ? "(none)" : s; }
const char* OnOff(bool b) { return b ? "on" : "off"; }

nlohmann::json FolderJson(int slot, const ImageFolderEntry& e) {
  return {{"number", slot},
          {"path", e.path},
          {"windows_share", e.windows_share},
          {"mac_volume", e.mac_volume},
          {"include_subfolders", e.include_subfolders != 0},
          {"offline", slot == 0}};
}

// `engine_failures`: the count of the index's side file (search_statistics.h).
nlohmann::json MetadataSwitchesJson(uint32_t stored_bits) {
  const MetadataSwitches s = MetadataSwitches::FromStoredBits(stored_bits);
  return {{"xmp", s.xmp},
          {"charset", s.iim_charset},
          {"dimensions", s.header_dimensions},
          {"dates", s.capture_date}};
}

nlohmann::json IndexJson(int number, const IndexDefinition& d, uint32_t engine_failures) {
  nlohmann::json folders = nlohmann::json::array();
  for (int s = 0; s < config_layout::kImageFolderSlots; ++s) {
    if (d.image_folders[s].used()) folders.push_back(FolderJson(s, d.image_folders[s]));
  }
  return {{"number", number},
          {"name", d.name},
          {"folder", d.index_folder},
          {"active", d.active != 0},
          {"mac-text", d.mac_text},
          {"docinfo", d.doc_info},
          {"empty-fields", d.empty_fields},
          {"metadata", MetadataSwitchesJson(d.metadata_switches)},
          {"optimize-hour", d.optimize_hour},
          {"unused-threshold", d.unused_threshold},
          {"space-warning", d.space_warning},
          {"space-limit", d.space_limit_mb},
          {"browse-limit-on", d.browse_limit_on},
          {"browse-limit", d.browse_limit},
          {"documents", d.document_count},
          {"statistics",
           {{"searches", d.statistics.searches},
            {"hits", d.statistics.hits},
            {"seconds", d.statistics.seconds},
            {"days", d.statistics.days},
            {"last_day", d.statistics.last_day},
            {"engine_failures", engine_failures}}},
          {"image_folders", folders}};
}

nlohmann::json ConfigJson(FileSystem* fs, const std::string& path, bool found,
                          const Configuration& c) {
  nlohmann::json indexes = nlohmann::json::array();
  for (size_t i = 0; i < c.indexes.size(); ++i) {
    indexes.push_back(IndexJson(static_cast<int>(i), c.indexes[i],
                                ReadEngineFailures(fs, c.indexes[i].index_folder)));
  }
  return {{"file", path},
          {"file_found", found},
          {"magic", c.magic},
          {"edit_password_set", !c.edit_password.empty()},
          {"log",
           {{"flags", c.log_flags},
            {"use_log", (c.log_flags & kLogUseFile) != 0},
            {"daily", (c.log_flags & kLogDaily) != 0},
            {"log_new_files", (c.log_flags & kLogNewFiles) != 0},
            {"log_searches", (c.log_flags & kLogSearches) != 0},
            {"folder", c.log_folder}}},
          {"pdf",
           {{"folder", c.pdf.folder},
            {"win_path", c.pdf.win_path},
            {"mac_path", c.pdf.mac_path},
            {"thumbnail_size", c.pdf.thumbnail_size},
            {"preview_size", c.pdf.preview_size},
            {"leading_preview", c.pdf.leading_preview == 3}}},
          {"event_lines", c.event_lines},
          {"indexes", indexes}};
}

void PrintText(std::ostream& o, FileSystem* fs, const std::string& path, bool found,
               const Configuration& c) {
  o << "Configuration file: " << path << (found ? "" : " (not there yet: defaults)") << "\n";
  o << "Edit password:      " << (c.edit_password.empty() ? "not set" : "set") << "\n";
  o << "Log file:           " << OnOff(c.log_flags & kLogUseFile) << ", new file every "
    << ((c.log_flags & kLogDaily) ? "day" : "week") << ", log new files "
    << OnOff(c.log_flags & kLogNewFiles) << ", log searches " << OnOff(c.log_flags & kLogSearches)
    << "\n";
  o << "Log folder:         " << OrNone(c.log_folder) << "\n";
  o << "PDF folder:         " << OrNone(c.pdf.folder) << "\n";
  o << "  Windows path:     " << OrNone(c.pdf.win_path) << "\n";
  o << "  Macintosh path:   " << OrNone(c.pdf.mac_path) << "\n";
  o << "  thumbnail size " << c.pdf.thumbnail_size << ", preview size " << c.pdf.preview_size
    << ", preview of leading pages " << OnOff(c.pdf.leading_preview == 3) << "\n";
  o << "Event list:         " << c.event_lines.size() << " lines\n";
  o << "Indexes:            " << c.indexes.size() << "\n";
  for (size_t i = 0; i < c.indexes.size(); ++i) {
    const IndexDefinition& d = c.indexes[i];
    o << "\nIndex " << i << ": " << d.name << "  " << (d.active ? "*ACTIVE*" : "STOPPED") << "\n";
    o << "  folder             " << d.index_folder << "\n";
    o << "  mac-text           " << d.mac_text << "\n";
    o << "  docinfo            " << d.doc_info << "\n";
    o << "  empty-fields       " << d.empty_fields << " (" << EmptyFieldsText(d.empty_fields)
      << ")\n";
    o << "  metadata           " << MetadataSwitchesText(d.metadata_switches) << "\n";
    o << "  optimize-hour      " << d.optimize_hour << " (" << HourText(d.optimize_hour) << ")\n";
    o << "  unused-threshold   " << d.unused_threshold << "\n";
    o << "  space-warning      " << d.space_warning << "\n";
    o << "  space-limit        " << d.space_limit_mb << " MB\n";
    o << "  browse-limit-on    " << d.browse_limit_on << "\n";
    o << "  browse-limit       " << d.browse_limit << "\n";
    o << "  documents          " << d.document_count << "\n";
    o << "  searches           " << d.statistics.searches << " (" << d.statistics.hits << " hits, "
      << d.statistics.seconds << " s, on " << d.statistics.days << " days)\n";
    o << "  engine failures    " << ReadEngineFailures(fs, d.index_folder) << "\n";
    o << "  image folders:\n";
    for (int s = 0; s < config_layout::kImageFolderSlots; ++s) {
      const ImageFolderEntry& e = d.image_folders[s];
      if (!e.used()) continue;
      char num[8];
      std::snprintf(num, sizeof num, "%02i", s);
      o << "    " << num << "  " << e.path << (s == 0 ? "  (offline folder)" : "")
        << (e.include_subfolders ? "" : "  (no subfolders)") << "\n";
      o << "        Windows: " << OrNone(e.windows_share)
        << "   Macintosh: " << OrNone(e.mac_volume) << "\n";
    }
  }
}

}  // namespace

int CmdConfigShow(const CtlCall& call, const CtlEnv& env) {
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {"--json"});
  if (!args.ok()) return UsageError(env, "config show", args.status().message());
  if (args->help) {
    *env.out << kHelp;
    return kCtlOk;
  }
  if (!args->positional.empty()) {
    return UsageError(env, "config show", "unexpected argument \"" + args->positional[0] + "\"");
  }
  std::string path = ConfigPathIn(call.dir);
  bool found = env.fs->Exists(path);
  std::optional<Configuration> config = ReadConfig(env, call.dir);
  if (!config) return kCtlFailed;
  if (args->Has("--json")) {
    // Texts are bytes of the file; anything that is not UTF-8 is shown as U+FFFD.
    *env.out << ConfigJson(env.fs, path, found, *config)
                    .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
             << "\n";
  } else {
    PrintText(*env.out, env.fs, path, found, *config);
  }
  return kCtlOk;
}

}  // namespace vantrel
