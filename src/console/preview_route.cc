#include "console/preview_route.h"

#include <algorithm>
#include <cctype>

#include "console/web_assets.h"

namespace vantrel {
namespace {

// The icon for a file name's extension.
const char* IconFor(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto ends = [&](const char* ext) {
    std::string e(ext);
    return name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
  };
  if (ends(".pdf")) return "/icon-pdf.svg";
  if (ends(".eps") || ends(".ai")) return "/icon-eps.svg";
  return "/icon-image.svg";
}

}  // namespace

PreviewReply ServePreview(ApiContext&, const ApiParams& params) {
  auto key = params.find("key");
  if (key == params.end() || key->second.empty()) {
    return PreviewReply{400, "text/plain; charset=utf-8", "a preview needs a key"};
  }
  const WebAsset* icon = FindWebAsset(IconFor(key->second));
  if (!icon) return PreviewReply{404, "text/plain; charset=utf-8", "no icon"};
  return PreviewReply{200, std::string(icon->content_type), std::string(icon->body)};
}

}  // namespace vantrel
