// Progress files: how far a long query request has come.
//
// A query request "NAME.QRY" that collects many hits gets "NAME.PRG" beside
// it: exactly four bytes, a little-endian u32 count of the hits accepted so
// far. The server rewrites it whole (truncated, then written) every 500
// accepted hits and never deletes it; the client removes it. A client may
// read it while it is being rewritten and then see fewer than four bytes:
// that is no count (DecodeProgressFile gives nothing) and the client reads
// again later.
//
// Thread safety: pure functions; WriteProgressFile may run on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr size_t kProgressFileSize = 4;
// The progress file is rewritten whenever the accepted count reaches a
// multiple of this.
inline constexpr uint32_t kProgressInterval = 500;

std::string EncodeProgressFile(uint32_t accepted);

// The count of a progress file; nothing unless it holds exactly four bytes.
std::optional<uint32_t> DecodeProgressFile(std::string_view bytes);

// Rewrites the progress file at `path` (native) with `accepted`.
Status WriteProgressFile(FileSystem* fs, const std::string& path, uint32_t accepted);

}  // namespace vantrel
