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

// Every field of each form at its offset, with a distinct value each, so
// that two swapped offsets show.
TEST(DecodeRequests, EveryFieldAtItsOffset) {
  std::string raw(520, '\0');
  Put(&raw, 0, "Boats");
  Put(&raw, 64, "Harbour");
  Put(&raw, 128, "reserved bytes are not read");
  Put(&raw, 256, "OLD.HIT");
  for (int i = 0; i < 8; ++i) raw[512 + i] = static_cast<char>(i + 1);
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  ASSERT_EQ(r->form, SearchRequestForm::kShort);
  ShortSearchRequest s{"Boats", "Harbour", "OLD.HIT", 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(r->short_form, s);

  raw.assign(856, '\0');
  Put(&raw, 0, "(boat OR ship) AND harbour");
  Put(&raw, 256, "RESTRICT.HIT");
  Put(&raw, 600, "MERGE.HIT");
  for (int i = 0; i < 9; ++i) raw[512 + i] = static_cast<char>(0x21 + i);
  Put(&raw, 521, "reserved");
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->form, SearchRequestForm::kLong);
  const LongSearchRequest& l = r->long_form;
  EXPECT_EQ(l.query_text, "(boat OR ship) AND harbour");
  EXPECT_EQ(l.restrict_file, "RESTRICT.HIT");
  EXPECT_EQ(l.merge_file, "MERGE.HIT");
  EXPECT_EQ((std::vector<int>{l.field_selector, l.date_period, l.date_mode, l.options, l.fuzziness,
                              l.merge_flag, l.restrict_flag, l.name_order_flag,
                              l.hit_limit_thousands}),
            (std::vector<int>{0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29}));

  raw.assign(3100, '\0');
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
  EXPECT_EQ((std::vector<uint32_t>{q->fuzziness, q->hit_limit, q->sort_order, q->wide_flags}),
            (std::vector<uint32_t>{2, 5000, 3, 1}));
  EXPECT_EQ(q->restrict_file, "R.HIT");
  EXPECT_EQ(q->merge_file, "M.HIT");
  EXPECT_EQ(q->query_text, "IPTC025 contains (sun*)");
}

// The size decides the form; texts stop one byte before their slot ends;
// bytes past the last slot are not read. (That every size of 520 and more
// decodes and every shorter one does not is checked by the request fuzz
// target on its corpus.)
TEST(DecodeRequests, SizesAndSlots) {
  std::string raw(521, '\0');
  Put(&raw, 0, "sun");
  raw[520] = 3;
  StatusOr<SearchRequest> r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->form, SearchRequestForm::kLong);
  EXPECT_EQ(r->long_form.hit_limit_thousands, 3);
  EXPECT_EQ(r->long_form.merge_file, "");
  raw.resize(520);
  EXPECT_EQ(DecodeSearchRequest(raw)->form, SearchRequestForm::kShort);
  raw.resize(519);
  EXPECT_EQ(DecodeSearchRequest(raw).status().message().rfind("not a request", 0), 0u);

  // A merge file cut by the end of the file reads as far as it goes.
  raw.assign(700, '\0');
  Put(&raw, 600, "MERGE");
  EXPECT_EQ(DecodeSearchRequest(raw)->long_form.merge_file, "MERGE");

  raw.assign(1000, 'x');
  raw[0] = 0;
  raw[600 + 10] = 0;
  EXPECT_EQ(DecodeSearchRequest(raw)->long_form.merge_file, std::string(10, 'x'));
  raw[610] = 'x';
  EXPECT_EQ(DecodeSearchRequest(raw)->long_form.merge_file, std::string(255, 'x'));

  raw.assign(520, 'x');
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->short_form.first_term, std::string(63, 'x'));
  EXPECT_EQ(r->short_form.second_term, std::string(63, 'x'));
  EXPECT_EQ(r->short_form.list_file, std::string(255, 'x'));
  raw.assign(856, 'y');
  r = DecodeSearchRequest(raw);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->long_form.query_text, std::string(127, 'y'));
  EXPECT_EQ(r->long_form.restrict_file, std::string(255, 'y'));

  raw.assign(3200, 'q');
  StatusOr<QueryRequest> q = DecodeQueryRequest(raw);
  ASSERT_TRUE(q.ok());
  EXPECT_EQ(q->query_text, std::string(2047, 'q'));
  EXPECT_EQ(q->merge_file, std::string(255, 'q'));
  EXPECT_EQ(DecodeQueryRequest(std::string_view(raw).substr(0, 3099)).status().code(),
            StatusCode::kInvalidArgument);

  std::string noop = EncodeNoOpRequest();
  ASSERT_EQ(noop.size(), 520u);
  EXPECT_EQ(noop.substr(0, 4), "\xFF\xF1\xF2\xF3");
  EXPECT_EQ(DecodeSearchRequest(noop)->form, SearchRequestForm::kNoOp);
  noop.resize(856, 'z');
  EXPECT_EQ(DecodeSearchRequest(noop)->form, SearchRequestForm::kNoOp);
}

// Round trips are checked by the fuzz target too; here: the sizes written
// and what the encoders refuse.
TEST(EncodeRequests, SizesAndLimits) {
  ShortSearchRequest s;
  s.first_term = std::string(63, 'a');
  s.list_file = "L.HIT";
  s.merge_flag = 1;
  StatusOr<std::string> bytes = EncodeShortSearchRequest(s);
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes->size(), 520u);
  EXPECT_EQ(DecodeSearchRequest(*bytes)->short_form, s);
  for (const std::string& bad : {std::string(64, 'a'), std::string("a\0b", 3),
                                 std::string("\xFF\xF1\xF2\xF3")}) {
    s.first_term = bad;
    EXPECT_FALSE(EncodeShortSearchRequest(s).ok());
  }

  LongSearchRequest l;
  l.query_text = "Red car";
  l.restrict_file = "R.HIT";
  l.merge_file = "M.HIT";
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

  LongSearchRequest l;
  l.merge_file = "M.HIT";
  l.restrict_file = "R.HIT";
  EXPECT_EQ(ListsOf(l), (RequestLists{"", ""}));
  l.restrict_flag = 1;
  EXPECT_EQ(ListsOf(l), (RequestLists{"", "R.HIT"}));
  l.merge_flag = 1;
  EXPECT_EQ(ListsOf(l), (RequestLists{"M.HIT", "R.HIT"}));

  QueryRequest q;
  q.merge_file = "M.HIT";
  q.restrict_file = "R.HIT";
  for (auto [bits, want] : std::vector<std::pair<uint8_t, RequestLists>>{
           {0, {"", ""}}, {1, {"M.HIT", ""}}, {2, {"", "R.HIT"}}, {0xFF, {"M.HIT", "R.HIT"}}}) {
    q.list_options = bits;
    EXPECT_EQ(ListsOf(q), want) << int{bits};
  }
}

}  // namespace
}  // namespace vantrel
