// The console's search: GET /api/search?index=N&q=...&sort=time|name|relevance&limit=M.
#pragma once

#include <string>

#include "console/console_api.h"
#include "core/config_file.h"
#include "platform/file_system.h"

namespace vantrel {

ApiReply SearchFromConsole(ApiContext& ctx, const ApiParams& params);

// GET /api/inspect?index=N&key=KEY: what `vantrelctl inspect` shows of a
// hit's file (its image document, attributes and captions).
ApiReply InspectHit(ApiContext& ctx, const ApiParams& params);

// The file a hit's key (code-page text, "03Sport\img.jpg") names, when it is
// a plain file inside its image folder reached without links; "" otherwise.
std::string HitPath(FileSystem* fs, const IndexDefinition& def, const std::string& native_key);

}  // namespace vantrel
