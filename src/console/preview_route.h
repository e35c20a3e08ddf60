// The picture shown for a search hit on the console's search page.
#pragma once

#include <string>

#include "console/console_api.h"

namespace vantrel {

struct PreviewReply {
  int status = 200;
  std::string content_type;
  std::string body;
};

// GET /api/preview?index=N&key=KEY: the picture of one hit. For now a type
// icon by the file's type (from the key's name); a preview maker plugs in
// here.
PreviewReply ServePreview(ApiContext& ctx, const ApiParams& params);

}  // namespace vantrel
