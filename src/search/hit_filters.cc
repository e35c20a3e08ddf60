#include "search/hit_filters.h"

#include <string>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

// TIMELIST entries read under one hold of its lock by the date-only walk.
constexpr size_t kWalkBatch = 512;

struct TimeListEntry {
  std::string name;
  uint32_t time = 0;
  uint32_t value = 0;
  size_t position = 0;
};

// Looks up `name` with exactly `time` (a time of 0 is matched by name first,
// as the lists do, and then checked).
std::optional<BrowseLookup> FindExact(BrowseList* list, std::string_view name, uint32_t time) {
  std::optional<BrowseLookup> found = list->Lookup(name, time);
  if (found && found->time != time) return std::nullopt;
  return found;
}

uint32_t EntryNumberOf(size_t timelist_position) {
  return static_cast<uint32_t>(timelist_position) + kTimeListEntryNumberBase;
}

}  // namespace

bool DateFilter::Passes(uint32_t stamp) const {
  switch (mode) {
    case 0:
      return true;
    case 1:
      return stamp >= threshold;
    case 2:
      return stamp <= threshold;
    default:
      return false;
  }
}

uint32_t DatePeriodSeconds(uint8_t date_period) {
  switch (date_period) {
    case 0:
      return 3600;
    case 1:
      return 86400;
    case 2:
      return 604800;
    case 3:
      return 2592000;
    default:
      return 0;
  }
}

DateFilter MakeDateFilter(uint8_t date_mode, uint8_t date_period, uint32_t now_stamp) {
  return DateFilter{date_mode, now_stamp - DatePeriodSeconds(date_period)};
}

HitCollector::HitCollector(LockedBrowseList timelist, BrowseList* restrict_list,
                           BrowseList* hits, HitCollectorOptions options)
    : timelist_(timelist),
      restrict_list_(restrict_list),
      hits_(hits),
      options_(std::move(options)) {
  // Time order is one of the valid orders; this cannot fail.
  hits_->SetOrder(kOrderTime).IgnoreError();
}

bool HitCollector::Accept(std::string_view file_key, uint32_t time_stamp, int32_t score) {
  if (!options_.date_filter.Passes(time_stamp)) return false;
  if (FindExact(hits_, file_key, time_stamp)) return false;

  std::optional<BrowseLookup> entry = timelist_.Lookup(file_key, time_stamp);
  if (!entry || entry->time != time_stamp) return false;
  uint32_t type_code = entry->value;
  uint32_t entry_number = EntryNumberOf(entry->position);

  if (restrict_list_ != nullptr) {
    std::optional<BrowseLookup> kept = FindExact(restrict_list_, file_key, time_stamp);
    if (!kept) return false;
    type_code = kept->value;
    entry_number = kept->extra;
  }

  uint32_t sort_key = 0;
  if (!options_.merged) {
    sort_key = options_.keep_arrival_order ? 0xFFFFFFFFu - accepted_
                                           : static_cast<uint32_t>(score < 0 ? 0 : score);
  }
  if (!hits_->Add(file_key, time_stamp, type_code, entry_number, sort_key).ok()) return false;
  ++accepted_;
  if (!options_.merged && options_.progress && accepted_ % kProgressInterval == 0) {
    options_.progress(accepted_);
  }
  return true;
}

uint32_t CollectDateOnly(LockedBrowseList timelist, const DateFilter& filter,
                         BrowseList* restrict_list, BrowseList* hits) {
  // Time order is one of the valid orders; this cannot fail.
  hits->SetOrder(kOrderTime).IgnoreError();
  if (filter.mode > 2) return 0;  // rejects every file
  uint32_t added = 0;
  std::vector<TimeListEntry> batch;
  for (size_t start = 0;; start += kWalkBatch) {
    batch.clear();
    timelist.WithLock([&](BrowseList& list) {
      for (size_t p = start; p < start + kWalkBatch; ++p) {
        std::optional<BrowseEntryView> v = list.ViewAt(p);
        if (!v) break;
        batch.push_back(TimeListEntry{v->ExpandedName(), v->time, v->value, p});
      }
    });
    for (const TimeListEntry& e : batch) {
      if (!filter.Passes(e.time)) {
        // TIMELIST is newest first: past the threshold nothing newer follows.
        if (filter.mode == 1) return added;
        continue;
      }
      if (FindExact(hits, e.name, e.time)) continue;
      uint32_t type_code = e.value;
      uint32_t entry_number = EntryNumberOf(e.position);
      if (restrict_list != nullptr) {
        std::optional<BrowseLookup> kept = FindExact(restrict_list, e.name, e.time);
        if (!kept) continue;
        type_code = kept->value;
        entry_number = kept->extra;
      }
      if (!hits->Add(e.name, e.time, type_code, entry_number).ok()) return added;
      ++added;
    }
    if (batch.size() < kWalkBatch) return added;
  }
}

Status SortSearchHits(BrowseList* hits, bool name_order) {
  VANTREL_RETURN_IF_ERROR(hits->SetOrder(kOrderTime));
  if (name_order) return hits->SetOrder(kOrderName);
  return Status::Ok();
}

Status SortQueryHits(BrowseList* hits, uint32_t sort_order, uint32_t accepted,
                     bool arrival_keys) {
  if (accepted == 0) return Status::Ok();
  switch (sort_order) {
    case 1:
      return hits->SetOrder(kOrderTime);
    case 2:
      return hits->SetOrder(kOrderName);
    case 3:
      return hits->SetOrder(kOrderSortKey);
    default:
      return arrival_keys ? hits->SetOrder(kOrderSortKey) : Status::Ok();
  }
}

}  // namespace vantrel
