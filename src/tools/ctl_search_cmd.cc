// vantrelctl search: searches an index as a client program does, through a
// request file in the index's search folder and the hit file the server
// writes beside it (ctl_search_exchange.h does the file exchange).

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/config_file.h"
#include "nlohmann/json.hpp"
#include "platform/code_page.h"
#include "platform/file_time.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "search/request_file.h"
#include "search/request_names.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"
#include "tools/ctl_search_exchange.h"

namespace vantrel {
namespace {

constexpr char kCmd[] = "search";

constexpr char kHelp[] =
    "Usage: vantrelctl search INDEX-FOLDER \"QUERY\" [OPTIONS]\n"
    "       vantrelctl search INDEX-FOLDER --raw ENGINE-QUERY [--sort ORDER] [OPTIONS]\n"
    "\n"
    "Searches an index the way a client program does: writes a request file into\n"
    "INDEX-FOLDER/VT_SEARCH, waits for the server's hit file, prints the hits and\n"
    "removes the files it made. One line per hit, fields separated by tabs: file\n"
    "key, date (UTC), type code, full path (empty when unknown). Full paths come\n"
    "from the index's image folders in the configuration file of DIR (or\n"
    "--config FILE); without it only keys are shown. An empty QUERY lists the\n"
    "files that pass the date filter, newest first. A summary goes to standard\n"
    "error.\n"
    "\n"
    "  --field F           search one field only: keywords, category, name (file\n"
    "                      name) or path (folder path)\n"
    "  --exact             no automatic truncation mark: words match whole\n"
    "  --or TERM           hits of QUERY or of TERM\n"
    "  --and-not TERM      hits of QUERY that do not match TERM\n"
    "  --since PERIOD      only files stamped within the last hour, day, week or\n"
    "                      month (30 days)\n"
    "  --before PERIOD     only files stamped before the last hour, day, ...\n"
    "  --limit N           at most N hits (default 2000; 0: no limit)\n"
    "  --by-name           hits by file name (default: newest first)\n"
    "  --merge HITFILE     add the hits of an earlier hit file of the same search\n"
    "                      folder (see --keep)\n"
    "  --restrict HITFILE  keep only hits that stand in an earlier hit file\n"
    "  --raw ENGINE-QUERY  pass a query in the engine's language through unchanged\n"
    "  --sort ORDER        order of a --raw search: time (default), name, relevance\n"
    "  --keep              leave the hit file in the search folder, print its name\n"
    "  --json              print one JSON object\n"
    "  --timeout SECONDS   give up after this long (default 30; decimals allowed)\n"
    "  --config FILE       the configuration file that names the image folders\n"
    "\n"
    "Request written: a short-form search request (520 bytes) when QUERY and TERM\n"
    "fit in 63 characters each, at most one of --merge and --restrict is given\n"
    "and the limit is at most 2000; otherwise the long form (QUERY up to 127\n"
    "characters, written as \"QUERY OR TERM\" or \"QUERY AND NOT TERM\", --exact as\n"
    "option bit 0, the limit rounded up to thousands). --raw writes a query\n"
    "request (.QRY) with option bits 0x10 (every hit), the sort order, the limit\n"
    "and the lists, and shows the server's progress on standard error.\n"
    "\n"
    "Exit status: 0 hits found; 1 no hits; 2 bad arguments, error or time-out.\n";

constexpr int kExitHits = 0;
constexpr int kExitNoHits = 1;
constexpr int kExitError = 2;
constexpr uint32_t kDefaultLimit = 2000;
constexpr uint32_t kShortFormLimit = 2000;
constexpr uint32_t kQueryOptionEveryHit = 0x10;

int Fail(const CtlEnv& env, const std::string& message) {
  *env.err << "error: " << message << "\n";
  return kExitError;
}

std::optional<uint8_t> FieldSelector(const std::string& name) {
  if (name == "keywords") return kFieldKeywords;
  if (name == "category") return kFieldCategory;
  if (name == "name") return kFieldFileName;
  if (name == "path") return kFieldFolderPath;
  return std::nullopt;
}

std::optional<uint8_t> DatePeriod(const std::string& name) {
  if (name == "hour") return 0;
  if (name == "day") return 1;
  if (name == "week") return 2;
  if (name == "month") return 3;
  return std::nullopt;
}

std::optional<uint32_t> SortOrder(const std::string& name) {
  if (name == "time") return 1;
  if (name == "name") return 2;
  if (name == "relevance") return 3;
  return std::nullopt;
}

// Seconds as "30", "0.5": digits with an optional fraction, above zero, at
// most a day.
std::optional<std::chrono::milliseconds> ParseTimeout(const std::string& text) {
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 5 || fraction.size() > 3) return std::nullopt;
  if (dot != std::string::npos && fraction.empty()) return std::nullopt;
  for (char c : whole + fraction) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  long ms = std::stol(whole) * 1000;
  if (!fraction.empty()) ms += std::stol((fraction + "00").substr(0, 3));
  if (ms <= 0 || ms > 86'400'000) return std::nullopt;
  return std::chrono::milliseconds(ms);
}

// A merge or restrict file as the request names it: a plain name, or a path
// of a file directly in the search folder. Code-page text.
std::optional<std::string> ListName(const std::string& arg, const std::string& current_dir,
                                    const std::string& search_folder, const CodePage& cp) {
  std::string name = arg;
  if (arg.find('/') != std::string::npos) {
    std::optional<std::string> path = ResolvePath(current_dir, arg);
    if (!path || std::string(FolderPart(*path)) != search_folder) return std::nullopt;
    name = std::string(LastComponent(*path));
  }
  std::string coded = cp.FromUtf8(name);
  if (!IsPlainListFileName(coded) || coded.size() >= kFileNameSlotSize) return std::nullopt;
  return coded;
}

// The four characters of a type code, highest byte first; "" for zero and
// '?' for bytes that are not printable ASCII.
std::string TypeText(uint32_t type) {
  if (type == 0) return "";
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    unsigned char c = static_cast<unsigned char>(type >> shift);
    s.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return s;
}

// Control characters (a newline in a file name) would break the lines of the
// text output; they are shown as '?'.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

// Turns file keys into full paths through the image folders of the index
// whose folder is `index_folder`, as far as the configuration names them.
class PathFinder {
 public:
  PathFinder(FileSystem* fs, const CodePage& cp) : fs_(fs), cp_(cp) {}

  // Reads the configuration file; warns on `err` when it names no such index
  // or cannot be read (keys alone are shown then).
  void Load(const CtlEnv& env, const std::string& config_path, bool explicit_path,
            const std::string& index_folder) {
    if (!fs_->Exists(config_path)) {
      if (explicit_path) {
        *env.err << "warning: no configuration file " << config_path << "; keys only\n";
      }
      return;
    }
    ConfigLoad load = LoadConfiguration(*fs_, config_path, *env.namer);
    if (!load.status.ok()) {
      *env.err << "warning: cannot read " << config_path << " (" << load.status.message()
               << "); keys only\n";
      return;
    }
    for (const IndexDefinition& def : load.config.indexes) {
      std::optional<std::string> folder = NormalizeAbsolutePath(def.index_folder);
      if (folder && *folder == index_folder) {
        def_ = def;
        return;
      }
    }
    *env.err << "warning: " << config_path << " defines no index in " << index_folder
             << "; keys only\n";
  }

  // The full path of `key`, empty when unknown.
  std::string PathOf(const std::string& key) const {
    if (!def_ || key.size() < 2 || key[0] < '0' || key[0] > '9' || key[1] < '0' || key[1] > '9') {
      return "";
    }
    int slot = (key[0] - '0') * 10 + (key[1] - '0');
    if (slot >= config_layout::kImageFolderSlots || !def_->image_folders[slot].used()) return "";
    const std::string& root = def_->image_folders[slot].path;
    std::string_view relative = std::string_view(key).substr(2);
    if (relative.empty()) return root;
    std::string direct = JoinNative(root, KeyToNative(cp_.ToUtf8(relative)));
    if (fs_->Exists(direct)) return direct;
    StatusOr<std::string> found = ResolveKeyPath(fs_, cp_, root, relative);
    return found.ok() ? *found : direct;
  }

 private:
  FileSystem* fs_;
  const CodePage& cp_;
  std::optional<IndexDefinition> def_;
};

struct Plan {
  std::string extension;  // ".REQ" or ".QRY"
  std::string form;       // "short", "long", "query"
  std::string bytes;
  uint32_t print_limit = 0;  // 0: all
};

// Builds the request from the parsed options; a usage message on failure.
std::variant<Plan, std::string> BuildPlan(const ParsedArgs& a, const std::string& current_dir,
                                          const std::string& search_folder, const CodePage& cp) {
  const bool raw = a.Option("--raw") != nullptr;
  if (a.positional.size() != (raw ? 1u : 2u)) {
    return std::string(raw ? "give INDEX-FOLDER and --raw ENGINE-QUERY, no QUERY"
                           : "give INDEX-FOLDER and QUERY");
  }
  if (a.Option("--or") && a.Option("--and-not")) return std::string("give --or or --and-not");
  if (a.Option("--since") && a.Option("--before")) return std::string("give --since or --before");

  Plan plan;
  // The encoded request, or the encoder's reason as the usage message.
  auto encoded = [&plan](StatusOr<std::string> bytes, const char* extension,
                         const char* form) -> std::variant<Plan, std::string> {
    if (!bytes.ok()) return bytes.status().message();
    plan.extension = extension;
    plan.form = form;
    plan.bytes = std::move(*bytes);
    return plan;
  };
  std::optional<uint32_t> limit;
  if (const std::string* v = a.Option("--limit")) {
    limit = ParseStrictUint32(*v);
    if (!limit) return "--limit needs a number, not \"" + *v + "\"";
    plan.print_limit = *limit;
  }
  std::string merge, restrict;
  for (auto [option, target] : {std::pair{"--merge", &merge}, {"--restrict", & restrict}}) {
    if (const std::string* v = a.Option(option)) {
      std::optional<std::string> name = ListName(*v, current_dir, search_folder, cp);
      if (!name) {
        return std::string(option) + " needs the name of a hit file in " + search_folder +
               ", not \"" + *v + "\"";
      }
      *target = *name;
    }
  }

  if (raw) {
    for (const char* o : {"--field", "--or", "--and-not", "--since", "--before"}) {
      if (a.Option(o)) return std::string(o) + " cannot be used with --raw";
    }
    if (a.Has("--exact")) return std::string("--exact cannot be used with --raw");
    QueryRequest q;
    q.query_text = cp.FromUtf8(*a.Option("--raw"));
    if (q.query_text.empty()) return std::string("--raw needs a query");
    q.option_bits = kQueryOptionEveryHit;
    q.hit_limit = limit.value_or(kDefaultLimit);
    q.sort_order = 1;
    if (const std::string* s = a.Option("--sort")) {
      std::optional<uint32_t> order = SortOrder(*s);
      if (!order) return "--sort needs time, name or relevance, not \"" + *s + "\"";
      q.sort_order = *order;
    }
    if (a.Has("--by-name")) {
      if (a.Option("--sort") && q.sort_order != 2) {
        return std::string("--by-name contradicts --sort");
      }
      q.sort_order = 2;
    }
    q.merge_file = merge;
    q.restrict_file = restrict;
    q.list_options = static_cast<uint8_t>((merge.empty() ? 0 : 1) | (restrict.empty() ? 0 : 2));
    return encoded(EncodeQueryRequest(q), ".QRY", "query");
  }
  if (a.Option("--sort")) return std::string("--sort goes with --raw");

  uint8_t field = kFieldAllText;
  if (const std::string* v = a.Option("--field")) {
    std::optional<uint8_t> f = FieldSelector(*v);
    if (!f) return "--field needs keywords, category, name or path, not \"" + *v + "\"";
    field = *f;
  }
  uint8_t date_mode = 0, date_period = 0;
  for (auto [option, mode] : {std::pair{"--since", 1}, {"--before", 2}}) {
    if (const std::string* v = a.Option(option)) {
      std::optional<uint8_t> p = DatePeriod(*v);
      if (!p) return std::string(option) + " needs hour, day, week or month, not \"" + *v + "\"";
      date_mode = static_cast<uint8_t>(mode);
      date_period = *p;
    }
  }
  const std::string query = cp.FromUtf8(a.positional[1]);
  std::string term;
  uint8_t op = 0;
  if (const std::string* v = a.Option("--or")) {
    term = cp.FromUtf8(*v);
    op = 1;
  } else if (const std::string* v2 = a.Option("--and-not")) {
    term = cp.FromUtf8(*v2);
    op = 2;
  }
  if (a.Option("--or") || a.Option("--and-not")) {
    if (term.empty()) return std::string("--or and --and-not need a term");
    if (query.empty()) return std::string("--or and --and-not need a QUERY");
  }

  const bool short_fits = query.size() < kTermSlotSize && term.size() < kTermSlotSize &&
                          (merge.empty() || restrict.empty()) &&
                          (!limit || (*limit != 0 && *limit <= kShortFormLimit));
  if (short_fits) {
    ShortSearchRequest s;
    s.first_term = query;
    s.second_term = term;
    s.operator_code = op;
    s.field_selector = field;
    s.date_mode = date_mode;
    s.date_period = date_period;
    s.exact = a.Has("--exact") ? 1 : 0;
    s.name_order_flag = a.Has("--by-name") ? 1 : 0;
    s.list_file = merge.empty() ? restrict : merge;
    s.merge_flag = merge.empty() ? 0 : 1;
    s.restrict_flag = restrict.empty() ? 0 : 1;
    return encoded(EncodeShortSearchRequest(s), ".REQ", "short");
  }

  LongSearchRequest l;
  l.query_text = query;
  if (op == 1) l.query_text += " OR " + term;
  if (op == 2) l.query_text += " AND NOT " + term;
  if (l.query_text.size() >= kQueryTextSlotSize) {
    return "the query is " + std::to_string(l.query_text.size()) + " characters long; at most " +
           std::to_string(kQueryTextSlotSize - 1) + " fit in a search request (see --raw)";
  }
  l.field_selector = field;
  l.date_mode = date_mode;
  l.date_period = date_period;
  l.options = a.Has("--exact") ? 1 : 0;
  l.name_order_flag = a.Has("--by-name") ? 1 : 0;
  l.merge_file = merge;
  l.merge_flag = merge.empty() ? 0 : 1;
  l.restrict_file = restrict;
  l.restrict_flag = restrict.empty() ? 0 : 1;
  uint32_t wanted = limit.value_or(kDefaultLimit);
  uint32_t thousands = wanted / 1000 + (wanted % 1000 != 0 ? 1 : 0);
  l.hit_limit_thousands = static_cast<uint8_t>(thousands > 255 ? 0 : thousands);
  return encoded(EncodeLongSearchRequest(l), ".REQ", "long");
}

// The answer's first `shown` hits as one JSON document.
void PrintJson(const CtlEnv& env, const ExchangeResult& answer, size_t shown,
               const std::string& form, const std::string& index_folder, bool kept,
               const PathFinder& paths, const CodePage& cp) {
  const std::vector<HitRecord>& records = answer.hits.records;
  nlohmann::json hits = nlohmann::json::array();
  for (size_t i = 0; i < shown; ++i) {
    const HitRecord& r = records[i];
    std::string path = paths.PathOf(r.key);
    hits.push_back({{"key", cp.ToUtf8(r.key)},
                    {"time", r.time},
                    {"date_utc", UtcStampText(r.time)},
                    {"type", TypeText(r.type)},
                    {"entry", r.entry},
                    {"path", path.empty() ? nlohmann::json(nullptr) : nlohmann::json(path)}});
  }
  nlohmann::json out = {{"index_folder", index_folder},
                        {"request", cp.ToUtf8(answer.request_name)},
                        {"form", form},
                        {"found", answer.hits.found},
                        {"records", records.size()},
                        {"hits", hits}};
  if (kept) out["hit_file"] = cp.ToUtf8(answer.hit_name);
  *env.out << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// The first `shown` hits, a line each: key, date, type, path.
void PrintLines(const CtlEnv& env, const std::vector<HitRecord>& records, size_t shown,
                const PathFinder& paths, const CodePage& cp) {
  for (size_t i = 0; i < shown; ++i) {
    const HitRecord& r = records[i];
    *env.out << Printable(cp.ToUtf8(r.key)) << "\t" << UtcStampText(r.time) << "\t"
             << TypeText(r.type) << "\t" << Printable(paths.PathOf(r.key)) << "\n";
  }
}

}  // namespace

int CmdSearch(const CtlCall& call, const CtlEnv& env) {
  StatusOr<ParsedArgs> parsed =
      ParseArgs(call.args,
                {"--field", "--or", "--and-not", "--since", "--before", "--limit", "--merge",
                 "--restrict", "--raw", "--sort", "--timeout", "--config"},
                {"--exact", "--by-name", "--json", "--keep"});
  if (!parsed.ok()) return UsageError(env, kCmd, parsed.status().message());
  const ParsedArgs& a = *parsed;
  if (a.help) {
    *env.out << kHelp;
    return kCtlOk;
  }
  if (a.positional.empty()) return UsageError(env, kCmd, "give INDEX-FOLDER");
  std::optional<std::string> index_folder = ResolvePath(env.current_dir, a.positional[0]);
  if (!index_folder) {
    return UsageError(env, kCmd, "cannot use \"" + a.positional[0] + "\" as the index folder");
  }
  const std::string search_folder = SearchFolderOf(*index_folder);

  ExchangeOptions options;
  if (const std::string* t = a.Option("--timeout")) {
    std::optional<std::chrono::milliseconds> timeout = ParseTimeout(*t);
    if (!timeout) return UsageError(env, kCmd, "--timeout needs seconds, not \"" + *t + "\"");
    options.timeout = *timeout;
  }
  const CodePage& cp = CodePage::Default();
  std::variant<Plan, std::string> built = BuildPlan(a, env.current_dir, search_folder, cp);
  if (auto* message = std::get_if<std::string>(&built)) return UsageError(env, kCmd, *message);
  const Plan& plan = std::get<Plan>(built);

  if (!env.fs->IsFolder(search_folder)) {
    return Fail(env, *index_folder + " is not an index folder (it has no VT_SEARCH folder)");
  }
  std::string config_path = ConfigPathIn(call.dir);
  if (const std::string* c = a.Option("--config")) {
    std::optional<std::string> p = ResolvePath(env.current_dir, *c);
    if (!p) return UsageError(env, kCmd, "cannot use \"" + *c + "\" as the configuration file");
    config_path = *p;
  }
  PathFinder paths(env.fs, cp);
  paths.Load(env, config_path, a.Option("--config") != nullptr, *index_folder);

  StatusOr<std::string> name = FreshRequestName(env.fs, search_folder, plan.extension);
  if (!name.ok()) return Fail(env, name.status().message());
  if (plan.form == "query") {
    options.on_progress = [&env](uint32_t accepted) {
      *env.err << "searching: " << accepted << " hits so far\n";
    };
  }
  options.keep_hit_file = a.Has("--keep");
  StatusOr<ExchangeResult> answer =
      RunSearchExchange(env.fs, search_folder, *name, plan.bytes, options);
  if (!answer.ok()) return Fail(env, answer.status().message());

  const std::vector<HitRecord>& records = answer->hits.records;
  size_t shown = records.size();
  if (plan.print_limit != 0 && plan.print_limit < shown) shown = plan.print_limit;
  if (a.Has("--json")) {
    PrintJson(env, *answer, shown, plan.form, *index_folder, a.Has("--keep"), paths, cp);
  } else {
    PrintLines(env, records, shown, paths, cp);
  }
  *env.err << shown << (shown == 1 ? " hit" : " hits") << " shown, " << answer->hits.found
           << " found\n";
  if (a.Has("--keep")) *env.err << "hit file kept: " << cp.ToUtf8(answer->hit_name) << "\n";
  return shown > 0 ? kExitHits : kExitNoHits;
}

}  // namespace vantrel
