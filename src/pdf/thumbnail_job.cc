#include "pdf/thumbnail_job.h"

#include "platform/byte_order.h"

namespace vantrel {
namespace {

constexpr size_t kIntegersAt = 5 * kThumbnailPathSlot;

const char* const kFolders[4] = {"TN1", "PV1", "PV2", "PV3"};

void PutLe32(std::string* out, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

Status PutPath(std::string* out, size_t slot, std::string_view path) {
  if (path.size() >= kThumbnailPathSlot || path.find('\0') != std::string_view::npos) {
    return Status::InvalidArgument("path does not fit the 256-byte field of a thumbnail job: " +
                                   std::string(path));
  }
  out->replace(slot * kThumbnailPathSlot, path.size(), path);
  return Status::Ok();
}

// The text of slot `slot`, or nothing when it holds no NUL or is empty.
std::optional<std::string> GetPath(std::string_view bytes, size_t slot) {
  std::string_view field = bytes.substr(slot * kThumbnailPathSlot, kThumbnailPathSlot);
  const size_t end = field.find('\0');
  if (end == std::string_view::npos || end == 0) return std::nullopt;
  return std::string(field.substr(0, end));
}

std::string_view WithoutTrailingSlashes(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

StatusOr<std::string> EncodeThumbnailJob(const ThumbnailJob& job) {
  std::string out(kThumbnailJobSize, '\0');
  const std::string_view paths[5] = {job.pdf_path, job.thumbnail_path, job.preview_paths[0],
                                     job.preview_paths[1], job.preview_paths[2]};
  for (size_t slot = 0; slot < 5; ++slot) {
    Status put = PutPath(&out, slot, paths[slot]);
    if (!put.ok()) return put;
  }
  PutLe32(&out, kIntegersAt, 0);
  PutLe32(&out, kIntegersAt + 4, job.thumbnail_size);
  PutLe32(&out, kIntegersAt + 8, job.preview_size);
  PutLe32(&out, kIntegersAt + 12, job.preview_pages);
  PutLe32(&out, kIntegersAt + 16, job.mac_text);
  return out;
}

StatusOr<ThumbnailJob> DecodeThumbnailJob(std::string_view bytes) {
  if (bytes.size() != kThumbnailJobSize) {
    return Status::Corruption("a thumbnail job is 1300 bytes, not " +
                              std::to_string(bytes.size()));
  }
  std::optional<std::string> paths[5];
  for (size_t slot = 0; slot < 5; ++slot) {
    paths[slot] = GetPath(bytes, slot);
    if (!paths[slot]) {
      return Status::Corruption("thumbnail job field " + std::to_string(slot) +
                                " is empty or not terminated");
    }
  }
  if (LoadLe32(bytes, kIntegersAt) != 0) {
    return Status::Corruption("thumbnail job: the reserved field is not 0");
  }
  ThumbnailJob job;
  job.pdf_path = std::move(*paths[0]);
  job.thumbnail_path = std::move(*paths[1]);
  for (size_t i = 0; i < 3; ++i) job.preview_paths[i] = std::move(*paths[2 + i]);
  job.thumbnail_size = LoadLe32(bytes, kIntegersAt + 4);
  job.preview_size = LoadLe32(bytes, kIntegersAt + 8);
  job.preview_pages = LoadLe32(bytes, kIntegersAt + 12);
  job.mac_text = LoadLe32(bytes, kIntegersAt + 16);
  if (job.preview_pages != 1 && job.preview_pages != 3) {
    return Status::Corruption("thumbnail job: preview page count " +
                              std::to_string(job.preview_pages) + " is neither 1 nor 3");
  }
  return job;
}

PicturePaths MakePicturePaths(std::string_view pdf_folder, std::string_view image_folder,
                              std::string_view relative) {
  std::string_view base = WithoutTrailingSlashes(pdf_folder);
  std::string_view folder = WithoutTrailingSlashes(image_folder);
  while (!folder.empty() && folder.front() == '/') folder.remove_prefix(1);
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  std::string made[4];
  for (int i = 0; i < 4; ++i) {
    std::string& path = made[i];
    path.append(base).append("/").append(kFolders[i]).append("/");
    if (!folder.empty()) path.append(folder).append("/");
    path.append(relative);
  }
  PicturePaths paths;
  paths.thumbnail = std::move(made[0]);
  for (int i = 0; i < 3; ++i) paths.previews[i] = std::move(made[1 + i]);
  return paths;
}

}  // namespace vantrel
