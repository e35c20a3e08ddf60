#include "metadata/image_data_view.h"

#include <algorithm>
#include <thread>

namespace vantrel {
namespace {

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// MacBinary: byte 0 and byte 74 zero, name length 1..63 at byte 1, and the
// name (bytes 2..64) padded with NUL right behind it; or, with a JPEG SOI at
// 128, a name at most as long as the text before the first NUL.
bool IsMacBinary(std::string_view d) {
  if (d.size() <= kMacBinaryHeaderSize + 1) return false;
  if (At(d, 0) != 0 || At(d, 74) != 0) return false;
  size_t name_length = At(d, 1);
  if (name_length < 1 || name_length > 63) return false;
  size_t first_nul = 63;  // none among bytes 2..64
  for (size_t i = 2; i <= 64; ++i) {
    if (At(d, i) == 0) {
      first_nul = i - 2;
      break;
    }
  }
  if (first_nul == name_length) return true;
  return At(d, 128) == 0xFF && At(d, 129) == 0xD8 && name_length <= first_nul;
}

}  // namespace

ImageDataView::~ImageDataView() { CloseImageData(*this); }

const std::string& ImageDataView::name() const {
  static const std::string* empty = new std::string();
  return files_.empty() ? *empty : files_[0].name;
}

size_t ContentOffset(std::string_view d) {
  if (d.size() <= kImageDataMinSize) return 0;
  if (IsMacBinary(d)) return kMacBinaryHeaderSize;
  if (StartsWith(d, "8BPS") || At(d, 0) == 0x1C || d.substr(1, 3) == "!PS" ||
      (At(d, 0) == 0xC5 && At(d, 1) == 0xD0) || StartsWith(d, "II") || StartsWith(d, "MM") ||
      (At(d, 0) == 0xFF && At(d, 1) == 0xD8)) {
    return 0;
  }
  size_t limit = std::min(d.size(), kForeignHeaderSearch);
  for (size_t i = 0; i + 2 < limit; ++i) {
    if (At(d, i) == 0xFF && At(d, i + 1) == 0xD8 && At(d, i + 2) == 0xFF) return i;
  }
  return 0;
}

bool OpenImageData(ImageDataView& view, const std::string& path, const ImageDataOptions& options) {
  return OpenImageData(view, std::vector<std::string>{path}, options);
}

bool OpenImageData(ImageDataView& view, const std::vector<std::string>& paths,
                   const ImageDataOptions& options) {
  CloseImageData(view);
  if (paths.empty()) return false;
  std::vector<ImageDataFile> files(paths.size());
  // Locks in path order (each path once), then files in the given order.
  std::vector<size_t> order(paths.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return paths[a] < paths[b]; });
  for (size_t k = 0; k < order.size(); ++k) {
    size_t i = order[k];
    if (k > 0 && paths[order[k - 1]] == paths[i]) continue;
    files[i].lock = FileViewLock(paths[i]);
  }
  int attempts = std::max(1, options.attempts);
  for (size_t i = 0; i < paths.size(); ++i) {
    files[i].name = paths[i];
    for (int attempt = 0;; ++attempt) {
      StatusOr<std::unique_ptr<MappedFile>> opened = MappedFile::Open(paths[i], options.mode);
      if (opened.ok()) {
        files[i].contents = std::move(*opened);
        break;
      }
      // A folder or an unusable path does not become a file by waiting.
      if (opened.status().code() == StatusCode::kInvalidArgument || attempt + 1 >= attempts) {
        return false;
      }
      std::this_thread::sleep_for(options.pause);
    }
    if (files[i].contents->size() < kImageDataMinSize) return false;
  }
  size_t offset = ContentOffset(files[0].contents->data());
  for (ImageDataFile& f : files) {
    std::string_view all = f.contents->data();
    f.data = all.substr(std::min(offset, all.size()));
  }
  view.files_ = std::move(files);
  view.content_offset_ = offset;
  return true;
}

bool OpenImageDataOver(ImageDataView& view, const std::string& path, std::string_view bytes) {
  CloseImageData(view);
  if (bytes.size() < kImageDataMinSize) return false;
  ImageDataFile file;
  file.lock = FileViewLock(path);
  file.name = path;
  const size_t offset = ContentOffset(bytes);
  file.data = bytes.substr(std::min(offset, bytes.size()));
  view.files_.push_back(std::move(file));
  view.content_offset_ = offset;
  return true;
}

void CloseImageData(ImageDataView& view) {
  // Contents go before the locks, so the next holder finds the mapping gone.
  for (ImageDataFile& f : view.files_) {
    f.data = {};
    f.contents.reset();
    f.lock.Release();
  }
  view.files_.clear();
  view.content_offset_ = 0;
}

}  // namespace vantrel
