#include "engine/hit_names.h"

#include <cstdint>

namespace vantrel {

void HitNames::Reset(size_t hits, size_t blocks, size_t bytes_each) {
  if (blocks == 0) blocks = 1;
  blocks_.resize(blocks);
  for (std::string& b : blocks_) {
    b.clear();
    b.reserve(bytes_each);
  }
  places_.assign(hits, Place{});
}

void HitNames::Set(size_t hit, size_t block, std::string_view name) {
  // Names are a few hundred bytes at most; a value too long for the size
  // field is no name (the hit stays unnamed, as with no value at all).
  if (name.size() > UINT32_MAX) return;
  std::string& b = blocks_[block];
  places_[hit] = Place{static_cast<uint32_t>(block), static_cast<uint32_t>(name.size()), b.size()};
  b.append(name);
}

}  // namespace vantrel
