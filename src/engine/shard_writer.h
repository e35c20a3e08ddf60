// ShardWriter: one add job over the shards of an index, each shard indexed on
// a thread of its own.
//
// The calling thread reads the job's documents from its data source (the
// extraction keeps running ahead of the indexing) and hands each to the
// queue of its shard (ShardOf its name). One thread per shard builds the
// Xapian documents and writes them inside that shard's transaction. When the
// data source is exhausted and every thread has written its documents, the
// shards commit at the same time, each on a thread of its own; the job
// counts as done only when every shard committed. A failure anywhere cancels
// every shard's transaction that has not committed yet.
//
// A process killed during the commits leaves the shards that committed with
// the job's documents and the others without. The job was never reported
// done, so nothing relies on it: the start-up catch-up rebuilds the indexed
// list from the engine, finds the documents of the uncommitted shards
// missing and indexes their files again. The documents of the committed
// shards are not indexed twice: a name always goes to the same shard, where
// it replaces its document (the id term).
//
// Thread safety: one Run at a time per set of folders (the engine's writer
// lock).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/document_indexer.h"
#include "engine/engine.h"
#include "platform/status.h"

namespace vantrel {

// What holds searches back from opening an index while its shards commit.
// Close and Open are called on the same thread.
class CommitGate {
 public:
  virtual ~CommitGate() = default;
  virtual void Close() = 0;
  virtual void Open() = 0;
};

struct ShardWriteSettings {
  std::vector<std::string> folders;  // the shards' database folders, in shard order
  bool create = false;               // create a database that does not exist
  uint32_t commit_every = 0;         // documents per commit of one shard; 0: at the end
  uint32_t max_text_bytes = 4u << 20;
  // Called with the count of documents handed out, every kProgressEvery and
  // at the end.
  std::function<void(uint64_t done)> progress;
  // Closed from the first shard's commit to the last one's; may be null.
  CommitGate* commit_gate = nullptr;
  // Called after shard `shard` committed the job, on that shard's commit
  // thread (tests cut a job here).
  std::function<void(uint32_t shard)> after_shard_commit;
};

// Adds the documents of `source` as described above. Errors name the folder.
Status WriteToShards(const ShardWriteSettings& settings, const DocumentIndexer& indexer,
                     EngineDataSource* source);

// What a Xapian failure of a writer of `folder` means for the caller.
Status WriterError(const std::string& folder, const Xapian::Error& e);

}  // namespace vantrel
