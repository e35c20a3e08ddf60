#include "core/change_queue.h"

#include <utility>

#include "platform/text_compare.h"

namespace vantrel {

bool ChangeQueue::NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return CompareNoCase(a, b) < 0;
}

void ChangeQueue::Put(ChangeEntry entry) {
  auto it = entries_.find(std::string_view(entry.key));
  if (it != entries_.end()) entries_.erase(it);
  std::string key = entry.key;
  entries_.emplace(std::move(key), std::move(entry));
}

std::optional<ChangeEntry> ChangeQueue::TakeLast() {
  if (entries_.empty()) return std::nullopt;
  auto it = std::prev(entries_.end());
  ChangeEntry entry = std::move(it->second);
  entries_.erase(it);
  return entry;
}

const ChangeEntry* ChangeQueue::Find(std::string_view key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

}  // namespace vantrel
