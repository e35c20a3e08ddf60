// Decoding inotify read() buffers (see inotify_buffer.h).
#include "platform/inotify_buffer.h"

#include <sys/inotify.h>

#include <cstring>

namespace vantrel {
namespace {

uint32_t LoadU32(const std::byte* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);  // records need not be aligned in a byte span
  return v;
}

}  // namespace

InotifyParseResult ParseInotifyBuffer(std::span<const std::byte> buffer) {
  InotifyParseResult result;
  size_t pos = 0;
  while (pos < buffer.size()) {
    const size_t left = buffer.size() - pos;
    if (left < kInotifyHeaderSize) break;
    const std::byte* p = buffer.data() + pos;
    const uint32_t name_len = LoadU32(p + 12);
    if (name_len > left - kInotifyHeaderSize) break;
    InotifyRecord record;
    record.wd = static_cast<int32_t>(LoadU32(p));
    record.mask = LoadU32(p + 4);
    record.cookie = LoadU32(p + 8);
    if (name_len > 0) {
      const char* name = reinterpret_cast<const char*>(p + kInotifyHeaderSize);
      const void* nul = std::memchr(name, '\0', name_len);
      size_t used = nul ? static_cast<size_t>(static_cast<const char*>(nul) - name) : name_len;
      record.name.assign(name, used);
    }
    result.records.push_back(std::move(record));
    pos += kInotifyHeaderSize + name_len;
  }
  result.leftover_bytes = buffer.size() - pos;
  return result;
}

ChangeAction ChangeActionForMask(uint32_t mask) {
  if (mask & IN_CREATE) return ChangeAction::kAdded;
  if (mask & IN_DELETE) return ChangeAction::kRemoved;
  if (mask & IN_MOVED_FROM) return ChangeAction::kRenamedOld;
  if (mask & IN_MOVED_TO) return ChangeAction::kRenamedNew;
  if (mask & (IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB)) return ChangeAction::kModified;
  return ChangeAction::kNone;
}

}  // namespace vantrel
