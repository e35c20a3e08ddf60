// The thumbnail job of one PDF file: the 1300-byte record that the server
// hands to the renderer (vantrel-render) unchanged, and the picture paths it
// names.
//
//   offset  size  field
//        0   256  full path of the PDF file
//      256   256  thumbnail path (TN1)
//      512   256  first preview path (PV1)
//      768   256  second preview path (PV2)
//     1024   256  third preview path (PV3)
//     1280     4  u32, always 0
//     1284     4  u32 thumbnail size in pixels
//     1288     4  u32 preview size in pixels
//     1292     4  u32 preview page count (1 or 3)
//     1296     4  u32 the index's Mac text option, as stored
//
// Text fields are NUL-terminated, in the server's code page, native (`/`)
// paths; integers little-endian. All four picture paths are always filled.
//
// Picture paths mirror the image folder below a sub-folder of the PDF folder
// named TN1, PV1, PV2 or PV3: the image folder's path without its leading
// `/`, then the PDF's path relative to the image folder, so a picture has
// the PDF's own name (clients look it up that way) and holds a JPEG:
//   <PDF folder>/TN1/srv/images/sport/2024/report.pdf
// An image folder that is the file system root "/" has no folder part.
//
// Thread safety: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

inline constexpr size_t kThumbnailJobSize = 1300;
inline constexpr size_t kThumbnailPathSlot = 256;
// The renderer's positive acknowledgement.
inline constexpr uint16_t kThumbnailJobDone = 0x8000;

struct ThumbnailJob {
  std::string pdf_path;
  std::string thumbnail_path;                // TN1
  std::array<std::string, 3> preview_paths;  // PV1, PV2, PV3
  uint32_t thumbnail_size = 300;
  uint32_t preview_size = 800;
  uint32_t preview_pages = 3;
  uint32_t mac_text = 0;
  friend bool operator==(const ThumbnailJob&, const ThumbnailJob&) = default;
};

// The 1300 bytes of `job`. Fails with kInvalidArgument when a path does not
// fit its 256-byte slot with its terminating NUL (or holds a NUL).
StatusOr<std::string> EncodeThumbnailJob(const ThumbnailJob& job);

// Reads a record. Fails with kCorruption unless `bytes` is exactly 1300 bytes
// long, every text slot holds its NUL, the PDF path and the four picture
// paths are not empty, the field at 1280 is 0 and the page count is 1 or 3.
// Sizes are taken as they stand (the renderer bounds them).
StatusOr<ThumbnailJob> DecodeThumbnailJob(std::string_view bytes);

// The four picture paths of a PDF (code-page text, native separators).
struct PicturePaths {
  std::string thumbnail;
  std::array<std::string, 3> previews;
};

// `pdf_folder` and `image_folder` are absolute native paths, `relative` the
// PDF's path below the image folder (native separators, no leading `/`).
PicturePaths MakePicturePaths(std::string_view pdf_folder, std::string_view image_folder,
                              std::string_view relative);

}  // namespace vantrel
