#include "metadata/photoshop_resources.h"

namespace vantrel {
namespace {

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

}  // namespace

std::vector<PhotoshopResource> WalkResources(std::string_view block) {
  std::vector<PhotoshopResource> out;
  size_t pos = 0;
  while (block.size() - pos >= kResourceHeaderMin && block.substr(pos, 4) == kResourceSignature) {
    PhotoshopResource r;
    r.offset = pos;
    r.id = static_cast<uint16_t>((At(block, pos + 4) << 8) | At(block, pos + 5));
    size_t name_len = At(block, pos + 6);
    size_t name_field = 1 + name_len;
    name_field += name_field & 1;
    size_t size_at = pos + 6 + name_field;
    if (size_at > block.size() || block.size() - size_at < 4) break;
    r.name = block.substr(pos + 7, name_len);
    r.declared_size = (uint32_t{At(block, size_at)} << 24) |
                      (uint32_t{At(block, size_at + 1)} << 16) |
                      (uint32_t{At(block, size_at + 2)} << 8) | At(block, size_at + 3);
    size_t data_at = size_at + 4;
    size_t avail = block.size() - data_at;
    r.data = block.substr(data_at, r.declared_size < avail ? r.declared_size : avail);
    out.push_back(r);
    uint64_t padded = uint64_t{r.declared_size} + (r.declared_size & 1);
    if (padded >= avail) break;
    pos = data_at + static_cast<size_t>(padded);
  }
  return out;
}

size_t FindResourceSignature(std::string_view block, uint16_t id) {
  size_t pos = 0;
  for (;;) {
    pos = block.find(kResourceSignature, pos);
    if (pos == std::string_view::npos || block.size() - pos < 6) return std::string_view::npos;
    if (At(block, pos + 4) == (id >> 8) && At(block, pos + 5) == (id & 0xFF)) return pos;
    ++pos;
  }
}

std::string EncodeResource(uint16_t id, std::string_view data) {
  std::string r(kResourceSignature);
  r.push_back(static_cast<char>(id >> 8));
  r.push_back(static_cast<char>(id & 0xFF));
  r.push_back(0);
  r.push_back(0);
  uint32_t size = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    r.push_back(static_cast<char>((size >> shift) & 0xFF));
  r.append(data);
  if (data.size() & 1) r.push_back(0);
  return r;
}

}  // namespace vantrel
