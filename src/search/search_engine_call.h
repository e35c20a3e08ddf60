// The search service's side of an engine search: the result cache first
// (for searches that ask for every hit), then the engine; the caller hands
// the hits it collected to the cache afterwards (StoreEngineHits), when the
// answer is out.
//
// Thread safety: may run on many search workers at once; the engine and the
// cache are safe for concurrent use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "indexing/result_cache.h"

namespace vantrel {

// The option bits and SettingsFor (the engine flags of a search) are in
// indexing/result_cache.h, which the cache's refresh shares.

struct EngineSearchParams {
  std::string engine_folder;  // native path of the index's engine folder
  std::string query;          // engine query text
  uint32_t option_bits = 0;
  uint32_t fuzziness = 0;    // 1 to 3 search fuzzily; any other value not
  bool wide_result = false;  // keep the result in the cache even when small
  // A browse form's answer (time or name order, no filter): when more
  // documents match, the engine keeps only the newest `newest_limit`
  // (kSearchNewestFirst, unranked); 0: every hit the option bits ask for.
  uint32_t newest_limit = 0;
};

struct EngineSearchReport {
  bool from_cache = false;     // answered by the result cache
  bool engine_called = false;  // the engine ran the search
  // Every hit the engine delivered may be kept in the cache: the search
  // asked for every hit, was not cut short or to the newest, and the cache
  // allowed collection when it began.
  bool storable = false;
  // Why the engine found nothing, when it failed: no engine, a missing,
  // damaged or locked index, or a query it rejected.
  std::string error;
  // The engine ended the search early; the hits are those found so far.
  bool cut_off = false;
  std::string cut_reason;
  // With `newest_limit`: matching documents the engine left out (older than
  // the kept ones); they count as found.
  uint64_t left_out = 0;
};

// Runs one engine search job: Engine::RunSearchJob, or a test's stand-in.
using SearchJobRunner = std::function<StatusOr<SearchOutcome>(const SearchJob&)>;

// One engine hit: file key, the time stamp its document carries, score.
using EngineHitFn = std::function<void(std::string_view file_key, uint32_t time, int32_t score)>;
// Before the first hit from the engine: at most `hits` follow, whose file
// keys take at most `key_bytes`.
using HitsComingFn = std::function<void(size_t hits, size_t key_bytes)>;

// Runs one search. With kOptionEveryHit the cache (when given) may answer
// (with the scores the engine gave); otherwise the engine (when running) is
// asked. Hits whose document name cannot be decoded are skipped. With
// `newest_limit` the cache may answer too, but a result cut to the newest is
// not storable. Never fails: a missing engine or index gives no hits.
// `on_coming`, when given, hears how many hits the engine will deliver.
EngineSearchReport RunEngineSearch(Engine* engine, ResultCache* cache,
                                   const EngineSearchParams& params, const EngineHitFn& on_hit,
                                   const HitsComingFn& on_coming = nullptr);

// The same with the job run by `run` (empty: no engine).
EngineSearchReport RunEngineSearch(const SearchJobRunner& run, bool thesaurus_found,
                                   bool wordnet_found, ResultCache* cache,
                                   const EngineSearchParams& params, const EngineHitFn& on_hit,
                                   const HitsComingFn& on_coming = nullptr);

// True when the hits of `params` may go to the cache at all: the search
// asks for every hit and is not cut to the newest, and there is a cache.
bool MayKeepHits(const ResultCache* cache, const EngineSearchParams& params);

// Keeps `hits`, every hit the engine delivered in the order it delivered
// them (before any filter of the request), in the cache when `report` says
// they are storable; true when they were handed on.
bool StoreEngineHits(ResultCache* cache, const EngineSearchParams& params,
                     const EngineSearchReport& report, CachedHits hits);

}  // namespace vantrel
