#include "server/server_app.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "catalogue/share_table.h"
#include "core/config_file.h"
#include "core/event_log.h"
#include "core/fifo_queue.h"
#include "core/file_names.h"
#include "core/list_lock_table.h"
#include "core/text_table.h"
#include "platform/instance_lock.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "platform/process_setup.h"
#include "server/console_state.h"
#include "server/database_task.h"
#include "search/search_statistics.h"
#include "server/server_services.h"

namespace vantrel {
namespace {

// The console's copy of the configuration and what saves it. The main thread
// and the task's relaunch (on the task thread) both save, so it has a lock.
class ConsoleConfig {
 public:
  ConsoleConfig(FileSystem* fs, std::string path, EventLog* log)
      : fs_(fs), path_(std::move(path)), log_(log) {}

  Configuration& config() { return config_; }

  // Changes the copy under the lock that Save takes.
  template <typename Fn>
  void Update(Fn&& fn) EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    fn(config_);
  }

  Status Save() EXCLUDES(mu_) {
    MutexLock lock(&mu_);
    config_.event_lines = log_->Lines();
    return SaveConfiguration(*fs_, config_, path_);
  }

 private:
  FileSystem* const fs_;
  const std::string path_;
  EventLog* const log_;
  Mutex mu_;
  Configuration config_;
};

void SaveOrSay(ConsoleConfig& config) {
  Status saved = config.Save();
  if (!saved.ok()) {
    std::fprintf(stderr, "vantrel: cannot save the configuration: %s\n", saved.ToString().c_str());
  }
}

std::vector<std::string> RelaunchArguments(const ServerArguments& args, const char* sw) {
  std::vector<std::string> out{sw};
  if (args.no_console) {
    out.push_back("--no-console");
  } else {
    out.push_back("--console");
    out.push_back(args.console);
  }
  if (args.verbose) out.push_back("--verbose");
  return out;
}

int Serve(const ServerArguments& args) {
  FileSystem* fs = DefaultFileSystem();
  ListLocks();  // the list lock table exists before any list

  StatusOr<std::string> cwd = CurrentDirectory();
  if (!cwd.ok()) {
    std::fprintf(stderr, "vantrel: %s\n", cwd.status().ToString().c_str());
    return 1;
  }
  const std::string start_dir = *cwd;
  const std::string config_path = start_dir + "/" + names::kConfigurationFile;
  const std::string settings_path = start_dir + "/" + names::kSettingsFile;
  const std::string console_text =
      args.no_console ? std::string("no console") : "console http://" + args.console;

  // One server per start directory, unless relaunched by the server itself.
  std::unique_ptr<InstanceLock> instance;
  StatusOr<InstanceLock> lock =
      InstanceLock::Acquire(start_dir + "/" + names::kInstanceLockFile, console_text);
  if (lock.ok()) {
    instance = std::make_unique<InstanceLock>(std::move(lock.value()));
  } else if (args.relaunch == ServerArguments::Relaunch::kNone) {
    if (lock.status().code() == StatusCode::kFailedPrecondition) {
      StatusOr<std::string> owner =
          InstanceLock::ReadOwnerInfo(start_dir + "/" + names::kInstanceLockFile);
      std::printf("Vantrel is already running in %s (%s)\n", start_dir.c_str(),
                  owner.ok() ? owner->c_str() : "console address unknown");
      return 0;
    }
    std::fprintf(stderr, "vantrel: %s\n", lock.status().ToString().c_str());
    return 1;
  }

  StatusOr<std::string> exe = SelfExecutablePath();

  // Event log first, so that what loading finds can be logged.
  EventLog::Options log_options;
  log_options.fs = fs;
  log_options.default_folder = start_dir;
  log_options.on_file_error = [](const Status& s) {
    std::fprintf(stderr, "vantrel: cannot write the log file: %s\n", s.ToString().c_str());
  };
  EventLog log(std::move(log_options));
  ConsoleConfig console(fs, config_path, &log);
  ConsoleState state(&log, /*echo=*/true);

  // Names of new folders come from Samba's shares.
  SambaVolumeNamer namer(fs);
  ConfigLoad load = LoadConfiguration(*fs, config_path, namer);
  console.config() = std::move(load.config);
  log.SetLines(console.config().event_lines);
  log.SetOptions(console.config().log_flags, console.config().log_folder);
  if (!load.status.ok() && load.file_found) {
    // The console carries on with the defaults and would replace the file at
    // its next save: keep the unreadable file beside it for the operator.
    std::string kept = config_path + ".damaged";
    Status copied = fs->CopyFile(config_path, kept);
    state.AddEvent("The configuration data file cannot be used (" + load.status.ToString() +
                   "); defaults are in use" +
                   (copied.ok() ? "; the old file is kept as " + kept : std::string()));
  }
  for (const std::string& warning : load.warnings) state.AddEvent(warning);

  if (!KernelHasInotify()) {
    std::fprintf(stderr, "vantrel: this kernel offers no inotify; Vantrel cannot run here\n");
    return 1;
  }

  auto texts = std::make_unique<TextTable>();
  TextLoadResult texts_loaded = texts->Load(fs, settings_path);
  InstallProcessTexts(std::move(texts));
  if (!texts_loaded.file_status.ok()) {
    state.AddEvent("Settings file " + settings_path + ": " + texts_loaded.file_status.ToString());
  }

  // PDF folder check. Nobody can answer the question at start-up, so the
  // server does what "Cancel" does: nothing but telling the operator.
  PdfSettings& pdf = console.config().pdf;
  if (pdf.folder.empty() || !fs->IsFolder(pdf.folder)) {
    pdf.thumbnail_size = 300;
    pdf.preview_size = 800;
    pdf.leading_preview = 3;
    state.ShowNotice(Text(TextId::IDS_PDFSUPPORT), Text(TextId::IDS_PDFNOTSETUP), 0);
  }

  state.AddEvent(Text(TextId::IDS_STARTED));
  if (args.no_console) {
    std::fprintf(stderr, "vantrel: running in %s without console\n", start_dir.c_str());
  } else {
    std::fprintf(stderr, "vantrel: running in %s; console http://%s\n", start_dir.c_str(),
                 args.console.c_str());
  }

  StatusOr<std::unique_ptr<StopSignals>> signals = StopSignals::Install();
  if (!signals.ok()) {
    std::fprintf(stderr, "vantrel: %s\n", signals.status().ToString().c_str());
    return 1;
  }

  // The task's search figures join the console's copy, which is saved.
  state.SetOtherStatusHandler([&console](const StatusMessage& m) {
    if (m.code != kStatusSearchRecorded) return;
    if (std::optional<SearchRecord> record = DecodeSearchRecord(m.data)) {
      console.Update([&](Configuration& config) { ApplySearchRecord(&config, *record); });
    }
  });
  FifoQueue<TaskRequest> requests;
  ServerServicesOptions services_options;
  services_options.fs = fs;
  services_options.log = [&state](const std::string& line) { state.AddEvent(line); };
  ServerServices services(std::move(services_options));
  DatabaseTask::Options task_options;
  task_options.services = services.services();
  task_options.env.config_path = config_path;
  task_options.env.start_dir = start_dir;
  task_options.env.settings_path = settings_path;
  task_options.env.relaunched = args.relaunch == ServerArguments::Relaunch::kAfterOptimization;
  task_options.env.fs = fs;
  task_options.env.notices = &state;
  task_options.env.requests = &requests;
  task_options.env.list_locks = &ListLocks();
  task_options.status_sink = &state;
  task_options.namer = &namer;
  task_options.trace_changes = args.verbose;
  task_options.relaunch = [&]() {
    // After an automatic optimization: log, save, and start afresh.
    state.AddEvent(Text(TextId::IDS_APPQUIT));
    SaveOrSay(console);
    if (!exe.ok()) return;
    Status s = RelaunchSelf(*exe, start_dir, RelaunchArguments(args, "-VSR"));
    state.AddEvent("Cannot relaunch the server: " + s.ToString());
  };

  // Every text the console saved so far (start-up events) is on disk before
  // the task loads its own copy.
  SaveOrSay(console);

  DatabaseTask task(std::move(task_options));
  task.Start();

  // Wait for a stop signal, or for the task to end by itself.
  for (;;) {
    std::optional<StopSignals::Reason> reason =
        (*signals)->Wait(std::chrono::milliseconds(500));
    if (reason) break;
    if (task.shutdown_state() == 2) {
      state.AddEvent("The database process task has ended; the server stops");
      break;
    }
  }

  // The stop protocol: ask, then wait for the task to finish.
  if (task.shutdown_state() != 2) {
    std::fprintf(stderr, "vantrel: %s\n", Text(TextId::IDS_NOWSTOPPING).c_str());
    task.RequestStop();
    while (!task.WaitFinished(std::chrono::milliseconds(500))) {
      if ((*signals)->Wait(std::chrono::milliseconds(0))) {
        std::fprintf(stderr, "vantrel: still stopping, please wait\n");
      }
    }
  }
  task.Join();
  state.AddEvent(Text(TextId::IDS_APPQUIT));
  SaveOrSay(console);
  return 0;
}

}  // namespace

ServerArguments ParseServerArguments(const std::vector<std::string>& args) {
  ServerArguments out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-VS") {
      out.relaunch = ServerArguments::Relaunch::kAfterFault;
    } else if (a == "-VSR") {
      out.relaunch = ServerArguments::Relaunch::kAfterOptimization;
    } else if (a == "--console") {
      if (i + 1 >= args.size()) {
        out.error = "--console needs ADDR:PORT";
        return out;
      }
      out.console = args[++i];
      size_t colon = out.console.rfind(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == out.console.size()) {
        out.error = "--console needs ADDR:PORT, e.g. 127.0.0.1:8470";
        return out;
      }
    } else if (a == "--no-console") {
      out.no_console = true;
    } else if (a == "--verbose") {
      out.verbose = true;
    } else if (a == "--help" || a == "-h") {
      out.help = true;
    } else if (a.rfind("--", 0) == 0) {
      out.error = "unknown option " + a;
      return out;
    }
    // Anything else, such as "-vs", counts as no switch.
  }
  return out;
}

std::string ServerUsage() {
  return "Usage: vantrel [-VS | -VSR] [--console ADDR:PORT | --no-console] [--verbose]\n"
         "\n"
         "Runs the Vantrel server in the current directory (the start directory),\n"
         "which holds \"Vantrel CONFIGURATION DATA\" and VANTREL.INI. Define indexes\n"
         "with vantrelctl first. Ctrl-C (SIGINT) or SIGTERM stops the server cleanly.\n"
         "\n"
         "  --console ADDR:PORT  address of the web console (default 127.0.0.1:8470)\n"
         "  --no-console         run without the web console\n"
         "  --verbose            print every change and request file seen on stderr\n"
         "  -VS, -VSR            used by the server when it relaunches itself\n"
         "  --help               this text\n"
         "\n"
         "Only one server runs per start directory; a second start prints where the\n"
         "running one is and exits with status 0.\n";
}

int RunServer(const std::vector<std::string>& raw_args) {
  ServerArguments args = ParseServerArguments(raw_args);
  if (!args.error.empty()) {
    std::fprintf(stderr, "vantrel: %s\n\n%s", args.error.c_str(), ServerUsage().c_str());
    return 2;
  }
  if (args.help) {
    std::fputs(ServerUsage().c_str(), stdout);
    return 0;
  }
  UseEnvironmentLocale();
  try {
    return Serve(args);
  } catch (const std::exception& e) {
    // The fault guard: say what happened and start afresh.
    std::fprintf(stderr, "vantrel: Unknown User Interface Error. Restarting.. (%s)\n", e.what());
    StatusOr<std::string> exe = SelfExecutablePath();
    StatusOr<std::string> cwd = CurrentDirectory();
    if (exe.ok() && cwd.ok()) {
      Status s = RelaunchSelf(*exe, *cwd, RelaunchArguments(args, "-VS"));
      std::fprintf(stderr, "vantrel: cannot relaunch: %s\n", s.ToString().c_str());
    }
    return 1;
  }
}

}  // namespace vantrel
