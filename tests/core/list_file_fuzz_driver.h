// The checks that the list file fuzz target (fuzz/list_file_fuzz.cc) runs on
// every input, shared with list_file_test.cc, which replays the kept corpus.
//
// The first byte chooses whether extras are kept; the rest is the file.
// Beyond "no crash": no more entries are loaded than the bytes can hold (a
// 16-byte record header and at least the name's NUL each), damage is
// reported as kCorruption only, and a file that reads without complaint
// encodes back to one that reads to as many entries.
#pragma once

#include <string_view>

#include "core/browse_list.h"
#include "core/list_file.h"

namespace vantrel {

// Returns false when an invariant is broken.
inline bool CheckListFileInput(std::string_view input) {
  if (input.empty()) return true;
  const bool keep_extra = (input[0] & 1) != 0;
  const std::string_view bytes = input.substr(1);
  BrowseList list;
  Status s = DecodeListFile(bytes, keep_extra, &list);
  const size_t room = bytes.size() < kListFileHeaderSize
                          ? 0
                          : (bytes.size() - kListFileHeaderSize) / (kListRecordHeaderSize + 1);
  if (list.Count() > room) return false;
  if (!s.ok()) return s.code() == StatusCode::kCorruption;
  BrowseList again;
  return DecodeListFile(EncodeListFile(list, {}), keep_extra, &again).ok() &&
         again.Count() == list.Count();
}

}  // namespace vantrel
