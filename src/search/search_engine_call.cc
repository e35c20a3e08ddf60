#include "search/search_engine_call.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/document_name.h"
#include "engine/query_compiler.h"

namespace vantrel {
namespace {

// The fuzziness as the cache's slots are keyed by it.
int CacheFuzziness(const EngineSearchParams& params) { return static_cast<int>(params.fuzziness); }

}  // namespace

EngineSearchReport RunEngineSearch(Engine* engine, ResultCache* cache,
                                   const EngineSearchParams& params, const EngineHitFn& on_hit,
                                   const HitsComingFn& on_coming) {
  SearchJobRunner run;
  if (engine != nullptr) run = [engine](const SearchJob& job) { return engine->RunSearchJob(job); };
  return RunEngineSearch(run, engine != nullptr && engine->thesaurus_found(),
                         engine != nullptr && engine->wordnet_found(), cache, params, on_hit,
                         on_coming);
}

EngineSearchReport RunEngineSearch(const SearchJobRunner& run, bool thesaurus_found,
                                   bool wordnet_found, ResultCache* cache,
                                   const EngineSearchParams& params, const EngineHitFn& on_hit,
                                   const HitsComingFn& on_coming) {
  EngineSearchReport report;
  const bool every_hit = (params.option_bits & kOptionEveryHit) != 0;
  if (every_hit && cache != nullptr &&
      cache->LookupScored(params.engine_folder, params.query, params.option_bits,
                          CacheFuzziness(params), on_hit)) {
    report.from_cache = true;
    return report;
  }
  if (!run) {
    report.error = "the engine is not running";
    return report;
  }

  // Every hit the engine delivers may be kept for the cache, before the
  // request's own filters (date, merge, restrict): the cached result must
  // answer any later request with the same query.
  const bool newest = params.newest_limit > 0;
  const bool collectable = MayKeepHits(cache, params) && cache->CollectionAllowed();

  EngineSearchSettings settings =
      SettingsFor(params.option_bits, params.fuzziness, thesaurus_found, wordnet_found);
  SearchJob job;
  job.query = params.query;
  job.index_folder = params.engine_folder;
  job.max_hits = settings.max_hits;
  job.flags = settings.flags;
  job.fuzziness = settings.fuzziness;
  if (newest) {
    job.max_hits = static_cast<int32_t>(std::min<uint32_t>(params.newest_limit, INT32_MAX));
    job.flags |= kSearchNewestFirst;
  }
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code == kMessageHitsComing) {
      const uint64_t key_bytes =
          m.name_bytes - std::min(m.name_bytes, m.count * kDocumentNameKeyOffset);
      if (on_coming) on_coming(m.count, key_bytes);
      return;
    }
    if (m.code != kMessageFoundDocument) return;
    std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name);
    if (!name || name->file_key.empty()) return;
    on_hit(name->file_key, name->time_stamp, m.score);
  };
  report.engine_called = true;
  StatusOr<SearchOutcome> outcome = run(job);
  if (!outcome.ok()) {
    report.error = outcome.status().ToString();
    return report;
  }
  if (!outcome->error.empty()) {
    report.error = outcome->error;
    return report;
  }
  report.cut_off = outcome->cut_off;
  report.cut_reason = outcome->cut_reason;
  if (newest && outcome->matches > outcome->delivered) {
    report.left_out = outcome->matches - outcome->delivered;
  }
  report.storable = collectable && !report.cut_off;
  return report;
}

bool MayKeepHits(const ResultCache* cache, const EngineSearchParams& params) {
  return cache != nullptr && (params.option_bits & kOptionEveryHit) != 0 &&
         params.newest_limit == 0;
}

bool StoreEngineHits(ResultCache* cache, const EngineSearchParams& params,
                     const EngineSearchReport& report, CachedHits hits) {
  if (cache == nullptr || !report.storable) return false;
  cache->Store(params.engine_folder, std::move(hits), params.query, params.option_bits,
               CacheFuzziness(params), params.wide_result);
  return true;
}

}  // namespace vantrel
