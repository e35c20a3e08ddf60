#include "engine/shard_writer.h"

#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

#include <xapian.h>

#include "engine/shard_layout.h"
#include "platform/mutex.h"

namespace vantrel {
namespace {

constexpr uint64_t kProgressEvery = 1000;
// Documents waiting per shard: enough to keep a shard's thread busy while
// the data source reads the next files, little enough to bound the memory.
constexpr size_t kQueuedPerShard = 256;

struct Work {
  std::string name;
  std::string text;
};

// The documents of one shard, handed from the reading thread to the shard's
// thread.
class ShardQueue {
 public:
  // Waits for room; false when the shard's thread has failed.
  bool Push(Work work) {
    MutexLock lock(&mu_);
    while (queue_.size() >= kQueuedPerShard && !failed_) room_.Wait(&mu_);
    if (failed_) return false;
    queue_.push_back(std::move(work));
    ready_.Signal();
    return true;
  }
  // The next document; nothing once the queue is closed and empty.
  std::optional<Work> Pop() {
    MutexLock lock(&mu_);
    while (queue_.empty() && !closed_) ready_.Wait(&mu_);
    if (queue_.empty()) return std::nullopt;
    Work w = std::move(queue_.front());
    queue_.pop_front();
    room_.Signal();
    return w;
  }
  void Close() {
    MutexLock lock(&mu_);
    closed_ = true;
    ready_.SignalAll();
  }
  void Fail() {
    MutexLock lock(&mu_);
    failed_ = true;
    queue_.clear();
    room_.SignalAll();
  }
  bool failed() {
    MutexLock lock(&mu_);
    return failed_;
  }

 private:
  Mutex mu_;
  CondVar ready_;
  CondVar room_;
  std::deque<Work> queue_ GUARDED_BY(mu_);
  bool closed_ GUARDED_BY(mu_) = false;
  bool failed_ GUARDED_BY(mu_) = false;
};

// One shard: its database, its transaction and its thread's result.
struct Shard {
  std::string folder;
  std::unique_ptr<Xapian::WritableDatabase> db;
  ShardQueue queue;
  Status result;
  bool in_transaction = false;
  uint64_t written = 0;
  // The shard held no document when the job began: every name in it is one
  // of `job_names` (the id terms written in this job).
  bool empty_at_start = false;
  std::unordered_set<std::string> job_names;
};

// Reads the whole text of a document through its callbacks.
Status ReadText(EngineDocument& d, uint32_t max_bytes, std::string* text) {
  text->clear();
  if (!d.read) return Status::InvalidArgument("document " + d.name + " has no read callback");
  const size_t want = std::min<size_t>(d.text_length, max_bytes);
  text->resize(want);
  if (d.seek) d.seek(0);
  size_t have = 0;
  while (have < want) {
    size_t n = d.read(text->data() + have, want - have);
    if (n == 0) break;
    have += std::min(n, want - have);
  }
  text->resize(have);
  return Status::Ok();
}

// Builds and writes one document into its shard; throws what Xapian throws.
void WriteDocument(Shard* shard, const DocumentIndexer& indexer, uint32_t commit_every,
                   const Work& w) {
  Xapian::WritableDatabase& db = *shard->db;
  // A new name (the usual case) is added without replace_document's
  // posting-list lookup. In a shard that was empty when the job began, the
  // job's own names say which names are new; otherwise the term frequency
  // does (it includes this job's additions). Either way a name repeated
  // within the job replaces.
  std::string id = IdTermForName(w.name);
  const bool is_new = shard->empty_at_start ? shard->job_names.insert(id).second
                                            : db.get_termfreq(id) == 0;
  if (is_new) {
    db.add_document(indexer.Build(w.name, w.text));
  } else {
    db.replace_document(id, indexer.Build(w.name, w.text));
  }
  ++shard->written;
  if (commit_every != 0 && shard->written % commit_every == 0) {
    db.commit_transaction();
    db.begin_transaction(true);
  }
}

// Runs `write`, turning what it throws into the shard's result; false on a
// failure.
template <typename Write>
bool Guarded(Shard* shard, Write write) {
  try {
    write();
    return true;
  } catch (const Xapian::Error& e) {
    shard->result = WriterError(shard->folder, e);
  } catch (const std::exception& e) {
    shard->result = Status::Internal("indexing into " + shard->folder + " failed: " + e.what());
  }
  return false;
}

// The shard's thread: builds and writes every document of its queue.
void IndexShard(Shard* shard, const DocumentIndexer& indexer, uint32_t commit_every) {
  const bool ok = Guarded(shard, [&] {
    while (std::optional<Work> w = shard->queue.Pop()) WriteDocument(shard, indexer, commit_every, *w);
  });
  if (!ok) shard->queue.Fail();
}

// Reads the data source and hands each document to its shard. Stops at the
// first shard that failed.
// With one shard the documents are written on the calling thread, as they
// come: a job cut short has written (and, with a commit interval, committed)
// exactly the documents handed out before.
Status Distribute(const ShardWriteSettings& settings, const DocumentIndexer& indexer,
                  EngineDataSource* source, std::vector<std::unique_ptr<Shard>>& shards) {
  if (source->rewind && !source->rewind()) return Status::Internal("the data source could not rewind");
  const uint32_t count = static_cast<uint32_t>(shards.size());
  uint64_t done = 0;
  std::string text;
  for (;;) {
    EngineDocument d;
    const int r = source->next_document(&d);
    if (r == -1) break;
    if (r != 0) {
      return Status::Internal("the data source failed with " + std::to_string(r) + " after " +
                              std::to_string(done) + " documents");
    }
    if (d.name.empty()) continue;  // a document without a name cannot be stored
    VANTREL_RETURN_IF_ERROR(ReadText(d, settings.max_text_bytes, &text));
    Shard& shard = *shards[ShardOf(d.name, count)];
    Work work{std::move(d.name), std::move(text)};
    if (count == 1) {
      if (!Guarded(&shard, [&] { WriteDocument(&shard, indexer, settings.commit_every, work); })) {
        return Status::Ok();  // the shard's result says why
      }
    } else if (!shard.queue.Push(std::move(work))) {
      return Status::Ok();
    }
    ++done;
    if (done % kProgressEvery == 0 && settings.progress) settings.progress(done);
  }
  if (settings.progress) settings.progress(done);
  return Status::Ok();
}

void CancelAll(std::vector<std::unique_ptr<Shard>>& shards) {
  for (auto& s : shards) {
    if (!s->in_transaction) continue;
    try {
      s->db->cancel_transaction();
    } catch (const Xapian::Error&) {
    }
    s->in_transaction = false;
  }
}

// Commits one shard's transaction and closes the shard; its result says
// how that went.
void CommitShard(const ShardWriteSettings& settings, uint32_t index, Shard* shard) {
  const bool ok = Guarded(shard, [&] {
    shard->db->commit_transaction();
    shard->in_transaction = false;
    shard->db->close();
  });
  if (ok && settings.after_shard_commit) settings.after_shard_commit(index);
}

// Keeps the commit gate closed while it lives.
class ClosedGate {
 public:
  explicit ClosedGate(CommitGate* gate) : gate_(gate) {
    if (gate_ != nullptr) gate_->Close();
  }
  ClosedGate(const ClosedGate&) = delete;
  ClosedGate& operator=(const ClosedGate&) = delete;
  ~ClosedGate() {
    if (gate_ != nullptr) gate_->Open();
  }

 private:
  CommitGate* const gate_;
};

// Commits the shards at the same time, each on a thread of its own: most of
// a commit is writing the shard's tables and waiting for them to reach the
// disk. The first failure in shard order is returned.
Status CommitAll(const ShardWriteSettings& settings, std::vector<std::unique_ptr<Shard>>& shards) {
  const ClosedGate gate(settings.commit_gate);
  if (shards.size() == 1) {
    CommitShard(settings, 0, shards[0].get());
  } else {
    std::vector<std::thread> threads;
    threads.reserve(shards.size());
    for (uint32_t i = 0; i < shards.size(); ++i) {
      threads.emplace_back(CommitShard, std::cref(settings), i, shards[i].get());
    }
    for (std::thread& t : threads) t.join();
  }
  for (auto& s : shards) {
    if (!s->result.ok()) return s->result;
  }
  return Status::Ok();
}

}  // namespace

Status WriterError(const std::string& folder, const Xapian::Error& e) {
  const std::string type = e.get_type();
  if (type == "DatabaseNotFoundError") {
    return Status::NotFound("no index in " + folder);
  }
  if (type == "DatabaseLockError") {
    // The same error says "already locked" and "cannot create the lock
    // file" (read-only file system, no permission): only the first is
    // another writer.
    const std::string what = e.get_msg();
    if (what.find("already locked") != std::string::npos) {
      return Status::Unavailable("the index in " + folder + " is locked by another writer");
    }
    const std::string prefix = "Unable to get write lock on " + folder + ": ";
    const std::string reason = what.compare(0, prefix.size(), prefix) == 0
                                   ? what.substr(prefix.size())
                                   : e.get_description();
    return Status::IoError("cannot write the index in " + folder + ": " + reason);
  }
  return Status::IoError("index job on " + folder + " failed: " + e.get_description());
}

Status WriteToShards(const ShardWriteSettings& settings, const DocumentIndexer& indexer,
                     EngineDataSource* source) {
  if (source == nullptr || !source->next_document) {
    return Status::InvalidArgument("an add job needs a data source with a next-document callback");
  }
  std::vector<std::unique_ptr<Shard>> shards;
  const int flags =
      (settings.create ? Xapian::DB_CREATE_OR_OPEN : Xapian::DB_OPEN) | Xapian::DB_BACKEND_GLASS;
  for (const std::string& folder : settings.folders) {
    auto shard = std::make_unique<Shard>();
    shard->folder = folder;
    try {
      shard->db = std::make_unique<Xapian::WritableDatabase>(folder, flags, kShardBlockSize);
      shard->empty_at_start = shard->db->get_doccount() == 0;
      shard->db->begin_transaction(true);
      shard->in_transaction = true;
    } catch (const Xapian::Error& e) {
      CancelAll(shards);
      return WriterError(folder, e);
    }
    shards.push_back(std::move(shard));
  }
  std::vector<std::thread> threads;
  if (shards.size() > 1) {
    threads.reserve(shards.size());
    for (auto& s : shards) {
      threads.emplace_back(IndexShard, s.get(), std::cref(indexer), settings.commit_every);
    }
  }
  Status failure;
  try {
    failure = Distribute(settings, indexer, source, shards);
  } catch (const std::exception& e) {
    failure = Status::Internal(std::string("the data source failed: ") + e.what());
  }
  // The shards write what was handed out (their chunk commits included);
  // after a failure the rest of the job is cancelled below.
  for (auto& s : shards) s->queue.Close();
  for (std::thread& t : threads) t.join();
  for (auto& s : shards) {
    if (failure.ok() && !s->result.ok()) failure = s->result;
  }
  if (failure.ok()) failure = CommitAll(settings, shards);
  CancelAll(shards);
  return failure;
}

}  // namespace vantrel
