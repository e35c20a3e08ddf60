#include "console/preview_route.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "console/console_api_search.h"
#include "console/preview_maker.h"
#include "console/web_assets.h"
#include "server/console_config.h"
#include "pdf/thumbnail_job.h"
#include "platform/code_page.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

const char* IconAsset(PreviewIcon icon) {
  switch (icon) {
    case PreviewIcon::kPdf:
      return "/icon-pdf.svg";
    case PreviewIcon::kEps:
      return "/icon-eps.svg";
    default:
      return "/icon-image.svg";
  }
}

// The icon for a file name's extension, when no picture could be read.
PreviewIcon IconForName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto ends = [&](const char* ext) {
    std::string e(ext);
    return name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
  };
  if (ends(".pdf")) return PreviewIcon::kPdf;
  if (ends(".eps") || ends(".ai")) return PreviewIcon::kEps;
  return PreviewIcon::kOther;
}

PreviewReply IconReply(PreviewIcon icon) {
  const WebAsset* asset = FindWebAsset(IconAsset(icon));
  if (!asset) return PreviewReply{404, "text/plain; charset=utf-8", "no icon"};
  return PreviewReply{200, std::string(asset->content_type), std::string(asset->body)};
}

std::optional<int> IndexParam(const ApiParams& params) {
  auto it = params.find("index");
  if (it == params.end() || it->second.empty() || it->second.size() > 2) return std::nullopt;
  int n = 0;
  for (char c : it->second) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

// One maker for the whole console, so that its cache and its counters are
// shared by every request.
PreviewMaker& Maker(FileSystem* fs) {
  static PreviewMaker maker(PreviewMaker::Options{fs, {}, 20000, {}});
  return maker;
}

// What the maker needs for the hit `native_key` of `def`; nullopt when the
// key names no plain file of the index's image folders.
std::optional<PreviewRequest> RequestFor(FileSystem* fs, const Configuration& config,
                                         const IndexDefinition& def,
                                         const std::string& native_key) {
  const std::string path = HitPath(fs, def, native_key);
  if (path.empty()) return std::nullopt;
  const int slot = (native_key[0] - '0') * 10 + (native_key[1] - '0');
  PreviewRequest request;
  request.engine_folder = def.engine_folder;
  request.image_folder = def.image_folders[slot].path;
  request.image_path = path;
  request.key = native_key;
  const PdfSettings& pdf = GetPdfSettings(config);
  if (!pdf.folder.empty() && IconForName(path) == PreviewIcon::kPdf) {
    std::string relative = path.substr(std::min(path.size(), request.image_folder.size()));
    while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
    request.pdf_thumbnail = MakePicturePaths(pdf.folder, request.image_folder, relative).thumbnail;
    request.pdf_folder = pdf.folder;
  }
  return request;
}

}  // namespace

PreviewReply ServePreview(ApiContext& ctx, const ApiParams& params) {
  auto key = params.find("key");
  std::optional<int> index = IndexParam(params);
  if (key == params.end() || key->second.size() < 3 || !index || *index < 1) {
    return PreviewReply{400, "text/plain; charset=utf-8", "a preview needs index=N and key=KEY"};
  }
  const std::string native_key = CodePage::Default().FromUtf8(key->second);
  Configuration config = ctx.host.config->Copy();
  const size_t at = static_cast<size_t>(*index - 1);
  if (at >= config.indexes.size() || native_key.size() < 3 ||
      !std::isdigit(static_cast<unsigned char>(native_key[0])) ||
      !std::isdigit(static_cast<unsigned char>(native_key[1]))) {
    return IconReply(IconForName(native_key));
  }
  std::optional<PreviewRequest> request =
      RequestFor(ctx.host.fs, config, config.indexes[at], native_key);
  if (!request) return IconReply(IconForName(native_key));
  StatusOr<Preview> made = Maker(ctx.host.fs).Make(*request);
  if (!made.ok()) return IconReply(IconForName(native_key));
  if (!made->jpeg.empty()) return PreviewReply{200, "image/jpeg", made->jpeg};
  return IconReply(made->icon == PreviewIcon::kNone ? IconForName(native_key) : made->icon);
}

}  // namespace vantrel
