// Request files: the binary records that clients drop into an index's search
// folder, decoded (for the server) and encoded (for clients and tests).
//
// Two kinds, told apart by the file name (request_names.h):
//  - search requests ("REQ"): 520 bytes (short form) or 521 to 856 bytes
//    (long form; the server reads at most 856). A search request whose first
//    four bytes are FF F1 F2 F3 is the no-op request;
//  - query requests ("QRY"): 3100 bytes, a query in the engine's own syntax.
// All integers are little-endian. Text slots hold single-byte code-page text
// ending in a NUL inside the slot; the last byte of a slot is always its
// terminator, so a slot of n bytes holds at most n - 1 characters and the
// decoder never reads a text past its slot. docs/client-protocol.md gives the
// byte layout.
//
// Decoding never trusts the input: every offset is checked against the bytes
// given, and anything that is not a request of the kind asked for yields
// kInvalidArgument with a message beginning "not a request". Unused and
// reserved bytes are not interpreted.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// Sizes of the records and of their text slots.
inline constexpr size_t kShortRequestSize = 520;
inline constexpr size_t kLongRequestMaxSize = 856;  // the server reads no more
inline constexpr size_t kQueryRequestSize = 3100;
inline constexpr size_t kTermSlotSize = 64;         // short form terms
inline constexpr size_t kQueryTextSlotSize = 128;   // long form query text
inline constexpr size_t kFileNameSlotSize = 256;    // merge and restrict file names
inline constexpr size_t kEngineQuerySlotSize = 2048;  // query request text

// The first four bytes of a no-op request.
inline constexpr char kNoOpMarker[4] = {'\xFF', '\xF1', '\xF2', '\xF3'};

// Field selector values (byte 512 of a search request).
inline constexpr uint8_t kFieldAllText = 0;
inline constexpr uint8_t kFieldCategory = 1;  // IPTC 2:15
inline constexpr uint8_t kFieldKeywords = 2;  // IPTC 2:25
inline constexpr uint8_t kFieldFileName = 3;  // ZRVFN
inline constexpr uint8_t kFieldFolderPath = 4;  // ZRVFP

// Short form: what a user typed into a simple search box.
struct ShortSearchRequest {
  std::string first_term;   // at most 63 characters
  std::string second_term;  // at most 63 characters; may be empty
  std::string list_file;    // hit file for merge / restrict; may be empty
  uint8_t field_selector = 0;
  uint8_t date_period = 0;  // 0 hour, 1 day, 2 week, 3 thirty days, other: none
  uint8_t date_mode = 0;    // 0 off, 1 at or after, 2 at or before, other: no hit
  uint8_t exact = 0;        // nonzero: no automatic truncation mark
  uint8_t operator_code = 0;  // 0 AND, 1 OR, 2 AND NOT, other: second term dropped
  uint8_t merge_flag = 0;
  uint8_t restrict_flag = 0;
  uint8_t name_order_flag = 0;
  bool operator==(const ShortSearchRequest&) const = default;
};

// Long form: a short query with operators and parentheses.
struct LongSearchRequest {
  std::string query_text;     // at most 127 characters
  std::string restrict_file;  // may be empty
  std::string merge_file;     // may be empty
  uint8_t field_selector = 0;
  uint8_t date_period = 0;
  uint8_t date_mode = 0;
  uint8_t options = 0;  // bit 0: no truncation marks; the byte | 0x10 goes to the engine
  uint8_t fuzziness = 0;
  uint8_t merge_flag = 0;
  uint8_t restrict_flag = 0;
  uint8_t name_order_flag = 0;
  uint8_t hit_limit_thousands = 0;  // 0: no limit
  bool operator==(const LongSearchRequest&) const = default;
};

enum class SearchRequestForm { kNoOp, kShort, kLong };

// A decoded search request: exactly one of the two forms is meaningful,
// neither for kNoOp.
struct SearchRequest {
  SearchRequestForm form = SearchRequestForm::kShort;
  ShortSearchRequest short_form;
  LongSearchRequest long_form;
  bool operator==(const SearchRequest&) const = default;
};

// Query request: a query in the engine's own syntax.
struct QueryRequest {
  uint32_t option_bits = 0;   // handed to the engine unchanged
  uint8_t list_options = 0;   // bit 0 merge, bit 1 restrict
  uint32_t fuzziness = 0;
  uint32_t hit_limit = 0;     // 0: no limit
  uint32_t sort_order = 0;    // 1 time, 2 name, 3 relevance, other: as found
  uint32_t wide_flags = 0;    // bit 0: wide result
  std::string restrict_file;
  std::string merge_file;
  std::string query_text;     // at most 2047 characters
  bool operator==(const QueryRequest&) const = default;
};

// The merge and restrict files a request asks for: empty when not used.
struct RequestLists {
  std::string merge_file;
  std::string restrict_file;
  bool operator==(const RequestLists&) const = default;
};

// Decodes the bytes of a search request file (the whole file, or at least
// its first 856 bytes). Fewer than 520 bytes: kInvalidArgument ("not a
// request"). Exactly 520: the short form. More: the long form from the
// first 856 bytes; fields beyond the end of a shorter file read as zero (a
// 521-byte request has a hit limit and no merge file). The no-op marker
// yields form kNoOp.
StatusOr<SearchRequest> DecodeSearchRequest(std::string_view bytes);

// Decodes a query request from the first 3100 bytes; fewer is kInvalidArgument
// ("not a request").
StatusOr<QueryRequest> DecodeQueryRequest(std::string_view bytes);

// Encoders for clients. A text longer than its slot allows (slot size - 1),
// or holding a NUL, is kInvalidArgument. Every other byte is zero.
StatusOr<std::string> EncodeShortSearchRequest(const ShortSearchRequest& request);
// `size` is the file size to write, 521 to 856 (default: all 856 bytes).
// Fields that do not fit a smaller size must be zero / empty.
StatusOr<std::string> EncodeLongSearchRequest(const LongSearchRequest& request,
                                              size_t size = kLongRequestMaxSize);
StatusOr<std::string> EncodeQueryRequest(const QueryRequest& request);
// The 520-byte no-op request.
std::string EncodeNoOpRequest();

// Which lists a request uses. Short form: its one file, for merge when the
// merge flag is set (the merge flag wins), else for restrict when the
// restrict flag is set. Long form: the merge file with the merge flag, the
// restrict file with the restrict flag, both possible. Query request: bit 0
// merge, bit 1 restrict. A flag with an empty name uses nothing.
RequestLists ListsOf(const ShortSearchRequest& request);
RequestLists ListsOf(const LongSearchRequest& request);
RequestLists ListsOf(const QueryRequest& request);

}  // namespace vantrel
