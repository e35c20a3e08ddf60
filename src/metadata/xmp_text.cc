#include "metadata/xmp_text.h"

#include <unordered_set>

namespace vantrel {
namespace {

constexpr int kDatasetDateCreated = 55;
constexpr int kDatasetTimeCreated = 60;

}  // namespace

std::string XmpCaptionText(const XmpCaption& caption, const std::vector<std::string>& known) {
  std::unordered_set<std::string> taken(known.begin(), known.end());
  std::string text;
  for (const XmpDataset& d : caption.datasets) {
    if (d.dataset == kDatasetDateCreated || d.dataset == kDatasetTimeCreated) continue;
    if (!taken.insert(d.value).second) continue;
    text += d.value;
    text += "\r\n";
  }
  return text;
}

}  // namespace vantrel
