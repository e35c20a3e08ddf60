// Engine: the full-text engine of the server, built on Xapian.
//
// One engine serves every index of the server. Each index keeps its
// documents in one or more Xapian databases, its shards, in its own engine
// folder (a native path the caller gives; see shard_layout.h): an index job
// writes the shards on parallel threads (shard_writer.h), a search reads
// them as one database, and may add remote shards served by xapian-tcpsrv.
// The engine's calls:
//
//   Start(home)            reads the field catalogue and the thesaurus from
//                          the home folder, deletes ~DTINUSE.TMP, notes
//                          whether THESAUR.DAT and WORDNET/DTWDNET.IX exist
//   Stop()                 closes every database; later calls fail
//   GetIndexInfo(folder)   document count, kNotFound when there is no index
//   GetOptions/SetOptions  commit interval and expansion bounds
//   RunIndexJob(job)       create, remove listed documents and compact, add
//                          the documents of a data source (or, in a bulk
//                          build, write them into segments)
//   FinishBulkBuild        merges the segments of a bulk build
//   RunSearchJob(job)      one kMessageFoundDocument message per hit, after one
//                          kMessageHitsComing that counts them; bounded in
//                          terms, time and heavy company (EngineOptions)
//   Compact(folder)        rewrites the database compactly in place
//   InstallIndexFiles      replaces an index by a copy of another database
//
// Documents are image documents in code-page text; their names ("78563412
// 03Sport\img.jpg", see document_name.h) are unique: adding a document
// replaces the one of the same name.
//
// Durability: an index job is one transaction per shard unless the options
// ask for commits every N documents; the shards commit one after the other
// at the end. When RunIndexJob returns OK every document of the job is
// committed and found by every search that starts afterwards. A process
// killed between two shard commits leaves part of the job committed; the
// job was not reported done and is indexed again (see shard_writer.h).
// When it fails (a data source error, a full disk, an unwritable folder) it
// returns the reason and the database stays at its last commit: with the
// default options that is the state before the job. A process killed during
// a job leaves the database at its last commit, usable.
//
// Threads: every call may be made from any thread. Index jobs, compaction and
// file installation on one folder run one at a time (the engine's per-folder
// writer lock; Xapian's own lock keeps other processes out). Searches run in
// parallel with each other and with jobs: each search takes a Xapian
// Database from a per-folder pool for its own use (no Xapian object is used
// by two threads at once), sees one committed state, and re-opens and
// retries when the database changed under it (DatabaseModifiedError) or was
// replaced by Compact or InstallIndexFiles (noticed by the version file
// changing). Message callbacks run on the calling thread, before the call
// returns, with no engine lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/char_table.h"
#include "engine/field_catalogue.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Message codes of EngineMessage.
inline constexpr int kMessageProgress = 1001;       // index job: `count` documents done
inline constexpr int kMessageJobError = 1002;       // index job: `text` says what failed
// search, before the first kMessageFoundDocument: `count` hits follow, whose
// names take `name_bytes` in all, so that a receiver can make room at once
inline constexpr int kMessageHitsComing = 2003;
inline constexpr int kMessageFoundDocument = 2004;  // search: `name` and `score` of a hit
inline constexpr int kMessageQueryError = 2005;     // search: `text` says what is wrong

struct EngineMessage {
  int code = 0;
  std::string_view name;  // kMessageFoundDocument: the document name (code page)
  int32_t score = 0;      // kMessageFoundDocument: larger for better matches, >= 1
  uint64_t count = 0;     // kMessageProgress, kMessageHitsComing
  uint64_t name_bytes = 0;  // kMessageHitsComing
  std::string_view text;  // kMessageJobError, kMessageQueryError
};
// Views in the message are valid during the call only.
using EngineMessageCallback = std::function<void(const EngineMessage&)>;

// One document, filled by the data source's next_document callback.
struct EngineDocument {
  std::string name;          // document name, code page
  uint32_t text_length = 0;  // bytes of text
  // Sets the read position.
  std::function<void(uint32_t position)> seek;
  // Copies up to `size` bytes from the position on; returns the count, 0 at
  // the end of the text.
  std::function<size_t(char* buffer, size_t size)> read;
};

// Where the documents of an index job come from.
struct EngineDataSource {
  // Moves the cursor before the first document; false fails the job.
  std::function<bool()> rewind;
  // Fills the next document and returns 0, or returns -1 when none is left.
  // Any other value fails the job.
  std::function<int(EngineDocument* document)> next_document;
};

struct IndexJob {
  std::string index_folder;                // native path of the engine folder
  EngineMessageCallback message_callback;  // may be empty
  bool from_changes = false;  // batch kind: 1 reported changes, 0 a scan (informational)
  bool create = false;        // create the index when it does not exist
  bool add = false;           // add the documents of `data_source`
  bool remove = false;        // remove documents, then compact
  bool remove_list_in_file = false;  // the names to remove are in `remove_list_path`
  std::string remove_list_path;      // native path; missing or empty: nothing removed
  EngineDataSource* data_source = nullptr;  // needed with `add`
  // With `add` alone: a job of a bulk build of the index (an index built
  // from nothing, a first start). Its documents are committed into segments
  // beside the shards and are found only after FinishBulkBuild, or after the
  // next job of another kind, or, once the process ended, the next search.
  bool bulk = false;
};

struct SearchJob {
  std::string query;         // query language text, code page
  std::string index_folder;  // native path of the engine folder
  int32_t max_hits = -1;     // most hits delivered; -1 (or below 0) for all
  uint32_t flags = 0;        // kSearch* of query_compiler.h
  int fuzziness = 0;         // with kSearchFuzzy: 1, 3, 6 = 1, 2, 3 letters
  EngineMessageCallback message_callback;
};

struct SearchOutcome {
  uint64_t matches = 0;    // documents matching (before the hit limit)
  uint64_t delivered = 0;  // kMessageFoundDocument messages sent
  std::string error;       // the query could not be read (also sent as a message)
  // The search ended early (its deadline passed, the engine stopped, or it
  // found no turn among the heavy searches): the hits are those found so
  // far; or a wildcard stood for more words than its bound and the rarer
  // ones were left out. `cut_reason` says why.
  bool cut_off = false;
  std::string cut_reason;
  // Remote shards that could not be reached were left out: the hits come
  // from the other shards. `cut_off` is then set too and `cut_reason` names
  // the shards left out.
  bool partial = false;
};

struct IndexInfo {
  uint32_t document_count = 0;
};

struct EngineOptions {
  // Documents per commit inside an add job; 0 commits once, at the end.
  uint32_t commit_every = 0;
  // Terms one wildcard word (or one expanded word) may stand for; beyond it
  // the most frequent are kept.
  uint32_t max_expansion = 10000;
  // Longest document text read; the rest of a longer text is not indexed.
  uint32_t max_text_bytes = 4u << 20;
  // Terms the expanded words of one query share (each term is a posting
  // list the match keeps open: this bounds a search's memory); 0: no bound
  // beyond max_expansion per word.
  uint32_t max_query_terms = 10000;
  // Longest time one search runs; it then ends with the hits found so far.
  double search_seconds = 10.0;
  // A query of at least this many terms is heavy: one heavy search runs per
  // index at a time; another waits up to `heavy_wait_ms` for its turn and is
  // otherwise answered without hits.
  uint32_t heavy_terms = 4000;
  uint32_t heavy_wait_ms = 1000;
  // Shards of an index the engine creates, unless its shard settings name a
  // count; 0: the machine's cores (at most kMaxShards of shard_layout.h).
  // One shard is one database in the engine folder itself. The server asks
  // for 0 (EngineHolder).
  uint32_t new_index_shards = 1;
  // A bulk build's jobs add to the newest segment until its first shard
  // holds this many documents, then start a new one. Small segments commit
  // cheaply, but a merge keeps every segment's part of a posting list as a
  // chunk of its own, so many of them slow searches that read many terms.
  uint32_t segment_documents = 65536;
  // Segments a bulk job writes into side by side in every shard, each on a
  // thread of its own; 0: enough for twice the machine's cores over all
  // shards (BulkLanes of index_segments.h). A name always goes to the same
  // one, so the threads share the work evenly even on cores of unequal
  // speed, where one thread per shard ends at the slowest shard's pace.
  uint32_t bulk_lanes = 0;
  // Called after each shard committed an add job (shard number), on that
  // shard's commit thread (the shards commit at the same time); tests cut a
  // job between shard commits here. Empty in the server.
  std::function<void(uint32_t shard)> after_shard_commit;
};

struct EngineStartOptions {
  std::string home_folder;  // native path; the server's start directory
  FileSystem* fs = nullptr;  // DefaultFileSystem() when null
  // Code-page table for documents and queries; CharTable::Default() when null.
  const CharTable* char_table = nullptr;
};

// Files in the home folder.
inline constexpr char kInUseFile[] = "~DTINUSE.TMP";
inline constexpr char kThesaurusFile[] = "THESAUR.DAT";
inline constexpr char kWordNetFile[] = "WORDNET/DTWDNET.IX";

class Engine {
 public:
  // Starts the engine. Fails only when the home folder is not a folder. A
  // missing or unreadable field catalogue gives an engine without fields
  // (FIELD contains (...) then reports an unknown field); a missing
  // thesaurus gives no synonyms.
  static StatusOr<std::unique_ptr<Engine>> Start(const EngineStartOptions& options);

  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Waits for running calls to end, closes every database. Idempotent. Must
  // not be called from a message callback (it would wait for itself).
  void Stop();

  bool thesaurus_found() const;
  bool wordnet_found() const;
  const FieldCatalogue& catalogue() const;

  // kNotFound when the folder holds no index.
  StatusOr<IndexInfo> GetIndexInfo(const std::string& index_folder);

  EngineOptions GetOptions() const;
  void SetOptions(const EngineOptions& options);

  // Runs an index job (see the top of this file). Progress messages come
  // every 1,000 documents and at the end; a failure is also sent as
  // kMessageJobError before the call returns it.
  Status RunIndexJob(const IndexJob& job);

  // Runs a search. A query that cannot be read is not a failure: the outcome
  // carries the error (also sent as kMessageQueryError) and no hits. Fails
  // with kNotFound when the index does not exist, with other codes when the
  // database cannot be read. A search that runs past its deadline, or is
  // still running when Stop is called, ends early with the hits found so far
  // (SearchOutcome::cut_off).
  StatusOr<SearchOutcome> RunSearchJob(const SearchJob& job);

  // Heavy searches running now (see EngineOptions::heavy_terms).
  int RunningHeavySearches() const;

  // Ends the bulk build of the index in `index_folder`: every shard and the
  // segments its bulk jobs committed are merged (index_segments.h), and
  // their documents are found from then on. On a failure the segments stay
  // committed, and the next search or job on the folder merges them. OK
  // when no bulk job ran.
  Status FinishBulkBuild(const std::string& index_folder);

  // Compacts the index into a fresh database in the same folder. Every
  // document stays; searches keep running meanwhile.
  Status Compact(const std::string& index_folder);

  // Replaces the index in `index_folder` with a copy of the database in
  // `source_folder` (a backup or an optimized copy), every shard at once. A
  // search sees either the old or the new database, never a mix; after a
  // crash the next index job or search on that folder leaves the old one or
  // the new one (shard_swap.h).
  // The files are copied with every read and write checked and synced.
  Status InstallIndexFiles(const std::string& index_folder, const std::string& source_folder);

  // Opens the database in `index_folder` and reads every table through: OK
  // when that works, kCorruption when it does not or the database cannot be
  // opened. Reads only; takes as long as reading the whole database.
  Status CheckIndexFiles(const std::string& index_folder);

 private:
  class Impl;
  explicit Engine(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel
