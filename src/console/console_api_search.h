// The console's search: GET /api/search?index=N&q=...&sort=time|name|relevance&limit=M.
#pragma once

#include "console/console_api.h"

namespace vantrel {

ApiReply SearchFromConsole(ApiContext& ctx, const ApiParams& params);

// GET /api/inspect?index=N&key=KEY: what `vantrelctl inspect` shows of a
// hit's file (its image document, attributes and captions).
ApiReply InspectHit(ApiContext& ctx, const ApiParams& params);

}  // namespace vantrel
