#include "search/request_names.h"

#include "platform/paths.h"
#include "platform/text_compare.h"

namespace vantrel {
namespace {

// Extensions are looked for among this many last characters.
constexpr size_t kExtensionWindow = 4;

size_t WindowStart(std::string_view name) {
  return name.size() > kExtensionWindow ? name.size() - kExtensionWindow : 0;
}

}  // namespace

RequestKind KindOfRequest(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < WindowStart(name)) return RequestKind::kSearch;
  return EqualsNoCase(name.substr(dot + 1), "QRY") ? RequestKind::kQuery : RequestKind::kSearch;
}

std::string AnswerFileName(std::string_view request_name, std::string_view extension) {
  size_t dot = request_name.find('.', WindowStart(request_name));
  std::string name(request_name.substr(0, dot));
  name.append(extension);
  return name;
}

bool IsPlainListFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || u < 32 || u == 127) return false;
  }
  return true;
}

std::optional<std::string> ListFilePath(std::string_view search_folder, std::string_view name,
                                        const CodePage& code_page) {
  if (!IsPlainListFileName(name)) return std::nullopt;
  return JoinNative(search_folder, code_page.ToUtf8(name));
}

}  // namespace vantrel
