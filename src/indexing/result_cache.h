// The search result cache: the results of broad searches kept in memory, so
// that a repeated search is answered without the engine, and kept current
// when a small batch of new documents enters the index.
//
// 50 slots. A slot is keyed by the engine folder, the query text (bytes,
// case matters), the option bits and the fuzziness. The cache is off until
// its first look-up and on from then on.
//
// The engine lock: one server-wide lock held by the flush while it builds the
// temporary index of a small batch and refreshes or drops this cache. Look-up
// and Store never wait for it: a busy engine means no cached answer and no
// storing.
//
// Thread safety: every method may be called from any thread; Refresh and
// Drop require the engine lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "platform/mutex.h"

namespace vantrel {

inline constexpr int kCacheSlots = 50;

// Option bits of a search (docs/client-protocol.md): what a client asks for.
inline constexpr uint32_t kOptionStemming = 0x02;
inline constexpr uint32_t kOptionSoundAlike = 0x04;
inline constexpr uint32_t kOptionSynonyms = 0x08;
inline constexpr uint32_t kOptionEveryHit = 0x10;

// Most hits the engine delivers without kOptionEveryHit.
inline constexpr int32_t kLimitedSearchHits = 500;

// The engine's search flags, fuzziness value and hit limit for a search's
// option bits and fuzziness level (1 to 3 search fuzzily, other values not).
struct EngineSearchSettings {
  uint32_t flags = 0;
  int fuzziness = 0;
  int32_t max_hits = -1;
};
EngineSearchSettings SettingsFor(uint32_t option_bits, uint32_t fuzziness, bool thesaurus_found,
                                 bool wordnet_found);

// The kept hits of one search, in the order the engine gave them: for each
// the file time stamp and file key of its document name, and the engine's
// relevance score, so that a cached answer sorts by relevance as the
// engine's did (hits added by Refresh come from a small index and keep
// their scores there). The keys are packed end to end in one string beside
// a fixed record per hit: the 100,000 hits of a broad search are two blocks
// of memory, not one per hit, and take about half the space.
class CachedHits {
 public:
  void Add(uint32_t time, std::string_view file_key, int32_t score);
  // Room for `hits` more hits whose keys take `key_bytes`.
  void Reserve(size_t hits, size_t key_bytes);
  void Append(const CachedHits& more);
  size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  // Calls visit(file_key, time, score) for every hit, in order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    const std::string_view keys(keys_);
    for (const Record& r : records_) visit(keys.substr(r.key_offset, r.key_size), r.time, r.score);
  }

 private:
  struct Record {
    size_t key_offset;
    uint32_t key_size;
    uint32_t time;
    int32_t score;
  };
  std::string keys_;
  std::vector<Record> records_;
};

class ResultCache {
 public:
  ResultCache();
  ~ResultCache();
  ResultCache(const ResultCache&) = delete;
  ResultCache& operator=(const ResultCache&) = delete;

  Mutex& engine_lock() RETURN_CAPABILITY(engine_lock_) { return engine_lock_; }

  // Switches the cache on. When the engine lock is free and a filled slot
  // matches, calls `hit` once per kept result in slot order, raises the
  // slot's use count and returns true; otherwise returns false.
  bool Lookup(std::string_view engine_folder, std::string_view query, uint32_t flags, int fuzziness,
              const std::function<void(std::string_view file_key, uint32_t time)>& hit)
      EXCLUDES(engine_lock_);
  // The same, handing on each kept hit's score too.
  bool LookupScored(
      std::string_view engine_folder, std::string_view query, uint32_t flags, int fuzziness,
      const std::function<void(std::string_view file_key, uint32_t time, int32_t score)>& hit)
      EXCLUDES(engine_lock_);

  // True when the engine lock is free at this moment (tried without waiting
  // and released at once): the search may collect its hits for Store.
  bool CollectionAllowed() EXCLUDES(engine_lock_);

  // Keeps the collected `hits` of a finished search (see the slot rules in
  // the .cc). Does nothing when the engine lock is busy, or when the search
  // had no wide-result flag and collected fewer than 200 hits.
  void Store(std::string_view engine_folder, CachedHits hits, std::string_view query,
             uint32_t flags, int fuzziness, bool wide_result) EXCLUDES(engine_lock_);

  // After a batch of fewer than 9 documents was indexed into the temporary
  // index: every slot of `engine_folder` whose option bits include 4 or 8 is
  // freed; every other slot of it appends the hits of its search over the
  // temporary index, which `search_batch` runs (query, flags, fuzziness) and
  // returns.
  void Refresh(
      std::string_view engine_folder,
      const std::function<CachedHits(const std::string& query, uint32_t flags, int fuzziness)>&
          search_batch) REQUIRES(engine_lock_);

  // The search that Refresh needs: runs (query, flags, fuzziness) over the
  // engine folder `batch_folder` (the temporary index of the new batch) and
  // returns every hit. A failed search returns no hits. `engine` must stay
  // running while the function is used.
  static std::function<CachedHits(const std::string&, uint32_t, int)> BatchSearch(
      Engine* engine, std::string batch_folder);

  // Frees every slot of `engine_folder`.
  void Drop(std::string_view engine_folder) REQUIRES(engine_lock_);

  // Whether the first look-up has happened.
  bool enabled() const EXCLUDES(slots_lock_);

  // What one slot holds, for the console and for tests.
  struct SlotInfo {
    size_t count = 0;  // kept results; 0 = free
    uint32_t use_count = 0;
    std::string engine_folder;
    std::string query;
    uint32_t flags = 0;
    int fuzziness = 0;
  };
  // Slot `slot` (0 to 49); a free slot for any other number.
  SlotInfo InfoOf(int slot) const EXCLUDES(slots_lock_);

 private:
  struct Slot {
    // Shared so that a look-up can walk the results after releasing the
    // locks; Refresh copies before appending when a walk still holds them.
    std::shared_ptr<CachedHits> results;
    uint32_t use_count = 0;
    std::string query;  // kept whole: a cut text would match other queries
    std::string engine_folder;
    uint32_t flags = 0;
    int fuzziness = 0;
    size_t count() const { return results ? results->size() : 0; }
    void Free() { results.reset(); }
  };
  // The slot a new result set goes to (see the rules in the .cc).
  static int ChooseSlot(const std::vector<Slot>& slots, bool wide_result);

  Mutex engine_lock_;
  mutable Mutex slots_lock_ ACQUIRED_AFTER(engine_lock_);
  std::vector<Slot> slots_ GUARDED_BY(slots_lock_);
  bool enabled_ GUARDED_BY(slots_lock_) = false;
};

}  // namespace vantrel
