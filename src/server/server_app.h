// The server process: command line, start order, the headless console half,
// the stop protocol and the self-relaunch.
//
//   vantrel [-VS | -VSR] [--console ADDR:PORT | --no-console] [--verbose]
//
// The start directory is the current directory. Without a switch only one
// server runs per start directory: a second start prints where the running
// server's console is and ends with status 0. "-VS" (relaunch after a fault)
// and "-VSR" (relaunch after an automatic optimization) skip that check; any
// other spelling of a switch counts as no switch.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

struct ServerArguments {
  enum class Relaunch { kNone, kAfterFault, kAfterOptimization };
  Relaunch relaunch = Relaunch::kNone;
  std::string console = "127.0.0.1:8470";
  bool no_console = false;
  bool verbose = false;
  bool help = false;
  std::string error;  // non-empty: the command line cannot be used
};

ServerArguments ParseServerArguments(const std::vector<std::string>& args);
std::string ServerUsage();

// Runs the server until it is stopped; returns the process's exit status.
int RunServer(const std::vector<std::string>& args);

}  // namespace vantrel
