// Names in an index's search folder: which file names are requests, of which
// kind, the names of their answers (".HIT", ".PRG"), and which names a request
// may give for its merge and restrict lists.
//
// Names here are single-byte code-page text as a client sees them. The
// functions look only at ASCII characters (dots, separators, extensions), so
// they give the same answer on the UTF-8 form of a name.
//
// Thread safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "scan/change_watcher.h"

namespace vantrel {

enum class RequestKind { kSearch, kQuery };

// The arrival filter, IsRequestFileName, belongs to the change watcher
// (scan/change_watcher.h), which applies it when a request file arrives.

// How a request is handled: as a query request when the characters after the
// last dot among the name's last four characters are "QRY" in any letter
// case, as a search request otherwise ("A.QRY" and "a.qry" are query
// requests; "AQRY", without a dot, is a search request).
RequestKind KindOfRequest(std::string_view name);

// The answer file of a request: the name up to the first dot among its last
// four characters (the whole name when there is none) followed by
// `extension` ("A.REQ" -> "A.HIT", "AREQ" -> "AREQ.HIT").
std::string AnswerFileName(std::string_view request_name, std::string_view extension);
inline std::string HitFileName(std::string_view request_name) {
  return AnswerFileName(request_name, ".HIT");
}
inline std::string ProgressFileName(std::string_view request_name) {
  return AnswerFileName(request_name, ".PRG");
}

// True when `name` is a plain file name of the search folder: not empty, no
// '/' or '\' (so no absolute path and no sub-folder), no ':' (no drive
// letter or stream), not "." or "..", and no control character. A merge or
// restrict name that fails this test is treated as naming an empty list, so
// a request can never make the server read outside its search folder.
bool IsPlainListFileName(std::string_view name);

// The native path of list file `name` in `search_folder` (a native path),
// the name converted from the code page to UTF-8; nothing when the name is
// not plain.
std::optional<std::string> ListFilePath(std::string_view search_folder, std::string_view name,
                                        const CodePage& code_page);

}  // namespace vantrel
