// PreviewMaker: the small pictures of the console's search page.
//
// For one hit (an index's engine folder, the picture's image folder, its
// path and file key) it gives either a JPEG whose longer side is at most 160
// pixels, or the type of icon to show instead:
//  - a JPEG picture is shrunk with libjpeg's scaled decoding (preview_jpeg.h);
//  - a PDF file shows its own thumbnail from the PDF folder when the caller
//    names one and it is a JPEG (shrunk the same way), else the PDF icon;
//  - every other picture (TIFF, PNG, EPS and the rest) has no decoder here
//    and gives its type's icon.
// The type comes from the file's first bytes, and from its name's extension
// when they say nothing.
//
// Made previews are kept in the index's preview cache (preview_cache.h:
// beside the engine folder, never in an image folder); a picture whose size
// or modification time changed gets a new one.
//
// Image folders and the PDF folder are written by clients: the picture must
// lie inside its image folder with no link on the way, it is read without
// following a link, and every byte of it is treated as hostile (a damaged or
// truncated JPEG gives an error Status, never a crash).
//
// Thread safety: Make may be called from several threads at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "console/preview_cache.h"
#include "console/preview_jpeg.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// The icon shown for a picture without a preview.
enum class PreviewIcon { kNone, kTiff, kPng, kEps, kPdf, kOther };

// "tiff", "png", "eps", "pdf", "other" ("" for kNone): names for the route.
const char* PreviewIconName(PreviewIcon icon);

struct PreviewRequest {
  std::string engine_folder;  // the index's engine folder (VT_DATA/VT_INDEX)
  std::string image_folder;   // the image folder the picture lies in
  std::string image_path;     // native path of the picture
  std::string key;            // its file key ("03Sport\img.jpg")
  // The PDF's own thumbnail, when the caller knows where it lies, and the
  // PDF folder that holds it. Empty: no thumbnail.
  std::string pdf_thumbnail;
  std::string pdf_folder;
};

struct Preview {
  std::string jpeg;                      // the preview, when one was made
  PreviewIcon icon = PreviewIcon::kNone;  // otherwise the icon to show
  bool from_cache = false;
};

class PreviewMaker {
 public:
  using Shrinker =
      std::function<StatusOr<std::string>(const JpegByteReader&, const JpegShrinkLimits&)>;

  struct Options {
    FileSystem* fs = nullptr;  // required; outlives the maker
    JpegShrinkLimits limits;
    size_t max_cache_entries = 20000;  // per index
    Shrinker shrink;                   // empty: ShrinkJpeg (tests count calls)
  };

  explicit PreviewMaker(Options options);

  // kInvalidArgument for a request whose picture does not lie inside its
  // image folder (or does so through a link); the reader's error for a
  // picture that cannot be read (a link in its place among them); the
  // shrinker's error for a damaged JPEG. A preview that cannot be kept in
  // the cache is still returned.
  StatusOr<Preview> Make(const PreviewRequest& request);

 private:
  // The JPEG preview of `source`, from the cache or made and kept there.
  StatusOr<Preview> JpegPreview(const PreviewRequest& request, const std::string& source);

  Options options_;
  PreviewCache cache_;
};

}  // namespace vantrel
