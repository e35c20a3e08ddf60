// ImageDataView: the read-only contents of an image file for the data-fork
// caption readers (Photoshop, EPS, TIFF).
//
// OpenImageData opens the file (12 attempts, 200 ms apart), maps it
// read-only (a small file, or one that cannot be mapped, is read into memory:
// see MappedFile) and decides the content offset: 128 behind a MacBinary
// header, the position of an embedded JPEG stream behind a foreign header,
// else 0. OpenImageDataOver does the same over bytes the caller has already
// read. The readers see the bytes from the content offset on. A view may hold
// a set of files; the readers use the first one.
//
// Thread safety: one view is used by one thread. Across threads, one view of
// a file is in use at a time: OpenImageData waits for the file's process-wide
// view lock and holds it until CloseImageData.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapped_file.h"

namespace vantrel {

// Files smaller than this give no data.
inline constexpr size_t kImageDataMinSize = 256;
inline constexpr size_t kMacBinaryHeaderSize = 128;
// An embedded JPEG stream (FF D8 FF) is looked for within this many bytes.
inline constexpr size_t kForeignHeaderSearch = 1024;

struct ImageDataOptions {
  int attempts = 12;                     // opens tried before giving up
  std::chrono::milliseconds pause{200};  // between two attempts
  MappedFile::Mode mode = MappedFile::Mode::kMapOrRead;
};

struct ImageDataFile {
  std::string name;       // full path
  std::string_view data;  // the file's bytes from the content offset on
  std::unique_ptr<MappedFile> contents;
  FileViewLock lock;
};

class ImageDataView {
 public:
  ImageDataView() = default;
  ~ImageDataView();
  ImageDataView(const ImageDataView&) = delete;
  ImageDataView& operator=(const ImageDataView&) = delete;

  bool is_open() const { return !files_.empty(); }
  // The first file's bytes behind the content offset; empty when closed.
  std::string_view data() const { return files_.empty() ? std::string_view() : files_[0].data; }
  size_t length() const { return data().size(); }
  const std::string& name() const;
  size_t content_offset() const { return content_offset_; }
  size_t file_count() const { return files_.size(); }
  const ImageDataFile& file(size_t i) const { return files_[i]; }

 private:
  friend bool OpenImageData(ImageDataView&, const std::vector<std::string>&,
                            const ImageDataOptions&);
  friend bool OpenImageDataOver(ImageDataView&, const std::string&, std::string_view);
  friend void CloseImageData(ImageDataView&);
  std::vector<ImageDataFile> files_;
  size_t content_offset_ = 0;
};

// Opens one file. Returns true when its data is available; false when it
// cannot be opened after the attempts, is a folder, or is smaller than 256
// bytes. A view that is still open is closed first.
bool OpenImageData(ImageDataView& view, const std::string& path,
                   const ImageDataOptions& options = {});
// Opens a set of files (all or none); the content offset is decided on the
// first. View locks are taken in path order, so that two threads opening
// overlapping sets cannot wait on each other.
bool OpenImageData(ImageDataView& view, const std::vector<std::string>& paths,
                   const ImageDataOptions& options = {});
// Opens a view of `path` over `bytes`, the whole file as the caller read it
// (kept alive by the caller until the view is closed): the same size check,
// content offset and view lock as a file opened above, without reading the
// file again.
bool OpenImageDataOver(ImageDataView& view, const std::string& path, std::string_view bytes);
// Releases contents, mappings, locks and names. Safe on a closed view.
void CloseImageData(ImageDataView& view);

// The content offset for a file that starts with `head` (at least its first
// 1024 bytes when it has them): 128 for a MacBinary wrapper, the position of
// FF D8 FF behind a foreign header, else 0. Files of 256 bytes or fewer: 0.
size_t ContentOffset(std::string_view head);

}  // namespace vantrel
