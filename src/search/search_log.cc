#include "search/search_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/text_table.h"

namespace vantrel {
namespace {

constexpr size_t kQueryLogChars = 32;

// "%s" arguments need NUL-terminated texts.
std::string Z(std::string_view text) { return std::string(text); }

}  // namespace

std::string StringPrintf(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  if (n < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

std::string LastSearchLine(std::string_view log_text, uint32_t hits_found, double seconds) {
  return StringPrintf("%s  %i %s %.3f %s", Z(log_text).c_str(), static_cast<int>(hits_found),
                      Text(TextId::IDS_HITSFOUND).c_str(), seconds,
                      Text(TextId::IDS_SECONDS).c_str());
}

std::string SearchEventLine(const SearchLogFigures& f) {
  return StringPrintf("%s %s %x %i %i %i %i   %i %s %.3f %s", Text(TextId::IDS_LINELABEL11).c_str(),
                      Z(f.query).c_str(), f.option_bits, f.active_searches, f.date_mode,
                      f.restrict_flag, f.merge_flag, static_cast<int>(f.hits_found),
                      Text(TextId::IDS_HITSFOUND).c_str(), f.seconds,
                      Text(TextId::IDS_SECONDS).c_str());
}

std::string QueryEventLine(std::string_view query_text, uint32_t hits_found, double seconds) {
  return StringPrintf("%s %s  %i %s %.3f %s", Text(TextId::IDS_LINELABEL11).c_str(),
                      Z(QueryLogText(query_text)).c_str(), static_cast<int>(hits_found),
                      Text(TextId::IDS_HITSFOUND).c_str(), seconds,
                      Text(TextId::IDS_SECONDS).c_str());
}

std::string_view QueryLogText(std::string_view query_text) {
  return query_text.substr(0, kQueryLogChars);
}

std::string FailedToGetSizeLine(std::string_view request_path) {
  return "Failed to get size " + std::string(request_path);
}

std::string FailedToOpenLine(std::string_view request_path) {
  return "Failed to open " + std::string(request_path);
}

}  // namespace vantrel
