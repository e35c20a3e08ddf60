#include "indexing/result_cache.h"

#include <algorithm>
#include <utility>

#include "engine/document_name.h"
#include "engine/query_compiler.h"

namespace vantrel {
namespace {

// Searches without the wide-result flag are kept only from this many hits on.
constexpr size_t kMinKeptResults = 200;
// Ordinary searches use the upper slots only, so that the lower ones stay
// for the wide results that clients ask for again and again.
constexpr int kFirstOrdinarySlot = 30;

bool Matches(std::string_view a_folder, std::string_view a_query, uint32_t a_flags, int a_fuzz,
             std::string_view b_folder, std::string_view b_query, uint32_t b_flags, int b_fuzz) {
  return a_folder == b_folder && a_query == b_query && a_flags == b_flags && a_fuzz == b_fuzz;
}

// Engine flags that a search without kOptionEveryHit adds: the newest
// documents first, so that the 500 delivered are the newest ones.
constexpr uint32_t kLimitedSearchFlags = 0x108;

}  // namespace

EngineSearchSettings SettingsFor(uint32_t option_bits, uint32_t fuzziness, bool thesaurus_found,
                                 bool wordnet_found) {
  EngineSearchSettings s;
  const bool every_hit = (option_bits & kOptionEveryHit) != 0;
  s.max_hits = every_hit ? -1 : kLimitedSearchHits;
  if (!every_hit) s.flags |= kLimitedSearchFlags;
  if ((option_bits & kOptionStemming) != 0) s.flags |= kSearchStemming;
  if ((option_bits & kOptionSoundAlike) != 0) {
    s.flags |= kSearchSoundAlike;
  } else if ((option_bits & kOptionSynonyms) != 0) {
    if (thesaurus_found) s.flags |= kSearchSynonyms | kSearchThesaurus;
    if (wordnet_found) s.flags |= kSearchSynonyms | kSearchWordNet;
  }
  switch (fuzziness) {
    case 1:
      s.flags |= kSearchFuzzy;
      s.fuzziness = 1;
      break;
    case 2:
      s.flags |= kSearchFuzzy;
      s.fuzziness = 3;
      break;
    case 3:
      s.flags |= kSearchFuzzy;
      s.fuzziness = 6;
      break;
    default:
      break;
  }
  return s;
}

std::function<CachedHits(const std::string&, uint32_t, int)> ResultCache::BatchSearch(
    Engine* engine, std::string batch_folder) {
  return [engine, folder = std::move(batch_folder)](const std::string& query, uint32_t flags,
                                                    int fuzziness) {
    CachedHits hits;
    if (engine == nullptr) return hits;
    EngineSearchSettings settings = SettingsFor(flags, static_cast<uint32_t>(fuzziness),
                                                engine->thesaurus_found(), engine->wordnet_found());
    SearchJob job;
    job.query = query;
    job.index_folder = folder;
    job.max_hits = settings.max_hits;
    job.flags = settings.flags;
    job.fuzziness = settings.fuzziness;
    job.message_callback = [&hits](const EngineMessage& m) {
      if (m.code != kMessageFoundDocument) return;
      std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name);
      if (name && !name->file_key.empty()) {
        hits.Add(name->time_stamp, name->file_key, m.score);
      }
    };
    if (!engine->RunSearchJob(job).ok()) hits = CachedHits();
    return hits;
  };
}

void CachedHits::Add(uint32_t time, std::string_view file_key, int32_t score) {
  records_.push_back(Record{keys_.size(), static_cast<uint32_t>(file_key.size()), time, score});
  keys_.append(file_key);
}

void CachedHits::Reserve(size_t hits, size_t key_bytes) {
  records_.reserve(records_.size() + hits);
  keys_.reserve(keys_.size() + key_bytes);
}

void CachedHits::Append(const CachedHits& more) {
  records_.reserve(records_.size() + more.records_.size());
  for (Record r : more.records_) {
    r.key_offset += keys_.size();
    records_.push_back(r);
  }
  keys_.append(more.keys_);
}

ResultCache::ResultCache() = default;
ResultCache::~ResultCache() = default;

bool ResultCache::enabled() const {
  MutexLock lock(&slots_lock_);
  return enabled_;
}

ResultCache::SlotInfo ResultCache::InfoOf(int slot) const {
  MutexLock lock(&slots_lock_);
  SlotInfo info;
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return info;
  const Slot& s = slots_[slot];
  info.count = s.count();
  info.use_count = s.use_count;
  info.engine_folder = s.engine_folder;
  info.query = s.query;
  info.flags = s.flags;
  info.fuzziness = s.fuzziness;
  return info;
}

bool ResultCache::Lookup(std::string_view engine_folder, std::string_view query, uint32_t flags,
                         int fuzziness,
                         const std::function<void(std::string_view, uint32_t)>& hit) {
  return LookupScored(engine_folder, query, flags, fuzziness,
                      [&hit](std::string_view key, uint32_t time, int32_t) { hit(key, time); });
}

bool ResultCache::LookupScored(
    std::string_view engine_folder, std::string_view query, uint32_t flags, int fuzziness,
    const std::function<void(std::string_view, uint32_t, int32_t)>& hit) {
  std::shared_ptr<CachedHits> results;
  {
    MutexLock slots(&slots_lock_);
    if (!enabled_) {
      slots_.assign(kCacheSlots, Slot{});
      enabled_ = true;
    }
  }
  // The flush holds the engine lock while new documents enter the index and
  // the kept results are brought up to date: no answer from here meanwhile.
  if (!engine_lock_.TryLock()) return false;
  {
    MutexLock slots(&slots_lock_);
    for (Slot& s : slots_) {
      if (s.count() == 0) continue;
      if (!Matches(s.engine_folder, s.query, s.flags, s.fuzziness, engine_folder, query, flags,
                   fuzziness)) {
        continue;
      }
      results = s.results;
      ++s.use_count;
      break;
    }
  }
  engine_lock_.Unlock();
  if (!results) return false;
  // The snapshot stays valid after the locks are gone: Refresh and Store
  // replace a slot's hits rather than change those that are shared.
  results->ForEach(hit);
  return true;
}

bool ResultCache::CollectionAllowed() {
  if (!engine_lock_.TryLock()) return false;
  engine_lock_.Unlock();
  return true;
}

int ResultCache::ChooseSlot(const std::vector<Slot>& slots, bool wide_result) {
  const int first = wide_result ? 0 : kFirstOrdinarySlot;
  const int end = static_cast<int>(slots.size());
  for (int i = first; i < end; ++i) {
    if (slots[i].count() == 0) return i;
  }
  // All taken: the least-used slot, or the one with the fewest results
  // (lowest number on ties), depending on how much the slots are used.
  int least_used = first;
  int fewest = first;
  for (int i = first + 1; i < end; ++i) {
    if (slots[i].use_count < slots[least_used].use_count) least_used = i;
    if (slots[i].count() < slots[fewest].count()) fewest = i;
  }
  const uint32_t u = slots[least_used].use_count;
  const size_t r = slots[fewest].count();
  if (u < 3) return least_used;
  if (r < 250) return fewest;
  if (u >= 10) return r >= 500 ? least_used : fewest;
  return least_used;
}

void ResultCache::Store(std::string_view engine_folder, CachedHits hits, std::string_view query,
                        uint32_t flags, int fuzziness, bool wide_result) {
  if (!engine_lock_.TryLock()) return;  // `hits` are released on return
  if (!wide_result && hits.size() < kMinKeptResults) {
    engine_lock_.Unlock();
    return;
  }
  {
    MutexLock slots(&slots_lock_);
    if (!enabled_) {
      slots_.assign(kCacheSlots, Slot{});
      enabled_ = true;
    }
    Slot& s = slots_[ChooseSlot(slots_, wide_result)];
    s = Slot{};
    s.query = std::string(query);
    s.engine_folder = std::string(engine_folder);
    s.results = std::make_shared<CachedHits>(std::move(hits));
    s.flags = flags;
    s.fuzziness = fuzziness;
  }
  engine_lock_.Unlock();
}

void ResultCache::Refresh(
    std::string_view engine_folder,
    const std::function<CachedHits(const std::string&, uint32_t, int)>& search_batch) {
  // The searches of the batch run without the slots lock (they call the
  // engine); the engine lock, held by the caller, keeps Store and Lookup out.
  struct Pending {
    int slot;
    std::string query;
    uint32_t flags;
    int fuzziness;
  };
  std::vector<Pending> pending;
  {
    MutexLock slots(&slots_lock_);
    for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
      Slot& s = slots_[i];
      if (s.count() == 0 || s.engine_folder != engine_folder) continue;
      // Stemming and synonym searches cannot be brought up to date from the
      // new documents alone (their expansions depend on the whole index).
      if ((s.flags & (4u | 8u)) != 0) {
        s.Free();
        continue;
      }
      pending.push_back(Pending{i, s.query, s.flags, s.fuzziness});
    }
  }
  for (const Pending& p : pending) {
    CachedHits added = search_batch(p.query, p.flags, p.fuzziness);
    if (added.empty()) continue;
    MutexLock slots(&slots_lock_);
    Slot& s = slots_[p.slot];
    if (s.count() == 0) continue;
    // A look-up may still be walking the old hits: append to a copy then.
    if (s.results.use_count() > 1) {
      s.results = std::make_shared<CachedHits>(*s.results);
    }
    s.results->Append(added);
  }
}

void ResultCache::Drop(std::string_view engine_folder) {
  MutexLock slots(&slots_lock_);
  for (Slot& s : slots_) {
    if (s.engine_folder == engine_folder) s.Free();
  }
}

}  // namespace vantrel
