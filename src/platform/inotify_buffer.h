// Decoding what read() returns from an inotify descriptor.
//
// The kernel hands back a run of variable-length records:
//
//   offset 0   i32  wd      watch descriptor (-1 for IN_Q_OVERFLOW)
//   offset 4   u32  mask    event bits (IN_CREATE, IN_ISDIR, ...)
//   offset 8   u32  cookie  pairs IN_MOVED_FROM with its IN_MOVED_TO
//   offset 12  u32  len     bytes of name that follow, NUL padded (0: no name)
//   offset 16  len bytes    name, NUL terminated inside len
//
// in host byte order. The decoder trusts nothing: a record whose header or
// name would reach past the end ends the walk, and a name without a NUL
// within its length is taken whole. The functions here are pure, so tests
// feed them hand-made buffers.
//
// Thread safety: no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

// One decoded inotify record.
struct InotifyRecord {
  int32_t wd = 0;
  uint32_t mask = 0;
  uint32_t cookie = 0;
  std::string name;  // raw bytes of the name, without padding ("" when none)
};

struct InotifyParseResult {
  std::vector<InotifyRecord> records;
  // Bytes at the end that did not form a whole record. Non-zero means the
  // buffer was damaged (the kernel never splits a record), so events may
  // have been lost.
  size_t leftover_bytes = 0;
};

inline constexpr size_t kInotifyHeaderSize = 16;

InotifyParseResult ParseInotifyBuffer(std::span<const std::byte> buffer);

// What happened to a name in a watched folder, in the numbering the change
// queues use.
enum class ChangeAction : int {
  kNone = 0,
  kAdded = 1,
  kRemoved = 2,
  kModified = 3,
  kRenamedOld = 4,
  kRenamedNew = 5,
};

// The action for an event mask: IN_CREATE -> kAdded, IN_DELETE -> kRemoved,
// IN_CLOSE_WRITE / IN_MODIFY / IN_ATTRIB -> kModified, IN_MOVED_FROM ->
// kRenamedOld, IN_MOVED_TO -> kRenamedNew; kNone for everything else (the
// watch's own events, IN_IGNORED, IN_Q_OVERFLOW). When a mask carries more
// than one of these bits, the name-changing ones win in the order listed.
ChangeAction ChangeActionForMask(uint32_t mask);

}  // namespace vantrel
