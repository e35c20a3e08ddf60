// ReaderPool: open read-only databases, handed to one search at a time.
//
// A search takes a reader with Acquire, uses its Database alone, and gives it
// back with Release (or drops it when the database changed under it). An
// idle reader is reused only while the database's version file is unchanged;
// after a commit, a compaction or an installed copy the next Acquire opens
// the database afresh. Opening is retried for a short while when the
// version file is missing or the open fails (a swap in progress); a reader
// whose version file changed while it opened is discarded and opened again.
//
// Thread safety: Acquire, Release and Clear may be called from any thread.
// A Reader is used by one thread at a time (the one that acquired it).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/index_files.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace vantrel {

class ReaderPool {
 public:
  struct Reader {
    Xapian::Database db;
    DatabaseVersion version;
  };

  explicit ReaderPool(FileSystem* fs) : fs_(fs) {}

  // A reader of the current database in `folder`. kNotFound when the folder
  // holds no database; kUnavailable when it could not be opened in time.
  StatusOr<std::unique_ptr<Reader>> Acquire(const std::string& folder);

  // Gives a reader back for reuse (a few per folder are kept).
  void Release(const std::string& folder, std::unique_ptr<Reader> reader);

  // Closes every idle reader.
  void Clear();

 private:
  FileSystem* const fs_;
  Mutex mu_;
  std::map<std::string, std::vector<std::unique_ptr<Reader>>> idle_ GUARDED_BY(mu_);
};

}  // namespace vantrel
