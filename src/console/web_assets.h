// The console page's files (web/), embedded into the binary at build time
// (src/console/deps.cmake writes web_assets_data.cc).
#pragma once

#include <string_view>

namespace vantrel {

struct WebAsset {
  std::string_view path;          // "/index.html"
  std::string_view content_type;  // "text/html; charset=utf-8"
  std::string_view body;
};

// The file served at `path` ("/" is "/index.html"); nullptr when none.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace vantrel
