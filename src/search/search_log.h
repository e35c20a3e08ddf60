// The texts that the search service shows and logs for every request: the
// console's "Last Search:" line (status message 3), the event log line
// written when "Log Every Search" is on, and the failure lines.
//
// Every line is built whole, however long the request's texts are (a long
// translated query is never cut to a fixed buffer).
//
// Thread safety: pure functions; the text table is read-only once installed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// printf into a string of any length.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A search request's "Last Search:" line: "%s  %i %s %.3f %s" with the
// request's text as the client gave it, the hits found, IDS_HITSFOUND, the
// seconds and IDS_SECONDS. A query request uses the same form with the first
// 32 characters of its query text (QueryLogText).
std::string LastSearchLine(std::string_view log_text, uint32_t hits_found, double seconds);

// The event log line of a search request: "%s %s %x %i %i %i %i   %i %s %.3f %s"
// with IDS_LINELABEL11, the query sent to the engine, the option bits, the
// active search counter, date mode, restrict flag, merge flag, hits found,
// IDS_HITSFOUND, seconds, IDS_SECONDS.
struct SearchLogFigures {
  std::string_view query;
  uint32_t option_bits = 0;
  int active_searches = 0;
  int date_mode = 0;
  int restrict_flag = 0;
  int merge_flag = 0;
  uint32_t hits_found = 0;
  double seconds = 0;
};
std::string SearchEventLine(const SearchLogFigures& figures);

// The event log line of a query request: "%s %s  %i %s %.3f %s" with
// IDS_LINELABEL11 and the first 32 characters of the query text.
std::string QueryEventLine(std::string_view query_text, uint32_t hits_found, double seconds);

// The first 32 characters of a query request's text (for both lines).
std::string_view QueryLogText(std::string_view query_text);

// "Failed to get size %s" and "Failed to open %s" with the request path.
std::string FailedToGetSizeLine(std::string_view request_path);
std::string FailedToOpenLine(std::string_view request_path);

}  // namespace vantrel
