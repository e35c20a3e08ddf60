#include "server/server_app.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "catalogue/share_table.h"
#include "core/config_file.h"
#include "core/config_guard.h"
#include "core/event_log.h"
#include "core/fifo_queue.h"
#include "core/file_names.h"
#include "core/list_lock_table.h"
#include "core/text_table.h"
#include "indexing/document_readers.h"
#include "platform/instance_lock.h"
#include "platform/local_time.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "platform/process_setup.h"
#include "platform/systemd_notify.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/database_task.h"
#include "server/progress_board.h"
#include "search/search_statistics.h"
#include "server/server_services.h"
#include "server/task_control.h"

namespace vantrel {
namespace {

std::vector<std::string> RelaunchArguments(const ServerArguments& args, const char* sw) {
  std::vector<std::string> out{sw};
  if (args.no_console) {
    out.push_back("--no-console");
  } else {
    out.push_back("--console");
    out.push_back(args.console);
  }
  if (args.console_insecure) out.push_back("--console-insecure");
  if (!args.console_cert.empty()) {
    out.insert(out.end(), {"--console-cert", args.console_cert, "--console-key", args.console_key});
  }
  if (args.document_readers != 0) {
    out.insert(out.end(), {"--document-readers", std::to_string(args.document_readers)});
  }
  if (args.verbose) out.push_back("--verbose");
  return out;
}

std::string ConsoleUrl(const ServerArguments& args) {
  return (args.console_cert.empty() ? "http://" : "https://") + args.console;
}

struct StartPaths {
  std::string start_dir;
  std::string config;
  std::string settings;
  std::string instance_lock;
};

// The server's files in the start directory (the current directory).
StatusOr<StartPaths> StartPathsOfCurrentDirectory() {
  StatusOr<std::string> cwd = CurrentDirectory();
  if (!cwd.ok()) return cwd.status();
  return StartPaths{*cwd, *cwd + "/" + names::kConfigurationFile, *cwd + "/" + names::kSettingsFile,
                    *cwd + "/" + names::kInstanceLockFile};
}

// One server per start directory, unless relaunched by the server itself.
// Returns the exit status when this server must not run.
std::optional<int> TakeInstanceLock(const ServerArguments& args, const StartPaths& paths,
                                    std::unique_ptr<InstanceLock>* instance) {
  const std::string console_text =
      args.no_console ? std::string("no console") : "console " + ConsoleUrl(args);
  StatusOr<InstanceLock> lock = InstanceLock::Acquire(paths.instance_lock, console_text);
  if (lock.ok()) {
    *instance = std::make_unique<InstanceLock>(std::move(lock.value()));
    return std::nullopt;
  }
  if (args.relaunch != ServerArguments::Relaunch::kNone) return std::nullopt;
  if (lock.status().code() == StatusCode::kFailedPrecondition) {
    StatusOr<std::string> owner = InstanceLock::ReadOwnerInfo(paths.instance_lock);
    std::printf("Vantrel is already running in %s (%s)\n", paths.start_dir.c_str(),
                owner.ok() ? owner->c_str() : "console address unknown");
    return 0;
  }
  WriteStandardErrorLine(LogPriority::kError, lock.status().ToString());
  return 1;
}

// Takes what loading found into the console's copy. A file that exists and
// cannot be read stops the start (false): going on with the defaults would
// replace the operator's file at the next save. A damaged file is kept as a
// copy and the server starts with the defaults; when no copy can be made it
// does not start either.
bool AdoptLoadedConfig(ConfigLoad& load, FileSystem* fs, ConsoleConfig& console,
                       ConsoleState& state) {
  if (!load.status.ok() && load.status.code() != StatusCode::kCorruption) {
    WriteStandardErrorLine(LogPriority::kError, load.status.ToString());
    WriteStandardErrorLine(LogPriority::kError,
                           "the server does not start, so that the file is not replaced; make it "
                           "readable for this user or start the server as its owner");
    return false;
  }
  std::string kept;
  if (!load.status.ok()) {
    StatusOr<std::string> copy = KeepDamagedCopy(*fs, console.path(), NowUnix());
    if (!copy.ok()) {
      WriteStandardErrorLine(LogPriority::kError,
                             "the configuration data file " + console.path() +
                                 " cannot be used (" + load.status.ToString() +
                                 "), and no copy of it can be kept (" +
                                 copy.status().ToString() +
                                 "); the server does not start, so that the file is not replaced");
      return false;
    }
    kept = *copy;
  }
  console.config() = std::move(load.config);
  if (!kept.empty()) {
    state.AddEvent("The damaged configuration data file is kept as " + kept +
                   "; the server runs with the default configuration (" +
                   load.status.ToString() + ")");
    state.NoteDefaultsUsed(kept);
  }
  for (const std::string& warning : load.warnings) state.AddEvent(warning);
  return true;
}

void LoadSettingsTexts(FileSystem* fs, const std::string& settings_path, ConsoleState& state) {
  auto texts = std::make_unique<TextTable>();
  TextLoadResult texts_loaded = texts->Load(fs, settings_path);
  InstallProcessTexts(std::move(texts));
  if (!texts_loaded.file_status.ok()) {
    state.AddEvent("Settings file " + settings_path + ": " + texts_loaded.file_status.ToString());
  }
}

// PDF folder check. Nobody can answer the question at start-up, so the
// server does what "Cancel" does: nothing but telling the operator.
void CheckPdfFolder(FileSystem* fs, PdfSettings& pdf, ConsoleState& state) {
  if (pdf.folder.empty() || !fs->IsFolder(pdf.folder)) {
    pdf.thumbnail_size = 300;
    pdf.preview_size = 800;
    pdf.leading_preview = 3;
    state.ShowNotice(Text(TextId::IDS_PDFSUPPORT), Text(TextId::IDS_PDFNOTSETUP), 0);
  }
}

void AnnounceStart(const ServerArguments& args, const std::string& start_dir,
                   ConsoleState& state) {
  state.AddEvent(Text(TextId::IDS_STARTED));
  if (args.no_console) {
    WriteStandardErrorLine(LogPriority::kInfo, "running in " + start_dir + " without console");
  } else {
    WriteStandardErrorLine(LogPriority::kInfo,
                           "running in " + start_dir + "; console " + ConsoleUrl(args));
  }
}

// Waits for a stop signal (or the console's Exit), or for the task to end by
// itself, then stops the console (which ends an edit session) and runs the
// stop protocol: ask, then wait for the task to finish.
void WaitAndStopTask(StopSignals& signals, DatabaseTask& task, TaskControl& control,
                     ConsoleService* console, ConsoleState& state) {
  for (;;) {
    if (signals.Wait(std::chrono::milliseconds(500))) break;
    if (control.EndedByItself()) {
      state.AddEvent("The database process task has ended; the server stops");
      break;
    }
  }
  NotifyStopping(Text(TextId::IDS_NOWSTOPPING));
  if (console) console->Stop();
  const bool paused = control.BeginServerStop();
  if (!paused && task.shutdown_state() != 2) {
    WriteStandardErrorLine(LogPriority::kInfo, Text(TextId::IDS_NOWSTOPPING));
    task.RequestStop();
    while (!task.WaitFinished(std::chrono::milliseconds(500))) {
      if (signals.Wait(std::chrono::milliseconds(0))) {
        WriteStandardErrorLine(LogPriority::kInfo, "still stopping, please wait");
      }
    }
  }
  task.Join();
}

// Starts the console beside the task; false when it cannot serve (the
// server then does not start).
bool StartConsole(ConsoleService* console, const ConsoleHost& host) {
  if (!console) return true;
  Status started = console->Start(host);
  if (started.ok()) return true;
  WriteStandardErrorLine(LogPriority::kError, "console: " + started.ToString());
  return false;
}

// Once the console listens, the instance lock file names the address it
// really got (the port of "ADDR:0", a loopback address for a wildcard one),
// so that vantrelctl on this machine finds the running server's console.
void PublishConsoleUrl(const ConsoleService* console, InstanceLock* instance) {
  if (!console || !instance) return;
  const std::string url = console->Url();
  if (url.empty()) return;
  Status s = instance->UpdateOwnerInfo("console " + url);
  if (!s.ok()) {
    WriteStandardErrorLine(LogPriority::kWarning,
                           "cannot write the console address into the lock file: " + s.ToString());
  }
}

// The task's search figures join the console's copy of the configuration,
// which is saved.
void KeepSearchFiguresIn(ConsoleConfig& console, ConsoleState& state) {
  state.SetOtherStatusHandler([&console](const StatusMessage& m) {
    if (m.code != kStatusSearchRecorded) return;
    if (std::optional<SearchRecord> record = DecodeSearchRecord(m.data)) {
      console.Update([&](Configuration& config) { ApplySearchRecord(&config, *record); });
    }
  });
}

EventLog::Options EventLogOptions(FileSystem* fs, const std::string& start_dir) {
  EventLog::Options options;
  options.fs = fs;
  options.default_folder = start_dir;
  options.on_file_error = [](const Status& s) {
    WriteStandardErrorLine(LogPriority::kError, "cannot write the log file: " + s.ToString());
  };
  return options;
}

ServerServicesOptions ServicesOptions(const ServerArguments& args, const std::string& start_dir,
                                      FileSystem* fs, ConsoleState& state) {
  ServerServicesOptions options;
  options.fs = fs;
  options.log = [&state](const std::string& line) { state.AddEvent(line); };
  options.start_dir = start_dir;
  if (args.document_readers != 0) options.document_readers = args.document_readers;
  return options;
}

// After an automatic optimization: log, save, and start afresh; unless a
// stop was taken meanwhile, which the relaunch would otherwise swallow (the
// task then goes on and stops).
void RelaunchAfterOptimization(const ServerArguments& args, const std::string& start_dir,
                               const StatusOr<std::string>& exe, StopSignals& signals,
                               ConsoleConfig& console, ConsoleState& state) {
  const bool ran = signals.RunUnlessStopTaken([&] {
    state.AddEvent(Text(TextId::IDS_APPQUIT));
    SaveOrSay(console, state);
    if (!exe.ok()) return;
    Status s = RelaunchSelf(*exe, start_dir, RelaunchArguments(args, "-VSR"));
    state.AddEvent("Cannot relaunch the server: " + s.ToString());
  });
  if (!ran) state.AddEvent("Relaunch after the optimization left out: the server is stopping");
}

// What the database task works with; its relaunch is the caller's to set.
DatabaseTask::Options TaskOptions(const ServerArguments& args, const StartPaths& paths,
                                  FileSystem* fs, ServerServices& services, ConsoleState& state,
                                  FifoQueue<TaskRequest>* requests, ProgressBoard& progress,
                                  SambaVolumeNamer* namer) {
  DatabaseTask::Options options;
  options.services = services.services();
  options.env.config_path = paths.config;
  options.env.start_dir = paths.start_dir;
  options.env.settings_path = paths.settings;
  options.env.relaunched = args.relaunch == ServerArguments::Relaunch::kAfterOptimization;
  options.env.fs = fs;
  options.env.notices = &state;
  options.env.requests = requests;
  options.env.list_locks = &ListLocks();
  options.env.progress = progress.counters();
  options.status_sink = &state;
  options.namer = namer;
  options.trace_changes = args.verbose;
  return options;
}

int Serve(const ServerArguments& args, const ConsoleFactory& make_console) {
  FileSystem* fs = DefaultFileSystem();
  ListLocks();  // the list lock table exists before any list

  // The stop signals are blocked before any thread starts, so that every
  // thread inherits the mask and a stop always goes through the clean stop.
  StatusOr<std::unique_ptr<StopSignals>> signals = StopSignals::Install();
  if (!signals.ok()) {
    WriteStandardErrorLine(LogPriority::kError, signals.status().ToString());
    return 1;
  }
  StatusOr<StartPaths> start = StartPathsOfCurrentDirectory();
  if (!start.ok()) {
    WriteStandardErrorLine(LogPriority::kError, start.status().ToString());
    return 1;
  }
  const StartPaths& paths = *start;
  std::unique_ptr<InstanceLock> instance;
  if (std::optional<int> status = TakeInstanceLock(args, paths, &instance)) return *status;

  StatusOr<std::string> exe = SelfExecutablePath();

  // Event log first, so that what loading finds can be logged.
  EventLog log(EventLogOptions(fs, paths.start_dir));
  ConsoleState state(&log, /*echo=*/true);

  // Names of new folders come from Samba's shares.
  SambaVolumeNamer namer(fs);
  ConfigLoad load = LoadConfiguration(*fs, paths.config, namer);
  ConsoleConfig console(fs, paths.config, &log, load.stamp);
  log.SetLines(load.config.event_lines);
  log.SetOptions(load.config.log_flags, load.config.log_folder);
  if (!AdoptLoadedConfig(load, fs, console, state)) return 1;

  if (!KernelHasInotify()) {
    WriteStandardErrorLine(LogPriority::kError,
                           "this kernel offers no inotify; Vantrel cannot run here");
    return 1;
  }
  LoadSettingsTexts(fs, paths.settings, state);
  CheckPdfFolder(fs, console.config().pdf, state);
  AnnounceStart(args, paths.start_dir, state);

  KeepSearchFiguresIn(console, state);
  FifoQueue<TaskRequest> requests;
  ServerServices services(ServicesOptions(args, paths.start_dir, fs, state));
  ProgressBoard progress;
  DatabaseTask::Options task_options =
      TaskOptions(args, paths, fs, services, state, &requests, progress, &namer);
  task_options.relaunch = [&]() {
    RelaunchAfterOptimization(args, paths.start_dir, exe, **signals, console, state);
  };

  // Every text the console saved so far (start-up events) is on disk before
  // the task loads its own copy.
  SaveOrSay(console, state);

  DatabaseTask task(std::move(task_options));
  TaskControl control(&task);
  std::unique_ptr<ConsoleService> web;
  if (make_console && !args.no_console) web = make_console();
  const ConsoleHost host{args,     paths.start_dir, fs,       &console, &state, &log,
                         &control, &requests,       signals->get(), &services, &namer,
                         &progress};
  if (!StartConsole(web.get(), host)) return 1;
  PublishConsoleUrl(web.get(), instance.get());
  task.Start();
  // The task's threads run and its start-up catch-up has begun: a service
  // start is complete here, not after the catch-up, which may take hours.
  NotifyReady("Running");
  WaitAndStopTask(**signals, task, control, web.get(), state);
  state.AddEvent(Text(TextId::IDS_APPQUIT));
  SaveOrSay(console, state);
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
    } else if (a == "--console-cert" || a == "--console-key") {
      if (i + 1 >= args.size()) {
        out.error = a + " needs a file";
        return out;
      }
      (a == "--console-cert" ? out.console_cert : out.console_key) = args[++i];
    } else if (a == "--console-insecure") {
      out.console_insecure = true;
    } else if (a == "--no-console") {
      out.no_console = true;
    } else if (a == "--document-readers") {
      char* end = nullptr;
      const long n = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (end == nullptr || *end != '\0' || end == args[i + 1].c_str() || n < 1 ||
          n > kMaxDocumentReaders) {
        out.error = "--document-readers needs a number from 1 to " +
                    std::to_string(kMaxDocumentReaders);
        return out;
      }
      out.document_readers = static_cast<int>(n);
      ++i;
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
  if (out.console_cert.empty() != out.console_key.empty()) {
    out.error = "--console-cert and --console-key go together";
  }
  return out;
}

std::string ServerUsage() {
  return "Usage: vantrel [-VS | -VSR] [--console ADDR:PORT | --no-console] [--verbose]\n"
         "               [--console-insecure] [--console-cert FILE --console-key FILE]\n"
         "               [--document-readers N]\n"
         "\n"
         "Runs the Vantrel server in the current directory (the start directory),\n"
         "which holds \"Vantrel CONFIGURATION DATA\" and VANTREL.INI. Define indexes\n"
         "with vantrelctl first. Ctrl-C (SIGINT), SIGTERM or SIGHUP stops the server\n"
         "cleanly (it saves its configuration and event log first); SIGUSR1, SIGUSR2\n"
         "and SIGPIPE are ignored.\n"
         "\n"
         "  --console ADDR:PORT  address of the web console (default 127.0.0.1:8470)\n"
         "  --no-console         run without the web console\n"
         "  --console-insecure   allow a console address other than loopback without\n"
         "                       an edit password\n"
         "  --console-cert FILE, --console-key FILE\n"
         "                       serve the console over HTTPS with this PEM certificate\n"
         "                       and key\n"
         "  --document-readers N threads that read and compose image files ahead of\n"
         "                       the indexing at start-up (1 to " +
         std::to_string(kMaxDocumentReaders) + ", default " +
         std::to_string(kDefaultDocumentReaders) +
         "); more\n"
         "                       help when the files come from a slow disk or a share\n"
         "  --verbose            print every change and request file seen on stderr\n"
         "  -VS, -VSR            used by the server when it relaunches itself\n"
         "  --help               this text\n"
         "\n"
         "Only one server runs per start directory; a second start prints where the\n"
         "running one is and exits with status 0.\n";
}

int RunServer(const std::vector<std::string>& raw_args, ConsoleFactory console) {
  ServerArguments args = ParseServerArguments(raw_args);
  if (!args.error.empty()) {
    std::fprintf(stderr, "vantrel: %s\n\n%s", args.error.c_str(), ServerUsage().c_str());
    return 2;
  }
  if (args.help) {
    std::fputs(ServerUsage().c_str(), stdout);
    return 0;
  }
  SetUpMemoryAllocator(raw_args);
  IgnoreNuisanceSignals();
  UseEnvironmentLocale();
  try {
    return Serve(args, console);
  } catch (const std::exception& e) {
    // The fault guard: say what happened and start afresh.
    WriteStandardErrorLine(LogPriority::kError,
                           std::string("Unknown User Interface Error. Restarting.. (") +
                               e.what() + ")");
    StatusOr<std::string> exe = SelfExecutablePath();
    StatusOr<std::string> cwd = CurrentDirectory();
    if (exe.ok() && cwd.ok()) {
      Status s = RelaunchSelf(*exe, *cwd, RelaunchArguments(args, "-VS"));
      WriteStandardErrorLine(LogPriority::kError, "cannot relaunch: " + s.ToString());
    }
    return 1;
  }
}

}  // namespace vantrel
