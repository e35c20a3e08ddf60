// Reading the list of documents to remove.
//
// The removal list names one document per entry. Two forms are accepted:
// - text: one document name (time stamp digits, a blank, the file key) per
//   line, lines ended by CR LF or LF; empty lines are skipped;
// - a list file (core/list_file.h): every record names the file key and
//   time stamp of one document.
// The form is told by the header: a list file has 408 at offset 8, which no
// text line can have. A damaged list file yields the records before the
// damage; counts and lengths are never trusted.
//
// Thread safety: plain functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Document names listed in `bytes` (the whole file). Never fails.
std::vector<std::string> ParseRemoveList(std::string_view bytes);

}  // namespace vantrel
