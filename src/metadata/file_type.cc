#include "metadata/file_type.h"

namespace vantrel {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsLower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (LowerAscii(text[i]) != lower[i]) return false;
  }
  return true;
}

}  // namespace

uint32_t TypeCodeFromExtension(std::string_view path) {
  const size_t from = path.size() >= 4 ? path.size() - 4 : 0;
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < from) return 0;
  const std::string_view ext = path.substr(dot + 1);
  if (EqualsLower(ext, "jpg") || EqualsLower(ext, "jif")) return kTypeJpeg;
  if (EqualsLower(ext, "tif")) return kTypeTiff;
  if (EqualsLower(ext, "eps") || EqualsLower(ext, "dcs")) return kTypeEps;
  if (EqualsLower(ext, "pdf")) return kTypePdf;
  return 0;
}

uint32_t PictureTypeFromExtension(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return 0;
  const std::string_view ext = path.substr(dot + 1);
  if (EqualsLower(ext, "png")) return kTypePng;
  if (EqualsLower(ext, "webp")) return kTypeWebp;
  return 0;
}

bool IsPostScriptHead(std::string_view head) {
  return head.substr(0, 4) == "%!PS" || head.substr(0, 4) == "\xC5\xD0\xD3\xC6";
}

bool IsPdfHead(std::string_view head) { return head.substr(0, 4) == "%PDF"; }

}  // namespace vantrel
