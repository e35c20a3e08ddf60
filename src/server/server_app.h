// The server process: command line, start order, the headless console half,
// the stop protocol and the self-relaunch.
//
//   vantrel [-VS | -VSR] [--console ADDR:PORT | --no-console] [--console-insecure]
//           [--console-cert FILE --console-key FILE] [--document-readers N] [--verbose]
//
// The start directory is the current directory. Without a switch only one
// server runs per start directory: a second start prints where the running
// server's console is and ends with status 0. "-VS" (relaunch after a fault)
// and "-VSR" (relaunch after an automatic optimization) skip that check; any
// other spelling of a switch counts as no switch.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/fifo_queue.h"
#include "core/task_request.h"
#include "platform/status.h"

namespace vantrel {

class ConsoleConfig;
class ConsoleState;
class EventLog;
class ProgressSource;
class FileSystem;
class ServerServices;
class StopSignals;
class TaskControl;
class VolumeNamer;

struct ServerArguments {
  enum class Relaunch { kNone, kAfterFault, kAfterOptimization };
  Relaunch relaunch = Relaunch::kNone;
  std::string console = "127.0.0.1:8470";
  bool no_console = false;
  bool console_insecure = false;  // another address than loopback without a password
  std::string console_cert;       // HTTPS certificate and key (PEM files)
  std::string console_key;
  bool verbose = false;
  // Threads that read and compose files ahead of the start-up catch-up's
  // builds (1 to kMaxDocumentReaders); 0: the pipeline's default.
  int document_readers = 0;
  bool help = false;
  std::string error;  // non-empty: the command line cannot be used
};

ServerArguments ParseServerArguments(const std::vector<std::string>& args);
std::string ServerUsage();

// What the server hands its console: its real objects, alive from Start to
// Stop.
struct ConsoleHost {
  ServerArguments args;
  std::string start_dir;
  FileSystem* fs = nullptr;
  ConsoleConfig* config = nullptr;
  ConsoleState* state = nullptr;
  EventLog* log = nullptr;
  TaskControl* task = nullptr;
  FifoQueue<TaskRequest>* requests = nullptr;
  StopSignals* signals = nullptr;  // RequestStop() stops the server as SIGTERM does
  ServerServices* services = nullptr;
  VolumeNamer* namer = nullptr;
  ProgressSource* progress = nullptr;  // null: no long work is shown
};

// The console the server runs beside its task (a layer above this one).
class ConsoleService {
 public:
  virtual ~ConsoleService() = default;
  // Starts serving; an error keeps the server from starting.
  virtual Status Start(const ConsoleHost& host) = 0;
  // Stops serving and ends an edit session (saving the configuration, never
  // starting the task again). Called before the event log is saved.
  virtual void Stop() = 0;
  // Where a program on this machine reaches the console once it listens
  // ("http://127.0.0.1:8470", with the port it really got); "" when unknown.
  // The server writes it into its instance lock file for vantrelctl.
  virtual std::string Url() const { return ""; }
};
using ConsoleFactory = std::function<std::unique_ptr<ConsoleService>()>;

// Runs the server until it is stopped; returns the process's exit status.
// Without `console` (or with --no-console) no console listens.
int RunServer(const std::vector<std::string>& args, ConsoleFactory console = {});

}  // namespace vantrel
