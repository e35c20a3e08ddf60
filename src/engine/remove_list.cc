#include "engine/remove_list.h"

#include <cstdint>

#include "core/browse_list.h"
#include "core/list_file.h"
#include "engine/document_name.h"
#include "platform/byte_order.h"

namespace vantrel {
namespace {

constexpr size_t kListHeaderSize = 408;

bool LooksLikeListFile(std::string_view b) {
  return b.size() >= kListHeaderSize && LoadLe32(b, 8) == kListHeaderSize;
}

std::vector<std::string> ParseListFile(std::string_view b) {
  // The list codec checks every length; a damaged file yields the records
  // before the damage, which are still removed.
  BrowseList list;
  DecodeListFile(b, /*keep_extra=*/false, &list).IgnoreError();
  std::vector<std::string> names;
  names.reserve(list.Count());
  list.ForEach([&](const BrowseEntryView& e) {
    std::string key = e.ExpandedName();
    if (!key.empty()) names.push_back(FormatDocumentName(e.time, key));
    return true;
  });
  return names;
}

std::vector<std::string> ParseText(std::string_view b) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < b.size()) {
    size_t eol = b.find('\n', pos);
    if (eol == std::string_view::npos) eol = b.size();
    std::string_view line = b.substr(pos, eol - pos);
    pos = eol + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.remove_suffix(1);
    if (DecodeDocumentName(line).has_value()) names.emplace_back(line);
  }
  return names;
}

}  // namespace

std::vector<std::string> ParseRemoveList(std::string_view bytes) {
  return LooksLikeListFile(bytes) ? ParseListFile(bytes) : ParseText(bytes);
}

}  // namespace vantrel
