#include "engine/engine.h"

#include <xapian.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/file_names.h"
#include "engine/database_copy.h"
#include "engine/document_indexer.h"
#include "engine/document_scores.h"
#include "engine/hit_names.h"
#include "engine/index_files.h"
#include "engine/index_gate.h"
#include "engine/index_segments.h"
#include "engine/newest_match.h"
#include "engine/partial_hits.h"
#include "engine/posting_match.h"
#include "engine/posting_rank.h"
#include "engine/query_compiler.h"
#include "engine/query_parser.h"
#include "engine/ranked_match.h"
#include "engine/reader_pool.h"
#include "engine/remove_list.h"
#include "engine/search_limits.h"
#include "engine/shard_layout.h"
#include "engine/shard_swap.h"
#include "engine/shard_writer.h"
#include "engine/synonym_scores.h"
#include "engine/task_pool.h"
#include "engine/thesaurus.h"
#include "platform/mutex.h"

namespace vantrel {
namespace {

constexpr int kSearchAttempts = 5;
// Threads that match the shards of one search side by side, at most.
constexpr unsigned kMatchThreads = 8;
constexpr size_t kMaxRemoveListBytes = 512u << 20;

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Describe(const Xapian::Error& e) { return e.get_description(); }

// A hit whose name is wanted: its id in the database read, its place among
// the search's hits.
using WantedName = std::pair<Xapian::docid, uint32_t>;

// Room set aside in a block of names for each name expected.
constexpr size_t kNameBytesGuess = 48;

// Puts `wanted` in document order. When its ids are not too sparse among
// the database's (a search with many hits), a table by id orders them in one
// pass instead of a sort: a walk of the table costs less than a sort up to
// about one wanted id in 32. A repeated id (never expected) is sorted.
void PutInDocumentOrder(std::vector<WantedName>* wanted) {
  constexpr uint32_t kNone = UINT32_MAX;
  constexpr size_t kMostIdsPerWanted = 32;
  Xapian::docid top = 0;
  for (const WantedName& w : *wanted) top = std::max(top, w.first);
  if (wanted->size() < 256 || top / wanted->size() >= kMostIdsPerWanted) {
    std::sort(wanted->begin(), wanted->end());
    return;
  }
  std::vector<uint32_t> hit_of(size_t{top} + 1, kNone);
  for (const auto& [id, hit] : *wanted) {
    if (hit_of[id] != kNone) {
      std::sort(wanted->begin(), wanted->end());
      return;
    }
    hit_of[id] = hit;
  }
  wanted->clear();
  for (Xapian::docid id = 1; id <= top; ++id) {
    if (hit_of[id] != kNone) wanted->emplace_back(id, hit_of[id]);
  }
}

// Fills the names of `wanted` into block `block` of `names` from the name
// value stream of `db`, walking it in document order (much faster than
// fetching documents one by one).
void FillNamesFrom(const Xapian::Database& db, std::vector<WantedName>* wanted, size_t block,
                   HitNames* names) {
  PutInDocumentOrder(wanted);
  Xapian::ValueIterator it = db.valuestream_begin(kNameSlot);
  const Xapian::ValueIterator end = db.valuestream_end(kNameSlot);
  for (const auto& [id, hit] : *wanted) {
    if (it == end) break;
    if (it.get_docid() < id) it.skip_to(id);
    if (it == end) break;
    if (it.get_docid() == id) names->Set(hit, block, *it);
  }
}

// Fills `names` with the names of `hits`. Over two or more shards, all
// local, each shard's stream is walked on its own thread of `pool` (and the
// caller), into its own block: the hits of a ranked search lie all over the
// index, and a walk through the combined database merges the shards'
// streams at every step.
void FillNames(const ReaderPool::Reader& reader, const std::vector<Hit>& hits, TaskPool* pool,
               HitNames* names) {
  const uint32_t count = static_cast<uint32_t>(reader.local_shards.size());
  if (!reader.settings.remotes.empty() || count < 2) {
    names->Reset(hits.size(), 1, hits.size() * kNameBytesGuess);
    std::vector<WantedName> wanted;
    wanted.reserve(hits.size());
    for (uint32_t i = 0; i < hits.size(); ++i) wanted.emplace_back(hits[i].id, i);
    FillNamesFrom(reader.db, &wanted, 0, names);
    return;
  }
  names->Reset(hits.size(), count, hits.size() / count * kNameBytesGuess);
  std::vector<std::vector<WantedName>> wanted(count);
  for (uint32_t i = 0; i < hits.size(); ++i) {
    const Xapian::docid id = hits[i].id;
    if (id == 0) continue;
    wanted[(id - 1) % count].emplace_back((id - 1) / count + 1, i);
  }
  RunEach(count, pool,
          [&](uint32_t s) { FillNamesFrom(reader.local_shards[s], &wanted[s], s, names); });
}

// Marks an answer from a reader that left remote shards out.
void NotePartial(const ReaderPool::Reader& reader, SearchOutcome* outcome) {
  if (reader.missing.empty()) return;
  std::string shards;
  for (const std::string& url : reader.missing) shards += (shards.empty() ? "" : ", ") + url;
  outcome->partial = true;
  outcome->cut_off = true;
  const std::string why = "the answer is partial: remote shards not reachable: " + shards;
  outcome->cut_reason = outcome->cut_reason.empty() ? why : outcome->cut_reason + "; " + why;
}

// Why a search ended early.
std::string CutReason(const SearchClock& clock, double seconds) {
  if (clock.stopped()) return "the engine is stopping";
  return "the search ran longer than its " + std::to_string(static_cast<int>(seconds)) +
         " s deadline";
}

}  // namespace

class Engine::Impl {
 public:
  Impl(FileSystem* fs, const CharTable* table)
      : fs_(fs), table_(*table), pool_(fs), match_pool_(TaskPool::ThreadsFor(kMatchThreads)) {}

  FileSystem* const fs_;
  const CharTable& table_;
  FieldCatalogue catalogue_;
  Thesaurus thesaurus_;
  bool thesaurus_found_ = false;
  bool wordnet_found_ = false;
  ReaderPool pool_;
  // Matches the shards of a newest-first search side by side (newest_match.h).
  TaskPool match_pool_;

  Mutex mu_;
  EngineOptions options_ GUARDED_BY(mu_);
  bool stopped_ GUARDED_BY(mu_) = false;
  // Set by Stop before it waits: running searches end early.
  std::atomic<bool> stopping_{false};
  HeavySearchGate heavy_gate_;
  int active_calls_ GUARDED_BY(mu_) = 0;
  CondVar idle_;
  std::map<std::string, std::unique_ptr<Mutex>> writer_locks_ GUARDED_BY(mu_);
  std::map<std::string, std::unique_ptr<IndexGate>> gates_ GUARDED_BY(mu_);
  // The folders whose bulk build this process runs: their segments wait for
  // FinishBulkBuild instead of being merged by the next search. Each with
  // the group of segments its jobs write into (lanes 0 before the first).
  struct SegmentGroup {
    uint32_t first = 0;
    uint32_t lanes = 0;
  };
  std::map<std::string, SegmentGroup> bulk_builds_ GUARDED_BY(mu_);

  // Counts a running call for Stop; entered() is false once the engine is stopped.
  class CallGuard {
   public:
    explicit CallGuard(Impl* impl) : impl_(impl), entered_(impl->Enter()) {}
    ~CallGuard() {
      if (entered_) impl_->Leave();
    }
    bool entered() const { return entered_; }

   private:
    Impl* impl_;
    bool entered_;
  };

  // Counts a running call; false once the engine is stopped.
  bool Enter() {
    MutexLock lock(&mu_);
    if (stopped_) return false;
    ++active_calls_;
    return true;
  }
  void Leave() {
    MutexLock lock(&mu_);
    if (--active_calls_ == 0) idle_.SignalAll();
  }
  EngineOptions Options() {
    MutexLock lock(&mu_);
    return options_;
  }
  // The gate of the index in `folder` (index_gate.h).
  IndexGate* GateOf(const std::string& folder) {
    MutexLock lock(&mu_);
    std::unique_ptr<IndexGate>& g = gates_[folder];
    if (!g) g = std::make_unique<IndexGate>(fs_, folder);
    return g.get();
  }
  StatusOr<std::unique_ptr<ReaderPool::Reader>> AcquireReader(const std::string& folder) {
    // A replacement of the shards committed but not finished (its process
    // was killed, or a swap failed): finished before anything is opened, so
    // a search after a restart never sees a mix either. Segments a bulk
    // build of an earlier process committed are merged first, so that the
    // search finds their documents.
    if (HasSwapMark(fs_, folder) ||
        (HasSegmentRecord(fs_, folder) && !BulkBuildRunning(folder))) {
      MutexLock writer(WriterLock(folder));
      VANTREL_RETURN_IF_ERROR(RecoverIndex(folder));
    }
    IndexGate& gate = *GateOf(folder);
    std::shared_lock<std::shared_mutex> hold(gate.mutex(), std::try_to_lock);
    if (!hold.owns_lock()) {
      // Closed: while an add job commits, an idle reader of the state
      // before it answers at once. Without one, or during a swap, the
      // search waits for the gate.
      if (std::optional<IndexState> before = gate.StateBeforeCommit()) {
        if (auto idle = pool_.TakeIdle(folder, before->settings, before->versions)) {
          return idle;
        }
      }
      hold.lock();
    }
    return pool_.Acquire(folder);
  }
  Mutex* WriterLock(const std::string& folder) {
    MutexLock lock(&mu_);
    std::unique_ptr<Mutex>& m = writer_locks_[folder];
    if (!m) m = std::make_unique<Mutex>();
    return m.get();
  }

  bool BulkBuildRunning(const std::string& folder) {
    MutexLock lock(&mu_);
    return bulk_builds_.count(folder) != 0;
  }
  SegmentGroup BulkGroup(const std::string& folder) {
    MutexLock lock(&mu_);
    auto it = bulk_builds_.find(folder);
    return it == bulk_builds_.end() ? SegmentGroup{} : it->second;
  }
  void SetBulkGroup(const std::string& folder, SegmentGroup group) {
    MutexLock lock(&mu_);
    auto it = bulk_builds_.find(folder);
    if (it != bulk_builds_.end()) it->second = group;
  }
  void SetBulkBuildRunning(const std::string& folder, bool running) {
    MutexLock lock(&mu_);
    if (running) {
      bulk_builds_.try_emplace(folder);
    } else {
      bulk_builds_.erase(folder);
    }
  }

  // Opens a reader of the index in `folder` as it is now and reads its
  // tables (ReaderPool::ReadTables) for the next search, after a change
  // made every idle reader stale. A failure is left to that search.
  void WarmReader(const std::string& folder) {
    StatusOr<std::unique_ptr<ReaderPool::Reader>> reader = AcquireReader(folder);
    if (!reader.ok()) return;
    try {
      ReaderPool::ReadTables(**reader, &match_pool_);
    } catch (const Xapian::Error&) {
      return;
    } catch (const std::exception&) {
      return;
    }
    pool_.Release(folder, std::move(*reader));
  }

  // The local database folders of the index in `folder` (shard_layout.h).
  StatusOr<std::vector<std::string>> ShardFoldersOf(const std::string& folder);
  // Finishes a replacement of the shards that a crash cut short after its
  // commit, or throws its stagings away (shard_swap.h); deletes the segments
  // that no bulk job committed, and those a finished merge left.
  Status RecoverSwaps(const std::string& folder);
  // RecoverSwaps, then merges the committed segments (index_segments.h).
  Status RecoverIndex(const std::string& folder);
  Status MergeSegments(const std::string& folder);
  // Creates the index in `folder` (sharded) unless it holds one.
  Status CreateIndex(const std::string& folder, const EngineOptions& options);
  // Replaces the index in `folder` by a copy of the one in `source`.
  Status InstallLocked(const std::string& folder, const std::string& source);
  // Stages a copy of every shard of `source` (of `layout`) in `folder`.
  Status StageCopy(const std::string& folder, const std::string& source,
                   const ShardSettings& layout);
  Status RemoveListed(const IndexJob& job);
  Status AddDocuments(const IndexJob& job, const EngineOptions& options);
  // A bulk job: the documents go into the group of segments of every shard
  // that this build's last job wrote while it has room, or a new group
  // (index_segments.h).
  Status AddSegment(const IndexJob& job, const EngineOptions& options);
  ShardWriteSettings WriteSettingsFor(const IndexJob& job, const EngineOptions& options);
  Status CompactLocked(const std::string& folder);
  StatusOr<SearchOutcome> Search(const SearchJob& job);
  // One attempt of a search on one reader; fills `hits`, their `names` (one
  // per hit) and the outcome's match count and cut-off.
  Status RunSearchOnce(const ReaderPool::Reader& reader, const QueryNode& root,
                       const SearchJob& job, const EngineOptions& options, SearchClock* clock,
                       std::vector<Hit>* hits, HitNames* names, SearchOutcome* outcome);
  // Runs the compiled query, ending it early when the clock runs out.
  void Match(const ReaderPool::Reader& reader, const Xapian::Query& query, bool every_document,
             const SearchJob& job, const CompileStats& cost, SearchClock* clock,
             std::vector<Hit>* hits, SearchOutcome* outcome);
  // A ranked match of two or more local shards in parts side by side
  // (ranked_match.h); false when the reader cannot split it.
  // With `newest_first`, the newest matches of a weighted query, weighed.
  bool MatchRankedInParts(const ReaderPool::Reader& reader, const Xapian::Query& query,
                          Xapian::doccount limit, bool unlimited, bool positional,
                          bool newest_first, SearchClock* clock, std::vector<Hit>* hits,
                          SearchOutcome* outcome);
  // A ranked match over the local shards by their postings, of a query
  // weighed as one term or two (posting_rank.h); false when it does not
  // take the query.
  bool RankByPostingsInShards(const ReaderPool::Reader& reader, const Xapian::Query& query,
                              Xapian::doccount limit, bool unlimited, SearchClock* clock,
                              std::vector<Hit>* hits, SearchOutcome* outcome);
};

namespace {

Status Stopped() { return Status::FailedPrecondition("the engine is stopped"); }

// Tells the receiver how many hits follow and how long their names are.
void AnnounceHits(const HitNames& names, const EngineMessageCallback& callback) {
  EngineMessage m;
  m.code = kMessageHitsComing;
  for (size_t i = 0; i < names.hits(); ++i) {
    const size_t size = names.Of(i).size();
    if (size == 0) continue;
    ++m.count;
    m.name_bytes += size;
  }
  if (m.count > 0) callback(m);
}

// Makes an empty database in `folder`, over whatever a creation cut short
// left there.
Status CreateEmptyDatabase(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(ClearUnfinishedCreation(fs, folder));
  try {
    Xapian::WritableDatabase db(folder, Xapian::DB_CREATE_OR_OPEN | Xapian::DB_BACKEND_GLASS,
                                kShardBlockSize);
    db.close();
  } catch (const Xapian::Error& e) {
    return WriterError(folder, e);
  }
  return Status::Ok();
}

}  // namespace

StatusOr<std::vector<std::string>> Engine::Impl::ShardFoldersOf(const std::string& folder) {
  StatusOr<ShardSettings> settings = ReadShardSettings(fs_, folder);
  if (!settings.ok()) return settings.status();
  return LocalShardFolders(*settings, folder);
}

Status Engine::Impl::RecoverSwaps(const std::string& folder) {
  const bool committed = HasSwapMark(fs_, folder);
  if (committed) {
    // A committed replacement is finished while searches are held back.
    std::unique_lock<std::shared_mutex> gate(GateOf(folder)->mutex());
    VANTREL_RETURN_IF_ERROR(RecoverShardSwap(fs_, folder));
  } else {
    VANTREL_RETURN_IF_ERROR(RecoverShardSwap(fs_, folder));
  }
  // A committed swap with a segment record was their merge (every other
  // replacement merges them first): the segments are in the shards now.
  if (committed) VANTREL_RETURN_IF_ERROR(DeleteSegmentRecord(fs_, folder));
  StatusOr<std::vector<uint32_t>> recorded = ReadSegmentRecord(fs_, folder);
  if (!recorded.ok()) return recorded.status();
  StatusOr<std::vector<std::string>> shards = ShardFoldersOf(folder);
  if (!shards.ok()) return shards.status();
  return DeleteSegments(fs_, *shards, *recorded);
}

Status Engine::Impl::RecoverIndex(const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(RecoverSwaps(folder));
  return MergeSegments(folder);
}

// Each shard compacted with its segments is staged beside it (the long
// part); the swap mark commits them all. The record goes next: from the
// mark on, the segments are part of the shards. Then, while searches are
// held back, the stagings are swapped in, and the segments deleted.
Status Engine::Impl::MergeSegments(const std::string& folder) {
  StatusOr<std::vector<uint32_t>> recorded = ReadSegmentRecord(fs_, folder);
  if (!recorded.ok()) return recorded.status();
  if (recorded->empty()) return Status::Ok();
  StatusOr<ShardSettings> settings = ReadShardSettings(fs_, folder);
  if (!settings.ok()) return settings.status();
  const std::vector<std::string> shards = LocalShardFolders(*settings, folder);
  Status staged = StageMergedShards(fs_, shards, *recorded);
  if (staged.ok()) staged = CommitShardSwap(fs_, folder, settings->layout);
  if (!staged.ok() && !HasSwapMark(fs_, folder)) {
    DiscardShardStagings(fs_, folder).IgnoreError();
    return staged;
  }
  Status finished = DeleteSegmentRecord(fs_, folder);
  if (finished.ok()) {
    std::unique_lock<std::shared_mutex> gate(GateOf(folder)->mutex());
    finished = FinishShardSwap(fs_, folder, settings->layout);
  }
  if (finished.ok()) finished = DeleteSegments(fs_, shards, {});
  return finished.ok() ? staged : finished;
}

Status Engine::Impl::CreateIndex(const std::string& folder, const EngineOptions& options) {
  StatusOr<ShardSettings> settings = ReadShardSettings(fs_, folder);
  if (!settings.ok()) return settings.status();
  if (settings->layout != 0 || fs_->Exists(folder + "/" + kVersionFileName)) return Status::Ok();
  uint32_t count = settings->next_count != 0 ? settings->next_count : options.new_index_shards;
  if (count == 0) count = DefaultShardCount();
  count = std::min(count, kMaxShards);
  if (count == 1) return CreateEmptyDatabase(fs_, folder);
  // The shards first, the layout line last: until it is written the folder
  // holds no index, and a creation cut short is done again over it.
  for (uint32_t i = 0; i < count; ++i) {
    const std::string shard = ShardFolder(folder, i);
    VANTREL_RETURN_IF_ERROR(fs_->CreateFolders(shard));
    VANTREL_RETURN_IF_ERROR(CreateEmptyDatabase(fs_, shard));
  }
  settings->layout = count;
  return WriteShardSettings(fs_, folder, *settings);
}

Status Engine::Impl::RemoveListed(const IndexJob& job) {
  std::vector<std::string> names;
  if (job.remove_list_in_file && !job.remove_list_path.empty()) {
    StatusOr<std::string> bytes = fs_->ReadFile(job.remove_list_path, kMaxRemoveListBytes);
    if (bytes.ok()) {
      names = ParseRemoveList(*bytes);
    } else if (!bytes.status().IsNotFound()) {
      return bytes.status();
    }
  }
  StatusOr<std::vector<std::string>> shards = ShardFoldersOf(job.index_folder);
  if (!shards.ok()) return shards.status();
  const uint32_t count = static_cast<uint32_t>(shards->size());
  for (uint32_t i = 0; i < count; ++i) {
    const std::string& folder = (*shards)[i];
    try {
      Xapian::WritableDatabase db(folder, Xapian::DB_OPEN | Xapian::DB_BACKEND_GLASS);
      db.begin_transaction(true);
      try {
        for (const std::string& name : names) {
          if (ShardOf(name, count) == i) db.delete_document(IdTermForName(name));
        }
        db.commit_transaction();
      } catch (...) {
        try {
          db.cancel_transaction();
        } catch (const Xapian::Error&) {
        }
        throw;
      }
      db.close();
    } catch (const Xapian::Error& e) {
      return WriterError(folder, e);
    }
  }
  return CompactLocked(job.index_folder);
}

ShardWriteSettings Engine::Impl::WriteSettingsFor(const IndexJob& job,
                                                  const EngineOptions& options) {
  ShardWriteSettings settings;
  settings.create = job.create;
  settings.commit_every = options.commit_every;
  settings.max_text_bytes = options.max_text_bytes;
  settings.after_shard_commit = options.after_shard_commit;
  if (job.message_callback) {
    settings.progress = [&job](uint64_t done) {
      EngineMessage m;
      m.code = kMessageProgress;
      m.count = done;
      job.message_callback(m);
    };
  }
  return settings;
}

Status Engine::Impl::AddDocuments(const IndexJob& job, const EngineOptions& options) {
  StatusOr<std::vector<std::string>> shards = ShardFoldersOf(job.index_folder);
  if (!shards.ok()) return shards.status();
  const DocumentIndexer indexer(table_, catalogue_);
  ShardWriteSettings settings = WriteSettingsFor(job, options);
  settings.folders = std::move(*shards);
  settings.commit_gate = GateOf(job.index_folder);
  return WriteToShards(settings, indexer, job.data_source);
}

// No search opens a segment, so its commits need no gate. A job that starts
// a segment is done when the record lists it, and leaves nothing behind
// when it fails; a job that adds to the newest segment is done at its
// commits, as a job on the shards is.
Status Engine::Impl::AddSegment(const IndexJob& job, const EngineOptions& options) {
  const std::string& folder = job.index_folder;
  StatusOr<std::vector<std::string>> shards = ShardFoldersOf(folder);
  if (!shards.ok()) return shards.status();
  // Segments are merged into their shards: the index must exist.
  for (const std::string& shard : *shards) {
    if (!fs_->Exists(shard + "/" + kVersionFileName)) {
      return Status::NotFound("no index in " + folder);
    }
  }
  StatusOr<std::vector<uint32_t>> recorded = ReadSegmentRecord(fs_, folder);
  if (!recorded.ok()) return recorded.status();
  const uint32_t lanes =
      BulkLanes(options.bulk_lanes, shards->size(), std::thread::hardware_concurrency());
  SegmentGroup group = BulkGroup(folder);
  const bool open = group.lanes == lanes &&
                    SegmentGroupHasRoom(shards->front(), *recorded, group.first, group.lanes,
                                        options.segment_documents);
  if (!open) {
    StatusOr<uint32_t> next = NextSegmentNumber(fs_, *shards, *recorded);
    if (!next.ok()) return next.status();
    if (*next > kMaxSegments - lanes) return Status::Internal("too many segments in " + folder);
    group = SegmentGroup{*next, lanes};
  }
  const DocumentIndexer indexer(table_, catalogue_);
  ShardWriteSettings settings = WriteSettingsFor(job, options);
  settings.create = true;
  settings.folders = SegmentGroupFolders(*shards, group.first, group.lanes);
  for (const std::string& segment : settings.folders) {
    VANTREL_RETURN_IF_ERROR(fs_->CreateFolders(segment));
  }
  Status written = WriteToShards(settings, indexer, job.data_source);
  if (open) return written;
  if (written.ok()) written = RecordSegments(fs_, folder, group.first, group.lanes);
  if (written.ok()) {
    SetBulkGroup(folder, group);
  } else {
    StatusOr<std::vector<uint32_t>> now = ReadSegmentRecord(fs_, folder);
    if (now.ok()) DeleteSegments(fs_, *shards, *now).IgnoreError();
  }
  return written;
}

Status Engine::Impl::CompactLocked(const std::string& folder) {
  StatusOr<std::vector<std::string>> shards = ShardFoldersOf(folder);
  if (!shards.ok()) return shards.status();
  for (const std::string& shard : *shards) {
    VANTREL_RETURN_IF_ERROR(StageAndSwap(fs_, shard, [&](const std::string& stage) -> Status {
      try {
        Xapian::Database db(shard, Xapian::DB_BACKEND_GLASS);
        db.compact(stage, 0, kShardBlockSize);
      } catch (const Xapian::Error& e) {
        return Status::IoError("compacting " + shard + " failed: " + Describe(e));
      }
      return Status::Ok();
    }));
  }
  return Status::Ok();
}

// The copy's databases are first staged beside the index's (the long part:
// copying every file); then the swap mark commits the replacement, and
// while searches are held back from opening the index (its gate)
// every staged database is swapped in (renames only), the settings line
// that names the layout changes, and what the old layout held beyond the
// new one is deleted (shard_swap.h). A search therefore opens either every
// old shard or every new one, and a crash leaves one of the two.
Status Engine::Impl::InstallLocked(const std::string& folder, const std::string& source) {
  StatusOr<ShardSettings> from = ReadShardSettings(fs_, source);
  if (!from.ok()) return from.status();
  // A damaged settings file of the index is reported before anything is copied.
  VANTREL_RETURN_IF_ERROR(ReadShardSettings(fs_, folder).status());
  Status staged = StageCopy(folder, source, *from);
  if (staged.ok()) staged = CommitShardSwap(fs_, folder, from->layout);
  // A mark renamed into place stands even when syncing its folder failed:
  // the stagings it commits must then stay, and the swap goes on.
  if (!staged.ok() && !HasSwapMark(fs_, folder)) {
    DiscardShardStagings(fs_, folder).IgnoreError();
    return staged;
  }
  std::unique_lock<std::shared_mutex> gate(GateOf(folder)->mutex());
  Status finished = FinishShardSwap(fs_, folder, from->layout);
  return finished.ok() ? staged : finished;
}

Status Engine::Impl::StageCopy(const std::string& folder, const std::string& source,
                               const ShardSettings& layout) {
  const std::vector<std::string> sources = LocalShardFolders(layout, source);
  const std::vector<std::string> targets = LocalShardFolders(layout, folder);
  for (size_t i = 0; i < sources.size(); ++i) {
    VANTREL_RETURN_IF_ERROR(fs_->CreateFolders(targets[i]));
    VANTREL_RETURN_IF_ERROR(StageDatabase(fs_, targets[i], [&](const std::string& stage) {
      return CopyDatabaseFiles(fs_, sources[i], stage);
    }));
  }
  return Status::Ok();
}

namespace {

// Every document: the name stream, read in one walk instead of matching.
void WalkEveryName(const Xapian::Database& db, std::vector<Hit>* hits, HitNames* names) {
  const Xapian::doccount count = db.get_doccount();
  hits->reserve(count);
  names->Reset(count, 1, count * kNameBytesGuess);
  for (Xapian::ValueIterator it = db.valuestream_begin(kNameSlot);
       it != db.valuestream_end(kNameSlot); ++it) {
    // A database changed since its count was taken is read again.
    if (hits->size() == count) throw Xapian::DatabaseModifiedError("more names than documents");
    names->Set(hits->size(), 0, *it);
    hits->push_back(Hit{it.get_docid(), 1, std::string()});
  }
}

// Gives the hits of an unranked match the scores a ranked match gives them:
// a large synonym's from its statistics, any other query's through Xapian.
// Over two or more local shards Xapian's weighing runs in parts side by
// side (ranked_match.h), one per thread of `pool` and the caller.
void ScoreKept(const ReaderPool::Reader& reader, const std::vector<std::string>& uuids,
               const Xapian::Query& query, SearchClock* clock, TaskPool* pool,
               std::vector<Hit>* hits) {
  std::vector<Xapian::docid> ids;
  ids.reserve(hits->size());
  for (const Hit& h : *hits) ids.push_back(h.id);
  const bool all_local = reader.local_shards.size() == uuids.size();
  std::optional<std::vector<double>> weights;
  if (all_local) weights = ScoreSynonymDirectly(reader.db, reader.local_shards, query, ids);
  const size_t parts = std::min<size_t>(reader.local_shards.size(), pool->threads() + 1);
  if (!weights.has_value() && all_local && parts >= 2 && ReaderPool::OpenViews(reader, parts - 1)) {
    std::vector<const Xapian::Database*> views{&reader.db};
    for (size_t i = 0; i + 1 < parts; ++i) views.push_back(&reader.views[i]);
    weights = ScoreInParts(views, uuids, query, ids, clock, pool);
  }
  if (!weights.has_value()) weights = ScoreDocuments(reader.db, uuids, query, ids);
  for (size_t i = 0; i < hits->size(); ++i) (*hits)[i].score = ScoreOf((*weights)[i]);
}

// The newest-first match of a query that posting lists decide alone (no
// positions): each local shard walked into a bitmap on its own thread
// instead of Xapian's matcher, which merges every term's list through a heap
// and reads the time of every match. The kept hits are then scored. False
// when the walk cannot take the query (newest_match.h then does).
bool MatchNewestByBitmap(const ReaderPool::Reader& reader, const Xapian::Query& query, size_t limit,
                         const std::vector<std::string>& uuids, SearchClock* clock, TaskPool* pool,
                         std::vector<Hit>* hits, SearchOutcome* outcome) {
  std::optional<NewestMatch> match =
      MatchNewestByPostings(reader.local_shards, query, limit, &reader.times, clock, pool);
  if (!match.has_value()) return false;
  outcome->matches = match->matches;
  hits->reserve(match->kept.size());
  for (Xapian::docid id : match->kept) hits->push_back(Hit{id, 1, std::string()});
  if (match->synonym.has_value() && reader.local_shards.size() == uuids.size()) {
    const std::vector<double> weights =
        ScoreSynonymWithStats(reader.db, reader.local_shards, *match->synonym, match->kept);
    for (size_t i = 0; i < hits->size(); ++i) (*hits)[i].score = ScoreOf(weights[i]);
  } else {
    ScoreKept(reader, uuids, query, clock, pool, hits);
  }
  outcome->cut_off = clock->expired();
  return true;
}

// A newest-first match of `query` over the local shards of `reader`, each
// shard on a thread of `pool` (newest_match.h): the hits and count of the
// combined match, unscored.
void MatchInShards(const ReaderPool::Reader& reader, const Xapian::Query& query,
                   Xapian::doccount limit, bool watched, SearchClock* clock, TaskPool* pool,
                   std::vector<Hit>* hits, SearchOutcome* outcome) {
  ShardedNewestMatch match;
  match.shards = &reader.local_shards;
  match.query = &query;
  match.limit = limit;
  match.watched = watched;
  match.times = &reader.times;
  NewestHits found = MatchNewestInShards(match, clock, pool);
  *hits = std::move(found.hits);
  outcome->matches = found.matches;
}

// Queries below these sizes end quickly by themselves; larger ones, and every
// query matched by positions, are watched by the search's clock. Ranked
// queries of that many terms stay on one match: Xapian opens every term's
// postings in every shard for each part of a split match.
constexpr size_t kWatchedTerms = 256;

// Whether every match of `query` weighs 0 (Xapian's bound on the weights of
// its matches; the match itself is not run).
bool EveryMatchWeighsZero(const Xapian::Database& db, const Xapian::Query& query) {
  Xapian::Enquire enquire(db);
  enquire.set_query(query);
  return enquire.get_mset(0, 0).get_max_possible() == 0;
}

// Scores the kept hits of an unranked match (ScoreKept). A match found by
// positions whose every match weighs 0 (a window's or a phrase's weight is
// scaled away) gives each hit the score of weight 0 without a second match.
void ScoreUnranked(const ReaderPool::Reader& reader, const std::vector<std::string>& uuids,
                   const Xapian::Query& query, bool positional, SearchClock* clock,
                   TaskPool* pool, std::vector<Hit>* hits) {
  if (positional && EveryMatchWeighsZero(reader.db, query)) {
    for (Hit& h : *hits) h.score = ScoreOf(0.0);
    return;
  }
  ScoreKept(reader, uuids, query, clock, pool, hits);
}

}  // namespace

bool Engine::Impl::RankByPostingsInShards(const ReaderPool::Reader& reader,
                                          const Xapian::Query& query, Xapian::doccount limit,
                                          bool unlimited, SearchClock* clock,
                                          std::vector<Hit>* hits, SearchOutcome* outcome) {
  const std::optional<WeighedHits> found = RankByPostings(
      reader.db, reader.local_shards, query, limit, &reader.lengths, clock, &match_pool_);
  if (!found.has_value()) return false;
  hits->reserve(found->hits.size());
  for (const WeighedHit& h : found->hits) {
    hits->push_back(Hit{h.id, ScoreOf(h.weight), std::string()});
  }
  outcome->matches = unlimited ? static_cast<Xapian::doccount>(hits->size()) : found->matches;
  outcome->cut_off = clock->expired();
  return true;
}

bool Engine::Impl::MatchRankedInParts(const ReaderPool::Reader& reader, const Xapian::Query& query,
                                      Xapian::doccount limit, bool unlimited, bool positional,
                                      bool newest_first, SearchClock* clock,
                                      std::vector<Hit>* hits, SearchOutcome* outcome) {
  RankedParts match;
  match.query = &query;
  match.limit = limit;
  match.newest_first = newest_first;
  match.weightless = positional && EveryMatchWeighsZero(reader.db, query);
  if (match.weightless && newest_first) return false;
  if (match.weightless) {
    for (const Xapian::Database& shard : reader.local_shards) match.views.push_back(&shard);
  } else {
    const size_t parts = std::min<size_t>(reader.local_shards.size(), match_pool_.threads() + 1);
    std::optional<std::vector<std::string>> uuids = ShardUuids(reader.db);
    if (parts < 2 || !uuids.has_value() || !ReaderPool::OpenViews(reader, parts - 1)) return false;
    match.uuids = std::move(*uuids);
    match.views.push_back(&reader.db);
    for (size_t i = 0; i + 1 < parts; ++i) match.views.push_back(&reader.views[i]);
  }
  const RankedHits found = vantrel::MatchRankedInParts(match, clock, &match_pool_);
  hits->reserve(found.hits.size());
  for (const RankedHit& h : found.hits) {
    hits->push_back(Hit{h.id, ScoreOf(h.weight), std::string()});
  }
  outcome->matches = unlimited ? static_cast<Xapian::doccount>(hits->size()) : found.matches;
  outcome->cut_off = clock->expired();
  return true;
}

void Engine::Impl::Match(const ReaderPool::Reader& reader, const Xapian::Query& query,
                         bool every_document, const SearchJob& job, const CompileStats& cost,
                         SearchClock* clock, std::vector<Hit>* hits, SearchOutcome* outcome) {
  const bool watched = cost.positional || cost.terms >= kWatchedTerms;
  const Xapian::Database& db = reader.db;
  const bool local_only = reader.settings.remotes.empty();
  const bool unlimited = job.max_hits < 0;
  const bool newest_first = !unlimited && (job.flags & kSearchNewestFirst);
  // When the limit cuts the result, the newest documents are kept. Where the
  // kept documents can be scored afterwards (local shards), the match does
  // not rank: a frequent word then costs a walk of its postings, not a
  // weight per match.
  std::optional<std::vector<std::string>> uuids;
  if (newest_first && !every_document && local_only) uuids = ShardUuids(db);
  const bool unranked = every_document || uuids.has_value();
  const Xapian::doccount total = db.get_doccount();
  const Xapian::doccount limit =
      unlimited ? total
                : std::min<Xapian::doccount>(total, static_cast<Xapian::doccount>(job.max_hits));
  // A match that posting lists decide alone walks them into bitmaps.
  if (uuids.has_value() &&
      MatchNewestByBitmap(reader, query, limit, *uuids, clock, &match_pool_, hits, outcome)) {
    return;
  }
  // Other such matches: over two or more local shards a weighted one (a
  // phrase by fields) runs in parts side by side, each weighing its newest
  // in the match itself; the others (those found by positions, weighing 0,
  // watched by the clock) run each shard on its own thread, an index of one
  // database too, keeping the newest by the time tables. Both give the hits
  // and count of the single match.
  if (uuids.has_value() && reader.local_shards.size() >= 2 && limit > 0 && !cost.positional &&
      cost.terms < kWatchedTerms &&
      MatchRankedInParts(reader, query, limit, false, false, true, clock, hits, outcome)) {
    return;
  }
  if (uuids.has_value() && !reader.local_shards.empty() && limit > 0) {
    MatchInShards(reader, query, limit, watched, clock, &match_pool_, hits, outcome);
    ScoreUnranked(reader, *uuids, query, cost.positional, clock, &match_pool_, hits);
    outcome->cut_off = clock->expired();
    return;
  }
  // A ranked word, wildcard, or two of them joined by AND, OR or AND NOT,
  // over local shards, adds up its terms' postings per shard instead of
  // merging them (posting_rank.h): the same hits, order and weights, and
  // the exact count.
  if (!unranked && !newest_first && local_only && limit > 0 &&
      RankByPostingsInShards(reader, query, limit, unlimited, clock, hits, outcome)) {
    return;
  }
  // A ranked match over two or more local shards runs in parts side by
  // side, to the same hits, order and weights.
  if (!unranked && !newest_first && local_only && reader.local_shards.size() >= 2 && limit > 0 &&
      cost.terms < kWatchedTerms &&
      MatchRankedInParts(reader, query, limit, unlimited, cost.positional, false, clock, hits,
                         outcome)) {
    return;
  }
  Xapian::Enquire enquire(db);
  enquire.set_query(query);
  if (unranked) enquire.set_weighting_scheme(Xapian::BoolWeight());
  if (newest_first && unranked) {
    enquire.set_sort_by_value(kTimeSlot, true);
  } else if (newest_first) {
    enquire.set_sort_by_value_then_relevance(kTimeSlot, true);
  }
  // A spy over a database of several shards sees shard-local ids.
  const size_t databases =
      reader.local_shards.size() + reader.settings.remotes.size() - reader.missing.size();
  PartialHits partial(clock, limit, newest_first, ShardPlace{}, databases > 1);
  if (newest_first && databases == 1 && local_only) partial.ReadTimesLater(&db);
  // A remote shard's server takes no spy of ours: with remote shards the
  // deadline ends the expansions, not the match.
  const bool spied = watched && local_only;
  if (spied) enquire.add_matchspy(&partial);
  try {
    // An unranked newest-first match considers every match anyway (to find
    // the newest), so counting them exactly costs nothing more; the search
    // service reports the count as the hits found. A spy would see the
    // documents of a second match again: a spied match runs once.
    const Xapian::doccount check = uuids.has_value() ? total : 0;
    Xapian::MSet mset =
        spied ? enquire.get_mset(0, limit, check) : MatchUpToLimit(enquire, limit, check);
    outcome->matches = unlimited ? mset.size() : mset.get_matches_estimated();
    hits->reserve(mset.size());
    for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it) {
      hits->push_back(Hit{*it, ScoreOf(it.get_weight()), std::string()});
    }
  } catch (const SearchCutOff&) {
    *hits = partial.Take();
    if (databases > 1) GiveCombinedIds(db, hits);
    outcome->matches = hits->size();
  }
  if (uuids.has_value()) {
    ScoreUnranked(reader, *uuids, query, cost.positional, clock, &match_pool_, hits);
  }
  // A positional part that ran out of time ended the match itself.
  outcome->cut_off = clock->expired();
}

Status Engine::Impl::RunSearchOnce(const ReaderPool::Reader& reader, const QueryNode& root,
                                   const SearchJob& job, const EngineOptions& options,
                                   SearchClock* clock, std::vector<Hit>* hits, HitNames* names,
                                   SearchOutcome* outcome) {
  const Xapian::Database& db = reader.db;
  hits->clear();
  names->Reset(0, 1);
  const bool every_document = root.kind == QueryNode::Kind::kWord &&
                              (root.word == kLastWordTerm || root.word == kFirstWordTerm);
  if (every_document && job.max_hits < 0) {
    WalkEveryName(db, hits, names);
    outcome->matches = hits->size();
    return Status::Ok();
  }
  CompileSettings settings;
  settings.flags = job.flags;
  settings.max_edits = (job.flags & kSearchFuzzy) ? MaxEditsForFuzziness(job.fuzziness) : 0;
  settings.max_expansion = options.max_expansion;
  settings.max_query_terms = options.max_query_terms;
  settings.thesaurus = &thesaurus_;
  settings.clock = clock;
  settings.own_sources = reader.settings.remotes.empty();
  CompileStats cost;
  Xapian::Query query = every_document ? Xapian::Query::MatchAll
                                       : CompileQuery(root, catalogue_, settings, db, &cost);
  HeavySlot slot;
  if (cost.terms >= options.heavy_terms) {
    const auto until =
        std::min(clock->deadline(),
                 SearchClock::Clock::now() + std::chrono::milliseconds(options.heavy_wait_ms));
    if (!heavy_gate_.Enter(job.index_folder, until, stopping_)) {
      outcome->cut_off = true;
      outcome->cut_reason = clock->stopped() ? "the engine is stopping"
                                             : "another heavy search of this index was running";
      return Status::Ok();
    }
    slot.Hold(&heavy_gate_, job.index_folder);
  }
  Match(reader, query, every_document, job, cost, clock, hits, outcome);
  if (outcome->cut_off) {
    outcome->cut_reason = CutReason(*clock, options.search_seconds);
  } else if (cost.bounded_at > 0) {
    outcome->cut_off = true;
    outcome->cut_reason = "a wildcard matched more words than its bound: the " +
                          std::to_string(cost.bounded_at) + " most frequent were searched";
  }
  FillNames(reader, *hits, &match_pool_, names);
  return Status::Ok();
}

StatusOr<SearchOutcome> Engine::Impl::Search(const SearchJob& job) {
  SearchOutcome outcome;
  auto send_error = [&](const std::string& text) {
    outcome.error = text;
    if (job.message_callback) {
      EngineMessage m;
      m.code = kMessageQueryError;
      m.text = outcome.error;
      job.message_callback(m);
    }
  };
  ParsedQuery parsed = ParseQuery(job.query, table_, catalogue_);
  // An unknown index is reported before a bad query.
  StatusOr<std::unique_ptr<ReaderPool::Reader>> reader = AcquireReader(job.index_folder);
  if (!reader.ok()) return reader.status();
  if (!parsed.error.empty()) {
    pool_.Release(job.index_folder, std::move(*reader));
    send_error(parsed.error);
    return outcome;
  }
  const EngineOptions options = Options();
  const auto budget = std::chrono::duration_cast<SearchClock::Clock::duration>(
      std::chrono::duration<double>(std::max(options.search_seconds, 0.0)));
  SearchClock clock(SearchClock::Clock::now() + budget, &stopping_);
  std::vector<Hit> hits;
  HitNames names;
  Status result;
  for (int attempt = 0;; ++attempt) {
    try {
      result = RunSearchOnce(**reader, *parsed.root, job, options, &clock, &hits, &names, &outcome);
      NotePartial(**reader, &outcome);
      pool_.Release(job.index_folder, std::move(*reader));
      break;
    } catch (const Xapian::DatabaseModifiedError& e) {
      // Changed under us: open the current state and run again.
      if (attempt + 1 >= kSearchAttempts) {
        return Status::Unavailable("the index in " + job.index_folder +
                                   " kept changing during the search: " + Describe(e));
      }
    } catch (const Xapian::DatabaseError& e) {
      if (attempt + 1 >= kSearchAttempts) {
        return Status::IoError("search in " + job.index_folder + " failed: " + Describe(e));
      }
    } catch (const Xapian::NetworkError& e) {
      // A remote shard went away during the search: run again without it.
      pool_.NoteRemoteFailure(job.index_folder);
      if (attempt + 1 >= kSearchAttempts) {
        return Status::Unavailable("search in " + job.index_folder + " failed: " + Describe(e));
      }
    } catch (const Xapian::Error& e) {
      // Anything else is a query the engine cannot run.
      pool_.Release(job.index_folder, std::move(*reader));
      send_error("The query cannot be run: " + Describe(e));
      return outcome;
    } catch (const std::bad_alloc&) {
      send_error("The query needs too much memory");
      return outcome;
    }
    reader = AcquireReader(job.index_folder);
    if (!reader.ok()) return reader.status();
  }
  if (!result.ok()) return result;
  if (job.message_callback) AnnounceHits(names, job.message_callback);
  // Every hit has its place among the names (a hit with no name value has
  // an empty one).
  const size_t named = std::min(hits.size(), names.hits());
  for (size_t i = 0; i < named; ++i) {
    const std::string_view name = names.Of(i);
    if (name.empty()) continue;
    ++outcome.delivered;
    if (job.message_callback) {
      EngineMessage m;
      m.code = kMessageFoundDocument;
      m.name = name;
      m.score = hits[i].score;
      job.message_callback(m);
    }
  }
  return outcome;
}

Engine::Engine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Engine::~Engine() { Stop(); }

StatusOr<std::unique_ptr<Engine>> Engine::Start(const EngineStartOptions& options) {
  FileSystem* fs = options.fs != nullptr ? options.fs : DefaultFileSystem();
  const CharTable* table =
      options.char_table != nullptr ? options.char_table : &CharTable::Default();
  const std::string& home = options.home_folder;
  if (home.empty() || !fs->IsFolder(home)) {
    return Status::InvalidArgument("the engine's home folder " + home + " is not a folder");
  }
  auto impl = std::make_unique<Impl>(fs, table);
  Status s = fs->DeleteFile(Join(home, kInUseFile));
  if (!s.ok() && !s.IsNotFound()) return s;
  impl->thesaurus_found_ = fs->Exists(Join(home, kThesaurusFile));
  impl->wordnet_found_ = fs->Exists(Join(home, kWordNetFile));
  StatusOr<FieldCatalogue> catalogue = FieldCatalogue::Load(fs, Join(home, names::kFieldCatalogue));
  if (catalogue.ok()) impl->catalogue_ = std::move(*catalogue);
  if (impl->thesaurus_found_) {
    StatusOr<std::string> text = fs->ReadFile(Join(home, kThesaurusFile), kMaxThesaurusBytes);
    if (text.ok()) impl->thesaurus_ = Thesaurus::Parse(*text, *table);
  }
  return std::unique_ptr<Engine>(new Engine(std::move(impl)));
}

void Engine::Stop() {
  impl_->stopping_ = true;
  impl_->heavy_gate_.WakeAll();
  {
    MutexLock lock(&impl_->mu_);
    impl_->stopped_ = true;
    while (impl_->active_calls_ > 0) impl_->idle_.Wait(&impl_->mu_);
  }
  impl_->match_pool_.Stop();
  impl_->pool_.Clear();
}

bool Engine::thesaurus_found() const { return impl_->thesaurus_found_; }
bool Engine::wordnet_found() const { return impl_->wordnet_found_; }
const FieldCatalogue& Engine::catalogue() const { return impl_->catalogue_; }

StatusOr<IndexInfo> Engine::GetIndexInfo(const std::string& index_folder) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  StatusOr<std::unique_ptr<ReaderPool::Reader>> reader = impl_->AcquireReader(index_folder);
  if (!reader.ok()) return reader.status();
  IndexInfo info;
  info.document_count = (*reader)->db.get_doccount();
  impl_->pool_.Release(index_folder, std::move(*reader));
  return info;
}

int Engine::RunningHeavySearches() const { return impl_->heavy_gate_.running(); }

EngineOptions Engine::GetOptions() const { return impl_->Options(); }

void Engine::SetOptions(const EngineOptions& options) {
  MutexLock lock(&impl_->mu_);
  impl_->options_ = options;
}

Status Engine::RunIndexJob(const IndexJob& job) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  Status result;
  // A bulk job's segments are not searched until the build ends.
  const bool bulk = job.bulk && job.add && !job.remove;
  if (job.index_folder.empty()) {
    result = Status::InvalidArgument("an index job needs an index folder");
  } else {
    MutexLock writer(impl_->WriterLock(job.index_folder));
    FileSystem* fs = impl_->fs_;
    if (bulk) impl_->SetBulkBuildRunning(job.index_folder, true);
    if (job.create) result = fs->CreateFolders(job.index_folder);
    if (result.ok()) {
      result = bulk ? impl_->RecoverSwaps(job.index_folder) : impl_->RecoverIndex(job.index_folder);
    }
    if (result.ok() && job.create) result = impl_->CreateIndex(job.index_folder, impl_->Options());
    if (result.ok() && job.remove) result = impl_->RemoveListed(job);
    if (result.ok() && job.add) {
      result = bulk ? impl_->AddSegment(job, impl_->Options())
                    : impl_->AddDocuments(job, impl_->Options());
    }
  }
  if (result.ok() && !bulk && (job.add || job.remove)) impl_->WarmReader(job.index_folder);
  if (!result.ok() && job.message_callback) {
    EngineMessage m;
    m.code = kMessageJobError;
    std::string text = result.ToString();
    m.text = text;
    job.message_callback(m);
  }
  return result;
}

StatusOr<SearchOutcome> Engine::RunSearchJob(const SearchJob& job) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  return impl_->Search(job);
}

Status Engine::FinishBulkBuild(const std::string& index_folder) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  Status merged;
  {
    MutexLock writer(impl_->WriterLock(index_folder));
    impl_->SetBulkBuildRunning(index_folder, false);
    if (!impl_->fs_->IsFolder(index_folder)) return Status::Ok();
    merged = impl_->RecoverIndex(index_folder);
  }
  if (merged.ok()) impl_->WarmReader(index_folder);
  return merged;
}

Status Engine::Compact(const std::string& index_folder) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  MutexLock writer(impl_->WriterLock(index_folder));
  VANTREL_RETURN_IF_ERROR(impl_->RecoverIndex(index_folder));
  return impl_->CompactLocked(index_folder);
}

Status Engine::InstallIndexFiles(const std::string& index_folder,
                                 const std::string& source_folder) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  if (!HoldsIndex(impl_->fs_, source_folder))
    return Status::NotFound("no index in " + source_folder);
  MutexLock writer(impl_->WriterLock(index_folder));
  VANTREL_RETURN_IF_ERROR(impl_->fs_->CreateFolders(index_folder));
  VANTREL_RETURN_IF_ERROR(impl_->RecoverIndex(index_folder));
  return impl_->InstallLocked(index_folder, source_folder);
}

Status Engine::CheckIndexFiles(const std::string& index_folder) {
  Impl::CallGuard guard(impl_.get());
  if (!guard.entered()) return Stopped();
  // Every table is read to its end: each term's postings, and each
  // document's data, terms and positions. A damaged or truncated table
  // throws.
  try {
    StatusOr<std::vector<std::string>> shards = impl_->ShardFoldersOf(index_folder);
    if (!shards.ok()) {
      return Status::Corruption("cannot check the index in " + index_folder + ": " +
                                shards.status().ToString());
    }
    Xapian::Database db;
    for (const std::string& shard : *shards) db.add_database(Xapian::Database(shard));
    for (auto term = db.allterms_begin(); term != db.allterms_end(); ++term) {
      for (auto p = db.postlist_begin(*term); p != db.postlist_end(*term); ++p) (void)*p;
    }
    for (auto d = db.postlist_begin(""); d != db.postlist_end(""); ++d) {
      Xapian::Document doc = db.get_document(*d);
      (void)doc.get_data();
      for (auto t = doc.termlist_begin(); t != doc.termlist_end(); ++t) {
        for (auto pos = t.positionlist_begin(); pos != t.positionlist_end(); ++pos) (void)*pos;
      }
    }
  } catch (const Xapian::Error& e) {
    return Status::Corruption("cannot check the index in " + index_folder + ": " +
                              e.get_description());
  }
  return Status::Ok();
}

}  // namespace vantrel
