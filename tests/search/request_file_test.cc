#include "search/request_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vantrel {
namespace {

void Put(std::string* record, size_t offset, std::string_view text) {
  std::memcpy(record->data() + offset, text.data(), text.size());
}

void PutU32(std::string* record, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*record)[offset + i] = static_cast<char>(v >> (8 * i));
}

TEST(DecodeSearchRequest, ShortFormFieldsAtTheirOffsets) {
  std::string raw(520, '\0');
  Put(&raw, 0, "Boats");
  Put(&raw, 64, "Harbour");
  Put(&raw, 128, "reserved bytes are not read");
  Put(&raw, 256, "OLD.HIT");
  for (int i = 0; i < 8; ++i) raw[512 + i] = static_cast<char>(i + 1);
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  ASSERT_EQ(r->form, SearchRequestForm::kShort);
  const ShortSearchRequest& s = r->short_form;
  EXPECT_EQ(s.first_term, "Boats");
  EXPECT_EQ(s.second_term, "Harbour");
  EXPECT_EQ(s.list_file, "OLD.HIT");
  EXPECT_EQ(s.field_selector, 1);
  EXPECT_EQ(s.date_period, 2);
  EXPECT_EQ(s.date_mode, 3);
  EXPECT_EQ(s.exact, 4);
  EXPECT_EQ(s.operator_code, 5);
  EXPECT_EQ(s.merge_flag, 6);
  EXPECT_EQ(s.restrict_flag, 7);
  EXPECT_EQ(s.name_order_flag, 8);
}

TEST(DecodeSearchRequest, LongFormFieldsAtTheirOffsets) {
  std::string raw(856, '\0');
  Put(&raw, 0, "(boat OR ship) AND harbour");
  Put(&raw, 256, "RESTRICT.HIT");
  Put(&raw, 600, "MERGE.HIT");
  for (int i = 0; i < 9; ++i) raw[512 + i] = static_cast<char>(0x21 + i);
  Put(&raw, 521, "reserved");
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->form, SearchRequestForm::kLong);
  const LongSearchRequest& l = r->long_form;
  EXPECT_EQ(l.query_text, "(boat OR ship) AND harbour");
  EXPECT_EQ(l.restrict_file, "RESTRICT.HIT");
  EXPECT_EQ(l.merge_file, "MERGE.HIT");
  EXPECT_EQ(l.field_selector, 0x21);
  EXPECT_EQ(l.date_period, 0x22);
  EXPECT_EQ(l.date_mode, 0x23);
  EXPECT_EQ(l.options, 0x24);
  EXPECT_EQ(l.fuzziness, 0x25);
  EXPECT_EQ(l.merge_flag, 0x26);
  EXPECT_EQ(l.restrict_flag, 0x27);
  EXPECT_EQ(l.name_order_flag, 0x28);
  EXPECT_EQ(l.hit_limit_thousands, 0x29);
}

TEST(DecodeSearchRequest, SizeDecidesTheForm) {
  std::string raw(521, '\0');
  Put(&raw, 0, "sun");
  raw[520] = 3;
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->form, SearchRequestForm::kLong);
  EXPECT_EQ(r->long_form.hit_limit_thousands, 3);
  EXPECT_EQ(r->long_form.merge_file, "");

  raw.resize(520);
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->form, SearchRequestForm::kShort);
  EXPECT_EQ(r->short_form.first_term, "sun");

  // A merge file cut by the end of the file reads as far as it goes.
  raw.assign(700, '\0');
  Put(&raw, 600, "MERGE");
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->long_form.merge_file, "MERGE");

  // Bytes past 856 are not read.
  raw.assign(1000, 'x');
  raw[0] = 0;
  raw[600 + 10] = 0;
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->long_form.merge_file, std::string(10, 'x'));
  raw[610] = 'x';
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->long_form.merge_file, std::string(255, 'x'));
}

TEST(DecodeSearchRequest, TextsNeverLeaveTheirSlots) {
  // No NUL anywhere: every text stops one byte before its slot ends.
  std::string raw(520, 'x');
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->short_form.first_term, std::string(63, 'x'));
  EXPECT_EQ(r->short_form.second_term, std::string(63, 'x'));
  EXPECT_EQ(r->short_form.list_file, std::string(255, 'x'));
  raw.assign(856, 'y');
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->long_form.query_text, std::string(127, 'y'));
  EXPECT_EQ(r->long_form.restrict_file, std::string(255, 'y'));
  EXPECT_EQ(r->long_form.merge_file, std::string(255, 'y'));
}

TEST(DecodeSearchRequest, NoOpAndNotARequest) {
  std::string noop = EncodeNoOpRequest();
  ASSERT_EQ(noop.size(), 520u);
  EXPECT_EQ(noop.substr(0, 4), "\xFF\xF1\xF2\xF3");
  EXPECT_EQ(DecodeSearchRequest(noop)->form, SearchRequestForm::kNoOp);
  noop.resize(856, 'z');
  EXPECT_EQ(DecodeSearchRequest(noop)->form, SearchRequestForm::kNoOp);
  noop.resize(519);
  EXPECT_EQ(DecodeSearchRequest(noop).status().code(), StatusCode::kInvalidArgument);
  // Every length below 520 is refused, every other one decodes.
  std::string raw(900, '\xAB');
  for (size_t n = 0; n <= raw.size(); ++n) {
    StatusOr<SearchRequest> r = DecodeSearchRequest(std::string_view(raw).substr(0, n));
    if (n < 520) {
      ASSERT_FALSE(r.ok()) << n;
      EXPECT_EQ(r.status().message().rfind("not a request", 0), 0u) << r.status().message();
    } else {
      ASSERT_TRUE(r.ok()) << n;
    }
  }
}

TEST(DecodeQueryRequest, FieldsAtTheirOffsets) {
  std::string raw(3100, '\0');
  PutU32(&raw, 0, 0xDEADBEEF);  // reserved
  PutU32(&raw, 4, 0x11223344);
  raw[8] = 3;
  Put(&raw, 9, "zz");  // reserved
  PutU32(&raw, 12, 2);
  PutU32(&raw, 16, 5000);
  PutU32(&raw, 20, 3);
  PutU32(&raw, 24, 1);
  Put(&raw, 28, "R.HIT");
  Put(&raw, 284, "M.HIT");
  Put(&raw, 540, "not read");
  Put(&raw, 1052, "IPTC025 contains (sun*)");
  StatusOr<QueryRequest> q = DecodeQueryRequest(raw);
  ASSERT_TRUE(q.ok());
  EXPECT_EQ(q->option_bits, 0x11223344u);
  EXPECT_EQ(q->list_options, 3);
  EXPECT_EQ(q->fuzziness, 2u);
  EXPECT_EQ(q->hit_limit, 5000u);
  EXPECT_EQ(q->sort_order, 3u);
  EXPECT_EQ(q->wide_flags, 1u);
  EXPECT_EQ(q->restrict_file, "R.HIT");
  EXPECT_EQ(q->merge_file, "M.HIT");
  EXPECT_EQ(q->query_text, "IPTC025 contains (sun*)");
}

TEST(DecodeQueryRequest, LengthsAndSlots) {
  std::string raw(3200, 'q');
  StatusOr<QueryRequest> q = DecodeQueryRequest(raw);
  ASSERT_TRUE(q.ok());
  EXPECT_EQ(q->query_text, std::string(2047, 'q'));
  EXPECT_EQ(q->merge_file, std::string(255, 'q'));
  for (size_t n : {0, 4, 520, 856, 3099}) {
    StatusOr<QueryRequest> bad = DecodeQueryRequest(std::string_view(raw).substr(0, n));
    ASSERT_FALSE(bad.ok()) << n;
    EXPECT_EQ(bad.status().code(), StatusCode::kInvalidArgument);
  }
}

TEST(EncodeRequests, RoundTripAndLimits) {
  ShortSearchRequest s;
  s.first_term = std::string(63, 'a');
  s.second_term = "b";
  s.list_file = "L.HIT";
  s.field_selector = 2;
  s.date_period = 1;
  s.date_mode = 1;
  s.exact = 1;
  s.operator_code = 1;
  s.merge_flag = 1;
  s.name_order_flag = 1;
  StatusOr<std::string> bytes = EncodeShortSearchRequest(s);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->size(), 520u);
  EXPECT_EQ(DecodeSearchRequest(*bytes)->short_form, s);
  s.first_term += 'a';
  EXPECT_FALSE(EncodeShortSearchRequest(s).ok());
  s.first_term = std::string("a\0b", 3);
  EXPECT_FALSE(EncodeShortSearchRequest(s).ok());
  s.first_term = "\xFF\xF1\xF2\xF3";
  EXPECT_FALSE(EncodeShortSearchRequest(s).ok());

  LongSearchRequest l;
  l.query_text = "Red car";
  l.restrict_file = "R.HIT";
  l.merge_file = "M.HIT";
  l.options = 1;
  l.fuzziness = 3;
  l.merge_flag = 1;
  l.restrict_flag = 1;
  l.hit_limit_thousands = 9;
  bytes = EncodeLongSearchRequest(l);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->size(), 856u);
  EXPECT_EQ(DecodeSearchRequest(*bytes)->long_form, l);
  // A 521-byte file has no room for a merge file.
  EXPECT_FALSE(EncodeLongSearchRequest(l, 521).ok());
  l.merge_file.clear();
  bytes = EncodeLongSearchRequest(l, 521);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->size(), 521u);
  EXPECT_EQ(DecodeSearchRequest(*bytes)->long_form, l);
  EXPECT_FALSE(EncodeLongSearchRequest(l, 520).ok());
  EXPECT_FALSE(EncodeLongSearchRequest(l, 857).ok());
  l.query_text = std::string(128, 'x');
  EXPECT_FALSE(EncodeLongSearchRequest(l).ok());

  QueryRequest q;
  q.option_bits = 0x18;
  q.list_options = 2;
  q.fuzziness = 1;
  q.hit_limit = 2000;
  q.sort_order = 3;
  q.wide_flags = 1;
  q.restrict_file = "R.HIT";
  q.query_text = std::string(2047, 'w');
  bytes = EncodeQueryRequest(q);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->size(), 3100u);
  EXPECT_EQ(*DecodeQueryRequest(*bytes), q);
  q.query_text += 'w';
  EXPECT_FALSE(EncodeQueryRequest(q).ok());
}

TEST(ListsOf, WhichFilesEachFormUses) {
  ShortSearchRequest s;
  s.list_file = "A.HIT";
  EXPECT_EQ(ListsOf(s), (RequestLists{"", ""}));
  s.restrict_flag = 1;
  EXPECT_EQ(ListsOf(s), (RequestLists{"", "A.HIT"}));
  s.merge_flag = 1;  // the merge flag wins
  EXPECT_EQ(ListsOf(s), (RequestLists{"A.HIT", ""}));
  s.list_file.clear();
  EXPECT_EQ(ListsOf(s), (RequestLists{"", ""}));

  LongSearchRequest l;
  l.merge_file = "M.HIT";
  l.restrict_file = "R.HIT";
  EXPECT_EQ(ListsOf(l), (RequestLists{"", ""}));
  l.merge_flag = 1;
  l.restrict_flag = 1;
  EXPECT_EQ(ListsOf(l), (RequestLists{"M.HIT", "R.HIT"}));
  l.merge_flag = 0;
  EXPECT_EQ(ListsOf(l), (RequestLists{"", "R.HIT"}));

  QueryRequest q;
  q.merge_file = "M.HIT";
  q.restrict_file = "R.HIT";
  q.list_options = 1;
  EXPECT_EQ(ListsOf(q), (RequestLists{"M.HIT", ""}));
  q.list_options = 2;
  EXPECT_EQ(ListsOf(q), (RequestLists{"", "R.HIT"}));
  q.list_options = 0xFF;
  EXPECT_EQ(ListsOf(q), (RequestLists{"M.HIT", "R.HIT"}));
}

}  // namespace
}  // namespace vantrel
