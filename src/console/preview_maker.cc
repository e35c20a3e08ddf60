#include "console/preview_maker.h"

#include <cctype>
#include <string_view>
#include <utility>

#include "platform/paths.h"

namespace vantrel {
namespace {

constexpr size_t kHeadBytes = 16;

enum class FileKind { kJpeg, kPdf, kTiff, kPng, kEps, kOther };

std::string LowerExtension(std::string_view path) {
  std::string_view name = LastComponent(path);
  const size_t dot = name.rfind('.');
  std::string ext(dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The file's first bytes decide; its extension only when they say nothing.
FileKind KindOf(std::string_view head, std::string_view path) {
  if (head.starts_with("\xFF\xD8\xFF")) return FileKind::kJpeg;
  if (head.starts_with("%PDF-")) return FileKind::kPdf;
  if (head.starts_with(std::string_view("II*\0", 4)) ||
      head.starts_with(std::string_view("MM\0*", 4))) {
    return FileKind::kTiff;
  }
  if (head.starts_with("\x89PNG\r\n\x1A\n")) return FileKind::kPng;
  if (head.starts_with("%!PS") || head.starts_with("\xC5\xD0\xD3\xC6")) return FileKind::kEps;
  const std::string ext = LowerExtension(path);
  if (ext == "jpg" || ext == "jpeg" || ext == "jpe") return FileKind::kJpeg;
  if (ext == "pdf") return FileKind::kPdf;
  if (ext == "tif" || ext == "tiff") return FileKind::kTiff;
  if (ext == "png") return FileKind::kPng;
  if (ext == "eps" || ext == "ps") return FileKind::kEps;
  return FileKind::kOther;
}

PreviewIcon IconOf(FileKind kind) {
  switch (kind) {
    case FileKind::kTiff:
      return PreviewIcon::kTiff;
    case FileKind::kPng:
      return PreviewIcon::kPng;
    case FileKind::kEps:
      return PreviewIcon::kEps;
    case FileKind::kPdf:
      return PreviewIcon::kPdf;
    case FileKind::kJpeg:
    case FileKind::kOther:
      break;
  }
  return PreviewIcon::kOther;
}

Preview IconPreview(PreviewIcon icon) {
  Preview p;
  p.icon = icon;
  return p;
}

// `path` is a file inside `folder` with no link on the way (folder itself
// excluded; the file itself is read without following a link).
Status CheckInside(FileSystem* fs, const std::string& folder, const std::string& path,
                   const char* what) {
  const std::string parent(FolderPart(path));
  if (folder.empty() || folder.front() != '/' || path.empty() || path.front() != '/' ||
      path.back() == '/' || parent.empty() || !fs->IsInsideWithoutLinks(folder, parent)) {
    return Status::InvalidArgument(std::string(what) + " " + path +
                                   " does not lie inside " + folder + " without a link");
  }
  return Status::Ok();
}

}  // namespace

const char* PreviewIconName(PreviewIcon icon) {
  switch (icon) {
    case PreviewIcon::kNone:
      return "";
    case PreviewIcon::kTiff:
      return "tiff";
    case PreviewIcon::kPng:
      return "png";
    case PreviewIcon::kEps:
      return "eps";
    case PreviewIcon::kPdf:
      return "pdf";
    case PreviewIcon::kOther:
      break;
  }
  return "other";
}

PreviewMaker::PreviewMaker(Options options)
    : options_(std::move(options)), cache_(options_.fs, options_.max_cache_entries) {
  if (!options_.shrink) options_.shrink = ShrinkJpeg;
}

StatusOr<Preview> PreviewMaker::Make(const PreviewRequest& request) {
  FileSystem* fs = options_.fs;
  VANTREL_RETURN_IF_ERROR(CheckInside(fs, request.image_folder, request.image_path, "picture"));
  VANTREL_ASSIGN_OR_RETURN(std::string head,
                           fs->ReadFileRange(request.image_path, 0, kHeadBytes));
  const FileKind kind = KindOf(head, request.image_path);
  if (kind == FileKind::kJpeg) return JpegPreview(request, request.image_path);
  if (kind != FileKind::kPdf || request.pdf_thumbnail.empty()) return IconPreview(IconOf(kind));

  // A PDF: its own thumbnail when there is a good one, else the icon.
  if (!CheckInside(fs, request.pdf_folder, request.pdf_thumbnail, "thumbnail").ok()) {
    return IconPreview(PreviewIcon::kPdf);
  }
  StatusOr<std::string> thumb_head = fs->ReadFileRange(request.pdf_thumbnail, 0, kHeadBytes);
  if (!thumb_head.ok() || KindOf(*thumb_head, "") != FileKind::kJpeg) {
    return IconPreview(PreviewIcon::kPdf);
  }
  StatusOr<Preview> thumb = JpegPreview(request, request.pdf_thumbnail);
  if (!thumb.ok()) return IconPreview(PreviewIcon::kPdf);  // a damaged thumbnail
  return thumb;
}

StatusOr<Preview> PreviewMaker::JpegPreview(const PreviewRequest& request,
                                            const std::string& source) {
  FileSystem* fs = options_.fs;
  VANTREL_ASSIGN_OR_RETURN(FileInfo info, fs->Stat(source));
  const std::string identity =
      PreviewCache::Identity(source, request.key, info.size, info.modified);
  Preview preview;
  if (std::optional<std::string> kept = cache_.Find(request.engine_folder, identity)) {
    preview.jpeg = std::move(*kept);
    preview.from_cache = true;
    return preview;
  }
  // Every read opens the file afresh without following a link, so a link
  // put in its place meanwhile ends the decoding with an error.
  JpegByteReader read = [fs, &source](uint64_t offset, size_t length) {
    return fs->ReadFileRange(source, offset, length);
  };
  VANTREL_ASSIGN_OR_RETURN(preview.jpeg, options_.shrink(read, options_.limits));
  // A preview that cannot be kept is made again next time; nothing is lost.
  cache_.Store(request.engine_folder, identity, preview.jpeg).IgnoreError();
  return preview;
}

}  // namespace vantrel
