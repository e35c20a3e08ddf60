#include "search/request_file.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>

namespace vantrel {
namespace {

// Offsets shared by both search request forms.
constexpr size_t kOffFirstText = 0;      // first term / query text
constexpr size_t kOffSecondTerm = 64;    // short form
constexpr size_t kOffListFile = 256;     // short: list file; long: restrict file
constexpr size_t kOffField = 512;
constexpr size_t kOffDatePeriod = 513;
constexpr size_t kOffDateMode = 514;
constexpr size_t kOffExactOrOptions = 515;
constexpr size_t kOffOperatorOrFuzziness = 516;
constexpr size_t kOffMerge = 517;
constexpr size_t kOffRestrict = 518;
constexpr size_t kOffNameOrder = 519;
constexpr size_t kOffHitLimit = 520;     // long form
constexpr size_t kOffMergeFile = 600;    // long form

// Query request offsets.
constexpr size_t kQOffOptionBits = 4;
constexpr size_t kQOffListOptions = 8;
constexpr size_t kQOffFuzziness = 12;
constexpr size_t kQOffHitLimit = 16;
constexpr size_t kQOffSortOrder = 20;
constexpr size_t kQOffWideFlags = 24;
constexpr size_t kQOffRestrictFile = 28;
constexpr size_t kQOffMergeFile = 284;
constexpr size_t kQOffQueryText = 1052;

static_assert(kQOffQueryText + kEngineQuerySlotSize == kQueryRequestSize);
static_assert(kOffMergeFile + kFileNameSlotSize == kLongRequestMaxSize);

// The text of a slot: up to its first NUL, at most size - 1 bytes (the last
// byte of a slot is its terminator). `record` must hold offset + size bytes.
std::string SlotText(std::string_view record, size_t offset, size_t size) {
  std::string_view slot = record.substr(offset, size - 1);
  size_t end = slot.find('\0');
  return std::string(end == std::string_view::npos ? slot : slot.substr(0, end));
}

uint8_t ByteAt(std::string_view record, size_t offset) {
  return static_cast<uint8_t>(record[offset]);
}

Status PutText(std::string* record, size_t offset, size_t size, std::string_view text,
               const char* what) {
  if (text.size() > size - 1) {
    return Status::InvalidArgument(std::string(what) + " has " + std::to_string(text.size()) +
                                   " characters; at most " + std::to_string(size - 1) +
                                   " fit");
  }
  if (text.find('\0') != std::string_view::npos) {
    return Status::InvalidArgument(std::string(what) + " holds a NUL character");
  }
  std::memcpy(record->data() + offset, text.data(), text.size());
  return Status::Ok();
}

void PutByte(std::string* record, size_t offset, uint8_t v) {
  (*record)[offset] = static_cast<char>(v);
}

void PutU32(std::string* record, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*record)[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

Status NotARequest(std::string_view what, size_t size) {
  return Status::InvalidArgument("not a request: " + std::string(what) + " of " +
                                 std::to_string(size) + " bytes");
}

// The bytes from offset 512 on that both search forms carry.
struct CommonBytes {
  uint8_t field, date_period, date_mode, exact_or_options, operator_or_fuzziness, merge,
      restrict, name_order;
};

void PutCommonBytes(std::string* record, const CommonBytes& b) {
  PutByte(record, kOffField, b.field);
  PutByte(record, kOffDatePeriod, b.date_period);
  PutByte(record, kOffDateMode, b.date_mode);
  PutByte(record, kOffExactOrOptions, b.exact_or_options);
  PutByte(record, kOffOperatorOrFuzziness, b.operator_or_fuzziness);
  PutByte(record, kOffMerge, b.merge);
  PutByte(record, kOffRestrict, b.restrict);
  PutByte(record, kOffNameOrder, b.name_order);
}

// A record whose text begins with the no-op marker would read as a no-op.
Status CheckNotNoOp(const std::string& record, const char* what) {
  if (std::memcmp(record.data(), kNoOpMarker, sizeof kNoOpMarker) == 0) {
    return Status::InvalidArgument(std::string(what) + " begins with the no-op marker");
  }
  return Status::Ok();
}

}  // namespace

StatusOr<SearchRequest> DecodeSearchRequest(std::string_view bytes) {
  if (bytes.size() < kShortRequestSize) {
    return NotARequest("search request file (520 to 856 bytes expected)", bytes.size());
  }
  SearchRequest request;
  if (std::memcmp(bytes.data(), kNoOpMarker, sizeof kNoOpMarker) == 0) {
    request.form = SearchRequestForm::kNoOp;
    return request;
  }
  if (bytes.size() == kShortRequestSize) {
    request.form = SearchRequestForm::kShort;
    ShortSearchRequest& r = request.short_form;
    r.first_term = SlotText(bytes, kOffFirstText, kTermSlotSize);
    r.second_term = SlotText(bytes, kOffSecondTerm, kTermSlotSize);
    r.list_file = SlotText(bytes, kOffListFile, kFileNameSlotSize);
    r.field_selector = ByteAt(bytes, kOffField);
    r.date_period = ByteAt(bytes, kOffDatePeriod);
    r.date_mode = ByteAt(bytes, kOffDateMode);
    r.exact = ByteAt(bytes, kOffExactOrOptions);
    r.operator_code = ByteAt(bytes, kOffOperatorOrFuzziness);
    r.merge_flag = ByteAt(bytes, kOffMerge);
    r.restrict_flag = ByteAt(bytes, kOffRestrict);
    r.name_order_flag = ByteAt(bytes, kOffNameOrder);
    return request;
  }
  // Long form: a shorter file reads as if padded with zeros to 856 bytes.
  std::string record(bytes.substr(0, kLongRequestMaxSize));
  record.resize(kLongRequestMaxSize, '\0');
  request.form = SearchRequestForm::kLong;
  LongSearchRequest& r = request.long_form;
  r.query_text = SlotText(record, kOffFirstText, kQueryTextSlotSize);
  r.restrict_file = SlotText(record, kOffListFile, kFileNameSlotSize);
  r.merge_file = SlotText(record, kOffMergeFile, kFileNameSlotSize);
  r.field_selector = ByteAt(record, kOffField);
  r.date_period = ByteAt(record, kOffDatePeriod);
  r.date_mode = ByteAt(record, kOffDateMode);
  r.options = ByteAt(record, kOffExactOrOptions);
  r.fuzziness = ByteAt(record, kOffOperatorOrFuzziness);
  r.merge_flag = ByteAt(record, kOffMerge);
  r.restrict_flag = ByteAt(record, kOffRestrict);
  r.name_order_flag = ByteAt(record, kOffNameOrder);
  r.hit_limit_thousands = ByteAt(record, kOffHitLimit);
  return request;
}

StatusOr<QueryRequest> DecodeQueryRequest(std::string_view bytes) {
  if (bytes.size() < kQueryRequestSize) {
    return NotARequest("query request file (3100 bytes expected)", bytes.size());
  }
  QueryRequest r;
  r.option_bits = LoadLe32(bytes, kQOffOptionBits);
  r.list_options = ByteAt(bytes, kQOffListOptions);
  r.fuzziness = LoadLe32(bytes, kQOffFuzziness);
  r.hit_limit = LoadLe32(bytes, kQOffHitLimit);
  r.sort_order = LoadLe32(bytes, kQOffSortOrder);
  r.wide_flags = LoadLe32(bytes, kQOffWideFlags);
  r.restrict_file = SlotText(bytes, kQOffRestrictFile, kFileNameSlotSize);
  r.merge_file = SlotText(bytes, kQOffMergeFile, kFileNameSlotSize);
  r.query_text = SlotText(bytes, kQOffQueryText, kEngineQuerySlotSize);
  return r;
}

StatusOr<std::string> EncodeShortSearchRequest(const ShortSearchRequest& r) {
  std::string record(kShortRequestSize, '\0');
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffFirstText, kTermSlotSize, r.first_term,
                                  "first term"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffSecondTerm, kTermSlotSize, r.second_term,
                                  "second term"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffListFile, kFileNameSlotSize, r.list_file,
                                  "list file name"));
  VANTREL_RETURN_IF_ERROR(CheckNotNoOp(record, "first term"));
  PutCommonBytes(&record, {r.field_selector, r.date_period, r.date_mode, r.exact, r.operator_code,
                           r.merge_flag, r.restrict_flag, r.name_order_flag});
  return record;
}

StatusOr<std::string> EncodeLongSearchRequest(const LongSearchRequest& r, size_t size) {
  if (size <= kShortRequestSize || size > kLongRequestMaxSize) {
    return Status::InvalidArgument("a long search request has 521 to 856 bytes, not " +
                                   std::to_string(size));
  }
  std::string record(kLongRequestMaxSize, '\0');
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffFirstText, kQueryTextSlotSize, r.query_text,
                                  "query text"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffListFile, kFileNameSlotSize, r.restrict_file,
                                  "restrict file name"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kOffMergeFile, kFileNameSlotSize, r.merge_file,
                                  "merge file name"));
  VANTREL_RETURN_IF_ERROR(CheckNotNoOp(record, "query text"));
  PutCommonBytes(&record, {r.field_selector, r.date_period, r.date_mode, r.options, r.fuzziness,
                           r.merge_flag, r.restrict_flag, r.name_order_flag});
  PutByte(&record, kOffHitLimit, r.hit_limit_thousands);
  // Whatever a shorter file leaves out must read back as zero.
  if (std::any_of(record.begin() + size, record.end(), [](char c) { return c != '\0'; })) {
    return Status::InvalidArgument("fields beyond byte " + std::to_string(size) +
                                   " are set but would not be written");
  }
  record.resize(size);
  return record;
}

StatusOr<std::string> EncodeQueryRequest(const QueryRequest& r) {
  std::string record(kQueryRequestSize, '\0');
  PutU32(&record, kQOffOptionBits, r.option_bits);
  PutByte(&record, kQOffListOptions, r.list_options);
  PutU32(&record, kQOffFuzziness, r.fuzziness);
  PutU32(&record, kQOffHitLimit, r.hit_limit);
  PutU32(&record, kQOffSortOrder, r.sort_order);
  PutU32(&record, kQOffWideFlags, r.wide_flags);
  VANTREL_RETURN_IF_ERROR(PutText(&record, kQOffRestrictFile, kFileNameSlotSize,
                                  r.restrict_file, "restrict file name"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kQOffMergeFile, kFileNameSlotSize, r.merge_file,
                                  "merge file name"));
  VANTREL_RETURN_IF_ERROR(PutText(&record, kQOffQueryText, kEngineQuerySlotSize, r.query_text,
                                  "query text"));
  return record;
}

std::string EncodeNoOpRequest() {
  std::string record(kShortRequestSize, '\0');
  std::memcpy(record.data(), kNoOpMarker, sizeof kNoOpMarker);
  return record;
}

RequestLists ListsOf(const ShortSearchRequest& r) {
  RequestLists lists;
  if (r.list_file.empty()) return lists;
  if (r.merge_flag != 0) {
    lists.merge_file = r.list_file;
  } else if (r.restrict_flag != 0) {
    lists.restrict_file = r.list_file;
  }
  return lists;
}

RequestLists ListsOf(const LongSearchRequest& r) {
  RequestLists lists;
  if (r.merge_flag != 0) lists.merge_file = r.merge_file;
  if (r.restrict_flag != 0) lists.restrict_file = r.restrict_file;
  return lists;
}

RequestLists ListsOf(const QueryRequest& r) {
  RequestLists lists;
  if (r.list_options & 0x01) lists.merge_file = r.merge_file;
  if (r.list_options & 0x02) lists.restrict_file = r.restrict_file;
  return lists;
}

}  // namespace vantrel
