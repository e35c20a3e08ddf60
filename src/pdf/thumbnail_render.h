// Making the pictures of one thumbnail job: the thumbnail (TN1, the first
// page fitted into thumbnail size x thumbnail size) and the previews (PV1,
// and with a page count of 3 PV2 and PV3 for the pages the PDF has, fitted
// into preview size), rendered with poppler-cpp and written as JPEG
// (quality 85).
//
// The PDF folder is one that clients write into, and a job's paths are
// outside bytes: the four picture paths must mirror each other below one
// folder (<base>/TN1/<rest>, <base>/PV1/<rest>, ...), which must exist;
// <rest> may hold no empty, "." or ".." component; missing folders below
// <base> are made one level at a time and none of them may be a symbolic
// link; each picture is written under a temporary name and renamed into
// place, so a link planted at a picture's name is replaced, never followed.
// Every picture is rendered before the first is written; the previews are
// written first and the thumbnail last, with the PDF's last-write time (the
// up-to-date mark). A PDF that changed while it was read gets no pictures.
//
// PDF libraries can loop, crash or exhaust memory on damaged files, so this
// runs in a child process of vantrel-render (see pdf/render_service.h).
//
// Thread safety: RenderThumbnailJob may run on several threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/thumbnail_job.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vantrel {

// The largest picture side the renderer makes; larger sizes are cut to it.
inline constexpr uint32_t kMaxPictureSide = 10000;

// An RGB picture, 3 bytes per pixel, rows top to bottom.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::string pixels;
};

// Renders page `page_index` (from 0) of the PDF at `native_pdf` so that its
// longer side is `size` pixels. kCorruption when the file is no readable
// PDF, is encrypted or lacks the page.
StatusOr<RgbPicture> RenderPdfPage(const std::string& native_pdf, int page_index, uint32_t size);

// The JPEG file (quality 85) of `picture`.
StatusOr<std::string> EncodeJpeg(const RgbPicture& picture, int quality = 85);

// Makes the pictures of `job` (paths in the code page `cp`) and returns the
// native paths written, thumbnail last. Fails without writing anything when
// the job's paths are unsound or the PDF unreadable. `pdf_source`, when not
// empty, is where the PDF is read (a path naming the open file the server
// handed over, platform/served_folders.h PathOfOpenFile), instead of the
// job's own path, which then names it in messages only.
StatusOr<std::vector<std::string>> RenderThumbnailJob(const ThumbnailJob& job, const CodePage& cp,
                                                      FileSystem* fs,
                                                      const std::string& pdf_source = "");

}  // namespace vantrel
