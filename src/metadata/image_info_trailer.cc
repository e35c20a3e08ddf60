#include "metadata/image_info_trailer.h"

#include <algorithm>

namespace vantrel {
namespace {

constexpr size_t kMarkerFirst = 34;  // end marker searched from 34 ...
constexpr size_t kMarkerLast = 8;    // ... to 8 bytes before the end (its offset must fit)
constexpr size_t kIptcSearch = 200;  // "IPTC" within this many bytes of the start marker
constexpr size_t kMinFooterMagicAt = 11;

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

uint32_t Be32(std::string_view s, size_t i) {
  return (uint32_t{At(s, i)} << 24) | (uint32_t{At(s, i + 1)} << 16) |
         (uint32_t{At(s, i + 2)} << 8) | At(s, i + 3);
}

bool MagicAt(std::string_view w, size_t i) {
  return i <= w.size() && w.size() - i >= 4 && Be32(w, i) == kTrailerMagic;
}

TrailerSearch WalkChain(std::string_view w, bool whole_file, uint16_t tag,
                        std::string_view* block) {
  size_t footer = w.size() - kTrailerFooterSize;
  for (;;) {
    uint16_t here = static_cast<uint16_t>((At(w, footer) << 8) | At(w, footer + 1));
    uint32_t length = Be32(w, footer + 2);
    if (length < kTrailerFooterSize) return TrailerSearch::kNotFound;  // broken footer
    size_t data_length = length - kTrailerFooterSize;
    if (data_length > footer) return TrailerSearch::kWindowTooSmall;
    size_t data_start = footer - data_length;
    if (here == tag) {
      *block = w.substr(data_start, data_length);
      return TrailerSearch::kFound;
    }
    // The previous footer ends where this block's data starts.
    if (data_start < kTrailerFooterSize + kMinFooterMagicAt - 6) {
      // A footer cut by the window edge: a larger window may hold it.
      return whole_file ? TrailerSearch::kNotFound : TrailerSearch::kWindowTooSmall;
    }
    size_t previous = data_start - kTrailerFooterSize;
    if (!MagicAt(w, previous + 6)) return TrailerSearch::kNotFound;
    footer = previous;
  }
}

TrailerSearch SearchMarkers(std::string_view w, uint64_t file_size, std::string_view* block) {
  const uint64_t window_start = file_size - w.size();
  size_t end_marker = std::string_view::npos;
  // Nearest the end first: the start marker may itself lie within the last
  // 34 bytes.
  for (size_t back = kMarkerLast; back <= kMarkerFirst; ++back) {
    if (back > w.size()) continue;
    size_t p = w.size() - back;
    if (w.substr(p, 4) == kAxsMarker) {
      end_marker = p;
      break;
    }
  }
  if (end_marker == std::string_view::npos) return TrailerSearch::kNotFound;
  uint64_t start_abs = Be32(w, end_marker + 4);
  if (start_abs >= window_start + end_marker || start_abs < window_start) {
    return TrailerSearch::kWindowTooSmallMarkers;
  }
  size_t start = static_cast<size_t>(start_abs - window_start);
  if (w.substr(start, 4) != kAxsMarker) return TrailerSearch::kWindowTooSmallMarkers;
  std::string_view near = w.substr(start, kIptcSearch);
  size_t tag = near.find("IPTC");
  if (tag == std::string_view::npos) return TrailerSearch::kWindowTooSmallMarkers;
  size_t fields = start + tag + 4;
  if (w.size() - fields < 8) return TrailerSearch::kWindowTooSmallMarkers;
  uint64_t length = Be32(w, fields);
  uint64_t offset = Be32(w, fields + 4);
  // Data that starts before the window may be reached by a larger one.
  if (offset < window_start) return TrailerSearch::kWindowTooSmallMarkers;
  if (offset - window_start >= w.size() || length > w.size() - (offset - window_start) ||
      length == 0) {
    return TrailerSearch::kNotFound;
  }
  size_t at = static_cast<size_t>(offset - window_start);
  if (At(w, at) != 0x1C) return TrailerSearch::kNotFound;
  *block = w.substr(at, static_cast<size_t>(length));
  return TrailerSearch::kFound;
}

}  // namespace

TrailerSearch SearchTrailerWindow(std::string_view window, uint64_t file_size, uint16_t tag,
                                  std::string_view* block) {
  if (window.size() > file_size) return TrailerSearch::kNotFound;
  bool whole_file = window.size() == file_size;
  if (window.size() >= kTrailerFooterSize && MagicAt(window, window.size() - 4)) {
    return WalkChain(window, whole_file, tag, block);
  }
  if (tag == kTrailerTagIptc) return SearchMarkers(window, file_size, block);
  return TrailerSearch::kNotFound;
}

size_t InitialTrailerWindow(uint16_t tag) {
  switch (tag) {
    case 3:
      return 20000;
    case 4:
      return 40000;
    default:
      return 3000;
  }
}

bool ReadImageInfoTrailer(const RangeReader& read, uint64_t file_size, uint16_t tag,
                          TrailerWindow* out) {
  int repeats = (tag == 1 || tag == 4) ? 3 : 2;
  uint64_t n = std::min<uint64_t>(InitialTrailerWindow(tag), file_size);
  for (int attempt = 0;; ++attempt) {
    TrailerWindow w;
    w.file_size = file_size;
    if (!read(file_size - n, static_cast<size_t>(n), &w.bytes) || w.bytes.size() != n) {
      return false;
    }
    std::string_view block;
    TrailerSearch result = SearchTrailerWindow(w.bytes, file_size, tag, &block);
    if (result == TrailerSearch::kFound) {
      size_t offset = static_cast<size_t>(block.data() - w.bytes.data());
      *out = std::move(w);
      out->block = std::string_view(out->bytes).substr(offset, block.size());
      return true;
    }
    if (result == TrailerSearch::kNotFound || attempt >= repeats || n >= file_size) return false;
    uint64_t factor = result == TrailerSearch::kWindowTooSmallMarkers ? 8 : 2;
    n = std::min<uint64_t>(n * factor, file_size);
  }
}

bool ReadImageInfoTrailer(FileSystem& fs, const std::string& path, uint16_t tag,
                          TrailerWindow* out) {
  StatusOr<FileInfo> info = fs.Stat(path);
  if (!info.ok() || info->is_folder) return false;
  return ReadImageInfoTrailer(
      [&](uint64_t offset, size_t length, std::string* bytes) {
        StatusOr<std::string> r = fs.ReadFileRange(path, offset, length);
        if (!r.ok()) return false;
        *bytes = std::move(*r);
        return true;
      },
      info->size, tag, out);
}

bool ParseImageInfo(std::string_view b, ImageInfo* info) {
  if (b.size() < kImageInfoMinSize) return false;
  ImageInfo v;
  v.width = Be32(b, 0);
  v.height = Be32(b, 4);
  v.channels = Be32(b, 8);
  v.resolution_milli = static_cast<int32_t>(Be32(b, 12));
  v.hundredths = static_cast<int32_t>(Be32(b, 16));
  if (Be32(b, 20) == kImageInfoExtraWord && b.size() >= 24 + 16) {
    v.has_extra = true;
    for (int k = 0; k < 4; ++k) v.extra[k] = static_cast<int32_t>(Be32(b, 24 + 4 * k));
  }
  *info = v;
  return true;
}

bool FindImageInfo(const TrailerWindow& window, ImageInfo* info) {
  std::string_view block;
  if (window.bytes.size() < kTrailerFooterSize || !MagicAt(window.bytes, window.bytes.size() - 4)) {
    return false;
  }
  if (SearchTrailerWindow(window.bytes, window.file_size, kTrailerTagImageInfo, &block) !=
      TrailerSearch::kFound) {
    return false;
  }
  return ParseImageInfo(block, info);
}

}  // namespace vantrel
