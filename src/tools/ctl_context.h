// What every vantrelctl command works with, and how it ends.
//
// Commands run in-process: they take their arguments as strings and an
// environment (output streams, file system, share/volume look-up, the
// current directory), so tests can run them on temporary folders.
//
// Thread safety: one command at a time per CtlEnv.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/volume_namer.h"
#include "platform/file_system.h"

namespace vantrel {

// Exit statuses of vantrelctl.
inline constexpr int kCtlOk = 0;
// The command was understood but could not be carried out (the server runs,
// the configuration file is unreadable, a limit is reached, a write failed).
inline constexpr int kCtlFailed = 1;
// Bad arguments: unknown command or option, missing or out-of-range values,
// refused folders.
inline constexpr int kCtlUsage = 2;
// A running server's console refused the change: another session holds edit
// mode, wrong password, password checks locked, or the API's own checks.
inline constexpr int kCtlRefused = 3;
// A server runs in the start directory but its console cannot be reached
// (no console, not listening, connection or certificate failure).
inline constexpr int kCtlUnreachable = 4;

struct CtlEnv {
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  FileSystem* fs = nullptr;
  VolumeNamer* namer = nullptr;
  // Absolute native path of the current directory: the start directory when
  // --dir is not given, and the base of a relative --dir.
  std::string current_dir;
};

// The start directory of the command (absolute, no trailing '/') and its
// arguments after the command words.
struct CtlCall {
  CtlCall() = default;
  CtlCall(std::string dir_in, std::vector<std::string> args_in)
      : dir(std::move(dir_in)), args(std::move(args_in)) {}

  std::string dir;
  std::vector<std::string> args;
  // How to reach a server running in `dir` (global options).
  struct Console {
    std::string url;            // --console URL; empty: from the instance lock file
    std::string ca_file;        // --console-ca FILE
    std::string password_file;  // --password-file FILE
  } console;
};

}  // namespace vantrel
