#include "pdf/thumbnail_render.h"

#include <jpeglib.h>
#include <poppler-document.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/paths.h"

namespace vantrel {
namespace {

const char* const kPreviewFolders[3] = {"/PV1/", "/PV2/", "/PV3/"};

// The job's pictures as native paths, with the folder they all lie below.
struct PictureTargets {
  std::string base;  // the PDF folder
  std::string thumbnail;
  std::vector<std::string> previews;  // PV1..PV3 as far as the job needs them
  std::string pdf;
};

// True when `rest` is a relative path without empty, "." or ".." parts.
bool IsPlainRelative(std::string_view rest) {
  if (rest.empty()) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = rest.find('/', start);
    std::string_view part = rest.substr(start, end == std::string_view::npos ? rest.npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// Finds <base> and <rest> such that the thumbnail is <base>/TN1/<rest> and
// preview i is <base>/PVi/<rest>.
StatusOr<PictureTargets> ResolveTargets(const ThumbnailJob& job, const CodePage& cp) {
  PictureTargets t;
  t.pdf = cp.ToUtf8(job.pdf_path);
  const std::string thumbnail = cp.ToUtf8(job.thumbnail_path);
  std::string previews[3];
  for (int i = 0; i < 3; ++i) previews[i] = cp.ToUtf8(job.preview_paths[i]);
  for (size_t at = thumbnail.find("/TN1/"); at != std::string::npos;
       at = thumbnail.find("/TN1/", at + 1)) {
    const std::string base = thumbnail.substr(0, at);
    const std::string rest = thumbnail.substr(at + 5);
    bool mirrored = true;
    for (int i = 0; i < 3; ++i) mirrored = mirrored && previews[i] == base + kPreviewFolders[i] + rest;
    if (!mirrored || base.empty() || base.front() != '/' || !IsPlainRelative(rest)) continue;
    t.base = base;
    t.thumbnail = thumbnail;
    const int count = job.preview_pages == 3 ? 3 : 1;
    for (int i = 0; i < count; ++i) t.previews.push_back(previews[i]);
    return t;
  }
  return Status::InvalidArgument("the picture paths of the job do not lie below one PDF folder: " +
                                 thumbnail);
}

// Makes the folders from `base` (which exists) down to `folder`, one level
// at a time, refusing symbolic links on the way.
Status CreateFoldersBelow(FileSystem* fs, const std::string& base, const std::string& folder) {
  std::string current = base;
  std::string_view rest = std::string_view(folder).substr(base.size());
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the separator
    const size_t end = rest.find('/');
    current += "/";
    current += rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (!fs->Exists(current)) {
      Status made = fs->CreateFolders(current);
      if (!made.ok() && !fs->IsFolder(current)) return made;
    }
    if (!fs->IsInsideWithoutLinks(base, current) || !fs->IsFolder(current)) {
      return Status::InvalidArgument("not a folder of its own (a link?): " + current);
    }
  }
  return Status::Ok();
}

Status WritePicture(FileSystem* fs, const std::string& base, const std::string& path,
                    const std::string& jpeg, const WinFileTime* modified) {
  Status folders = CreateFoldersBelow(fs, base, std::string(FolderPart(path)));
  if (!folders.ok()) return folders;
  if (modified != nullptr) return fs->WriteFileAtomicDated(path, jpeg, 0644, *modified);
  return fs->WriteFileAtomic(path, jpeg, 0644);
}

// The pixel size of a page rendered so that its longer side is `size`.
void FitSize(double page_w, double page_h, uint32_t size, int* w, int* h, double* dpi) {
  const double longer = std::max(page_w, page_h);
  *dpi = 72.0 * size / longer;
  const double scale = size / longer;
  *w = std::max(1, static_cast<int>(std::lround(page_w * scale)));
  *h = std::max(1, static_cast<int>(std::lround(page_h * scale)));
  if (page_w >= page_h) {
    *w = static_cast<int>(size);
  } else {
    *h = static_cast<int>(size);
  }
}

RgbPicture ToRgb(const poppler::image& img, int w, int h) {
  RgbPicture out;
  out.width = std::min(w, img.width());
  out.height = std::min(h, img.height());
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
  const char* data = img.const_data();
  for (int y = 0; y < out.height; ++y) {
    const char* row = data + static_cast<size_t>(y) * img.bytes_per_row();
    char* dst = out.pixels.data() + static_cast<size_t>(y) * out.width * 3;
    for (int x = 0; x < out.width; ++x) {
      uint32_t v;
      std::memcpy(&v, row + static_cast<size_t>(x) * 4, 4);  // native 0xAARRGGBB
      dst[3 * x] = static_cast<char>((v >> 16) & 0xFF);
      dst[3 * x + 1] = static_cast<char>((v >> 8) & 0xFF);
      dst[3 * x + 2] = static_cast<char>(v & 0xFF);
    }
  }
  return out;
}

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

}  // namespace

namespace {

// Loads the PDF at `source`; `native_pdf` names it in messages.
StatusOr<std::unique_ptr<poppler::document>> LoadPdf(const std::string& source,
                                                     const std::string& native_pdf) {
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(source));
  if (!doc) return Status::Corruption("not a readable PDF: " + native_pdf);
  if (doc->is_locked()) return Status::Corruption("an encrypted PDF: " + native_pdf);
  if (doc->pages() < 1) return Status::Corruption("a PDF without pages: " + native_pdf);
  return doc;
}

StatusOr<RgbPicture> RenderLoadedPage(const poppler::document& doc, int page_index,
                                      uint32_t size) {
  if (size == 0) return Status::InvalidArgument("picture size 0");
  size = std::min(size, kMaxPictureSide);
  if (page_index < 0 || page_index >= doc.pages()) {
    return Status::Corruption("the PDF has no page " + std::to_string(page_index + 1));
  }
  std::unique_ptr<poppler::page> page(doc.create_page(page_index));
  if (!page) return Status::Corruption("page " + std::to_string(page_index + 1) + " unreadable");
  const poppler::rectf box = page->page_rect(poppler::media_box);
  double pw = box.width();
  double ph = box.height();
  const poppler::page::orientation_enum o = page->orientation();
  if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(pw, ph);
  if (!(pw >= 1 && ph >= 1 && pw < 1e7 && ph < 1e7)) {
    return Status::Corruption("page " + std::to_string(page_index + 1) + " has no usable size");
  }
  int w = 0, h = 0;
  double dpi = 72;
  FitSize(pw, ph, size, &w, &h, &dpi);
  poppler::page_renderer renderer;
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  renderer.set_paper_color(0xFFFFFFFF);
  renderer.set_image_format(poppler::image::format_argb32);
  poppler::image img = renderer.render_page(page.get(), dpi, dpi, 0, 0, w, h);
  if (!img.is_valid() || img.width() < 1 || img.height() < 1) {
    return Status::Corruption("page " + std::to_string(page_index + 1) + " cannot be rendered");
  }
  return ToRgb(img, w, h);
}

// Renders page `index` of `doc` and encodes it.
StatusOr<std::string> PageJpeg(const poppler::document& doc, int index, uint32_t size) {
  StatusOr<RgbPicture> page = RenderLoadedPage(doc, index, size);
  if (!page.ok()) return page.status();
  return EncodeJpeg(*page);
}

}  // namespace

StatusOr<RgbPicture> RenderPdfPage(const std::string& native_pdf, int page_index, uint32_t size) {
  StatusOr<std::unique_ptr<poppler::document>> doc = LoadPdf(native_pdf, native_pdf);
  if (!doc.ok()) return doc.status();
  return RenderLoadedPage(**doc, page_index, size);
}

StatusOr<std::string> EncodeJpeg(const RgbPicture& picture, int quality) {
  if (picture.width < 1 || picture.height < 1 ||
      picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height * 3) {
    return Status::InvalidArgument("no picture to encode");
  }
  jpeg_compress_struct info;
  JpegError err;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return Status::Internal("JPEG encoding failed");
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(picture.width);
  info.image_height = static_cast<JDIMENSION>(picture.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char*>(
        picture.pixels.data() + static_cast<size_t>(info.next_scanline) * picture.width * 3));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

StatusOr<std::vector<std::string>> RenderThumbnailJob(const ThumbnailJob& job, const CodePage& cp,
                                                      FileSystem* fs,
                                                      const std::string& pdf_source) {
  StatusOr<PictureTargets> targets = ResolveTargets(job, cp);
  if (!targets.ok()) return targets.status();
  if (!fs->IsValidFolder(targets->base)) {
    return Status::NotFound("the PDF folder does not exist: " + targets->base);
  }
  const std::string& source = pdf_source.empty() ? targets->pdf : pdf_source;
  StatusOr<FileInfo> before = fs->Stat(source);
  if (!before.ok() || before->is_folder) return Status::NotFound("no PDF file " + targets->pdf);

  StatusOr<std::unique_ptr<poppler::document>> doc = LoadPdf(source, targets->pdf);
  if (!doc.ok()) return doc.status();
  // Everything is rendered before anything is written.
  std::vector<std::pair<std::string, std::string>> pictures;  // path, JPEG
  const size_t pages = static_cast<size_t>((*doc)->pages());
  for (size_t i = 0; i < targets->previews.size() && i < pages; ++i) {
    StatusOr<std::string> jpeg = PageJpeg(**doc, static_cast<int>(i), job.preview_size);
    if (!jpeg.ok()) return jpeg.status();
    pictures.emplace_back(targets->previews[i], std::move(*jpeg));
  }
  StatusOr<std::string> thumb = PageJpeg(**doc, 0, job.thumbnail_size);
  if (!thumb.ok()) return thumb.status();
  pictures.emplace_back(targets->thumbnail, std::move(*thumb));

  StatusOr<FileInfo> after = fs->Stat(source);
  if (!after.ok() || after->modified != before->modified || after->size != before->size) {
    return Status::Unavailable("the PDF changed while it was rendered: " + targets->pdf);
  }
  std::vector<std::string> written;
  // The thumbnail carries the PDF's time, which tells that it is up to date,
  // from the moment it appears; it is written last.
  for (const auto& [path, jpeg] : pictures) {
    const bool thumbnail = path == targets->thumbnail;
    Status w = WritePicture(fs, targets->base, path, jpeg, thumbnail ? &before->modified : nullptr);
    if (!w.ok()) return w;
    written.push_back(path);
  }
  return written;
}

}  // namespace vantrel
