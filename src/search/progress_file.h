// Progress files: how far a long query request has come.
//
// A query request "NAME.QRY" that collects many hits gets "NAME.PRG" beside
// it: exactly four bytes, a little-endian u32 count of the hits accepted so
// far. The server writes it every 500 accepted hits and never deletes it;
// the client removes it. During one request the count is written over the
// same four bytes in place (ProgressFileWriter): truncating and rewriting a
// file makes the file system flush it at every close, which costs
// milliseconds per write. A client may still read a file that is being
// created and see fewer than four bytes: that is no count
// (DecodeProgressFile gives nothing) and the client reads again later.
//
// Thread safety: pure functions; WriteProgressFile may run on any thread; a
// ProgressFileWriter belongs to one request.
#pragma once

#include <cstdint>
#include <memory>
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

// Rewrites the progress file at `path` (native) with `accepted`; a new file
// gets mode kSharedFileMode (0664) so that any client of the share may
// delete it. A link planted at the name is replaced, never written through.
Status WriteProgressFile(FileSystem* fs, const std::string& path, uint32_t accepted);

// The progress file of one request, kept open between writes. The first
// write replaces a file of another size whole; later writes go over the
// four bytes in place. Where the file system offers no in-place writing,
// every write rewrites the file whole.
class ProgressFileWriter {
 public:
  ProgressFileWriter(FileSystem* fs, std::string path);
  ~ProgressFileWriter();
  ProgressFileWriter(const ProgressFileWriter&) = delete;
  ProgressFileWriter& operator=(const ProgressFileWriter&) = delete;

  Status Write(uint32_t accepted);

 private:
  FileSystem* fs_;
  std::string path_;
  std::unique_ptr<WritableFile> file_;
  bool in_place_failed_ = false;
};

}  // namespace vantrel
