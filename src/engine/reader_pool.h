// ReaderPool: open read-only views of an index, handed to one search at a
// time.
//
// A reader is one Xapian::Database over every shard of the index (see
// shard_layout.h): the local shards and the remote ones that answer, added
// in shard order, so that the statistics, and so the scores, are those of
// one database holding every document.
//
// A search takes a reader with Acquire, uses its Databases alone, and gives it
// back with Release (or drops it when the database changed under it). An
// idle reader is reused only while the version file of every local shard
// and the shard settings are unchanged; after a commit, a compaction or an
// installed copy the next Acquire opens the index afresh. Opening is retried
// for a short while when a version file is missing or the open fails (a swap
// in progress); a reader whose version files changed while it opened is
// discarded and opened again.
//
// Remote shards (Xapian's remote backend, "tcp://host:port"): a remote shard
// that cannot be reached is left out of the reader, which is then partial
// (Reader::missing names the shards left out). The pool retries a shard that
// failed only after a pause that doubles with every failure in a row (1 s up
// to 60 s); until then readers leave it out without waiting for it. A
// partial reader is not reused once that pause ended, so the shard is tried
// again. NoteRemoteFailure records a shard that failed during a search.
//
// Thread safety: every call may be made from any thread. A Reader is used by
// one thread at a time (the one that acquired it).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/index_files.h"
#include "engine/posting_match.h"
#include "engine/posting_rank.h"
#include "engine/shard_layout.h"
#include "engine/task_pool.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace vantrel {

class ReaderPool {
 public:
  using Clock = std::chrono::steady_clock;

  struct Reader {
    Xapian::Database db;
    std::vector<DatabaseVersion> versions;  // of the local shards, in order
    ShardSettings settings;
    std::vector<std::string> missing;  // remote shards left out
    Clock::time_point retry_at;        // with `missing`: when to try them again
    // The local shards on their own, in order (the same databases `db`
    // combines), and each one's time table once a newest-first search read
    // it (posting_match.h); the reader's one user fills them.
    std::vector<Xapian::Database> local_shards;
    mutable std::vector<std::optional<TimeTable>> times;
    // Each local shard's length table once a ranked search read it
    // (posting_rank.h); filled the same way.
    mutable std::vector<std::optional<LengthTable>> lengths;
    // The local shards' folders, in order, and further combined views of
    // them for the parts of a ranked match run side by side (OpenViews).
    std::vector<std::string> shard_folders;
    mutable std::vector<Xapian::Database> views;
  };

  explicit ReaderPool(FileSystem* fs) : fs_(fs) {}

  // Opens views until `reader` has `count` (each one Database combining
  // every local shard, like `db`, that another thread may use while `db`
  // is used); kept with the reader. False when a shard changed since the
  // reader opened it (a view would not show what `db` shows): the views
  // are then dropped. Throws what opening a database throws.
  static bool OpenViews(const Reader& reader, size_t count);

  // Reads every local shard's time and length tables that `reader` does
  // not hold yet, when its searches would read them (DenseEnough), the
  // shards side by side on `pool`. A new reader of a large index then
  // answers its first search as fast as its later ones. Throws what reading
  // the databases throws.
  static void ReadTables(const Reader& reader, TaskPool* pool);

  // A reader of the current index in `folder`. kNotFound when the folder
  // holds no database; kUnavailable when it could not be opened in time;
  // kCorruption when its shard settings cannot be read.
  StatusOr<std::unique_ptr<Reader>> Acquire(const std::string& folder);

  // An idle reader of `folder` whose shards are at exactly `versions` under
  // `settings` (and whose left-out remote shards are not due for a retry),
  // or null. The idle readers of other states met on the way are closed.
  std::unique_ptr<Reader> TakeIdle(const std::string& folder, const ShardSettings& settings,
                                   const std::vector<DatabaseVersion>& versions);

  // Gives a reader back for reuse (a few per folder are kept).
  void Release(const std::string& folder, std::unique_ptr<Reader> reader);

  // A search of `folder` met a network error: the idle readers of the
  // folder are dropped, so the next Acquire connects to every remote shard
  // again and leaves out the one that failed.
  void NoteRemoteFailure(const std::string& folder);

  // Closes every idle reader.
  void Clear();

  // The pause before the next try of a remote shard that failed `failures`
  // times in a row.
  static std::chrono::milliseconds RetryPause(int failures);

 private:
  struct RemoteState {
    int failures = 0;
    Clock::time_point retry_at;
  };
  // Adds the remote shards of `settings` that answer (or may be tried) to
  // `reader`.
  void AddRemoteShards(Reader* reader);

  FileSystem* const fs_;
  Mutex mu_;
  std::map<std::string, std::vector<std::unique_ptr<Reader>>> idle_ GUARDED_BY(mu_);
  std::map<std::string, RemoteState> remotes_ GUARDED_BY(mu_);
};

}  // namespace vantrel
