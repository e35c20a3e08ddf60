// HitNames: the names of a search's hits, read from the name values into one
// block per walk instead of a string per hit.
//
// An every-hit search delivers a hundred thousand names or more. As strings
// of their own each name costs an allocation, a release and a cache miss
// when it is read; in blocks the names lie side by side, and the walks of
// several shards, each filling its own block, run side by side without
// sharing an allocator.
//
// Thread safety: Set for one block is called by one thread at a time;
// different blocks may be filled at once, for different hits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class HitNames {
 public:
  // Forgets all names: room for `hits` hits, filled from `blocks` walks,
  // with `bytes_each` bytes set aside in each block.
  void Reset(size_t hits, size_t blocks, size_t bytes_each = 0);

  // The name of hit `hit`, appended to block `block` (< the blocks of
  // Reset). A hit named twice keeps the later name; a name of 4 GiB or
  // more is not taken.
  void Set(size_t hit, size_t block, std::string_view name);

  // The name of hit `hit`; empty when none was set. Valid until the next
  // Reset.
  std::string_view Of(size_t hit) const {
    const Place& p = places_[hit];
    return std::string_view(blocks_[p.block]).substr(p.offset, p.size);
  }

  size_t hits() const { return places_.size(); }

 private:
  struct Place {
    uint32_t block = 0;
    uint32_t size = 0;
    size_t offset = 0;
  };
  std::vector<std::string> blocks_;
  std::vector<Place> places_;
};

}  // namespace vantrel
