// Test helper: sets the last-write time of a file or folder, so that tests of
// folder-time comparisons do not depend on the clock or on how fast the disk
// is.
// Thread safety: a plain function; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// Sets the last-write (and access) time of `path` to `unix_seconds` since
// 1970, without following a final symbolic link. Returns false on failure.
bool SetModifiedTime(const std::string& path, int64_t unix_seconds);

}  // namespace vantrel
