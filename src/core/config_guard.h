// Keeping the operator's configuration data file safe.
//
// The server loads the file at start and saves its own copy at start, at a
// relaunch and at stop. Two things must never happen on the way:
//
// - A save over a file that somebody changed after the server loaded it (an
//   edit made while no lock kept the editor out). ConfigSaver compares the
//   file just before each save with the stamp taken when it was loaded (or
//   last saved); when the file changed it stays as it is and the server's
//   configuration goes into a side file beside it
//   ("<file>.unsaved-YYYYMMDD-HHMMSS"), which later saves of the same run
//   keep replacing.
// - The loss of a damaged file that the server replaced with the defaults.
//   KeepDamagedCopy copies it to "<file>.damaged-YYYYMMDD-HHMMSS" (UTC; a
//   counter "-02".."-99" is added when that name is taken) and keeps the
//   newest five such copies.
//
// The stamp is the file's existence, size and a 64-bit hash of its bytes: a
// touch that leaves the content alone is no change, an edit of the same size
// within one tick of the file clock is one.
//
// Thread safety: plain functions; a ConfigSaver is used by one thread at a
// time (the caller locks).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/config_file.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// How many damaged copies are kept beside the configuration data file.
inline constexpr size_t kKeptDamagedCopies = 5;

// The stamp of a file holding `bytes`.
ConfigFileStamp StampOfBytes(std::string_view bytes);

// The stamp of the file at `path` now; exists == false when there is none.
// kIoError when it exists and cannot be read.
StatusOr<ConfigFileStamp> ReadConfigFileStamp(FileSystem& fs, const std::string& path);

// "<path>.<kind>-YYYYMMDD-HHMMSS" for `unix_seconds` (UTC), with "-02" ..
// "-99" added when the name is taken. kResourceExhausted when all are taken.
StatusOr<std::string> UniqueSideName(FileSystem& fs, const std::string& path,
                                     std::string_view kind, int64_t unix_seconds);

// Copies the file at `path` to a new damaged copy (UniqueSideName, kind
// "damaged"; the copy keeps the file's mode) and deletes the oldest damaged
// copies beyond kKeptDamagedCopies. Returns the copy's path.
StatusOr<std::string> KeepDamagedCopy(FileSystem& fs, const std::string& path,
                                      int64_t unix_seconds);

// Saves configurations at one path without ever replacing a file that
// changed since it was loaded.
class ConfigSaver {
 public:
  // `loaded`: the stamp of the file as it was loaded (exists == false when
  // there was none).
  ConfigSaver(FileSystem* fs, std::string path, ConfigFileStamp loaded)
      : fs_(fs), path_(std::move(path)), stamp_(loaded) {}

  struct Outcome {
    Status status;          // the write's failure; the old file then stays
    std::string side_path;  // non-empty: the file had changed; saved here instead
    bool newly_diverted = false;  // this save was the first to go to side_path
  };

  // Saves `config` (SaveConfiguration) at the path, or into the side file
  // when the file there is not the one loaded or last saved. A file deleted
  // since is written afresh (nothing of the operator's is lost). Once
  // diverted, every later save goes to the same side file.
  Outcome Save(const Configuration& config, int64_t unix_seconds);

  const std::string& path() const { return path_; }

 private:
  FileSystem* const fs_;
  const std::string path_;
  ConfigFileStamp stamp_;  // of the file at path_, as loaded or last saved
  std::string side_path_;  // set once a save was diverted
};

}  // namespace vantrel
