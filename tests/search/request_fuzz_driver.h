// The checks that the request file fuzz target runs on every input, shared
// with the test that replays the kept corpus (request_fuzz_corpus_test.cc).
//
// Beyond "no crash": a search request decodes exactly when it has 520 bytes
// or more, a query request when it has 3100 or more; whatever decodes encodes
// back to a request that decodes to the same thing; translations, answer
// names and list file checks run on what was decoded.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/query_translation.h"
#include "search/request_file.h"
#include "search/request_names.h"

namespace vantrel {

// Returns false when an invariant is broken.
inline bool CheckRequestFileInput(std::string_view bytes) {
  StatusOr<SearchRequest> search = DecodeSearchRequest(bytes);
  if (search.ok() != (bytes.size() >= kShortRequestSize)) return false;
  if (search.ok()) {
    if (search->form == SearchRequestForm::kShort) {
      StatusOr<std::string> again = EncodeShortSearchRequest(search->short_form);
      if (!again.ok() || again->size() != kShortRequestSize) return false;
      StatusOr<SearchRequest> back = DecodeSearchRequest(*again);
      if (!back.ok() || back->short_form != search->short_form) return false;
      TranslatedQuery t = TranslateShortForm(search->short_form);
      if (t.date_only != search->short_form.first_term.empty()) return false;
      RequestLists lists = ListsOf(search->short_form);
      IsPlainListFileName(lists.merge_file);
      IsPlainListFileName(lists.restrict_file);
    } else if (search->form == SearchRequestForm::kLong) {
      StatusOr<std::string> again = EncodeLongSearchRequest(search->long_form);
      if (!again.ok()) return false;
      StatusOr<SearchRequest> back = DecodeSearchRequest(*again);
      if (!back.ok() || back->long_form != search->long_form) return false;
      TranslatedQuery t = TranslateLongForm(search->long_form);
      // Marks, "AND " and a prefix at most: never more than 6 bytes per
      // character and the prefix.
      if (t.query.size() > 6 * search->long_form.query_text.size() + 32) return false;
      RequestLists lists = ListsOf(search->long_form);
      IsPlainListFileName(lists.merge_file);
      IsPlainListFileName(lists.restrict_file);
    }
  }

  StatusOr<QueryRequest> query = DecodeQueryRequest(bytes);
  if (query.ok() != (bytes.size() >= kQueryRequestSize)) return false;
  if (query.ok()) {
    StatusOr<std::string> again = EncodeQueryRequest(*query);
    if (!again.ok()) return false;
    StatusOr<QueryRequest> back = DecodeQueryRequest(*again);
    if (!back.ok() || *back != *query) return false;
  }

  // The first bytes as a file name.
  std::string_view name = bytes.substr(0, 300);
  IsRequestFileName(name);
  KindOfRequest(name);
  std::string hit = HitFileName(name);
  if (hit.size() < 4 || hit.compare(hit.size() - 4, 4, ".HIT") != 0) return false;
  if (IsPlainListFileName(name) &&
      (name.find('/') != std::string_view::npos || name == "..")) {
    return false;
  }
  return true;
}

// Seed inputs: one of each request form.
inline std::vector<std::pair<std::string, std::string>> RequestFuzzSeeds() {
  std::vector<std::pair<std::string, std::string>> seeds;
  ShortSearchRequest s;
  s.first_term = "Boats AND Harbour";
  s.list_file = "EARLIER.HIT";
  s.field_selector = 2;
  s.date_period = 1;
  s.date_mode = 1;
  s.merge_flag = 1;
  seeds.emplace_back("short", *EncodeShortSearchRequest(s));
  LongSearchRequest l;
  l.query_text = "(boat OR ship) AND \"old town\" 12/31/98";
  l.restrict_file = "R.HIT";
  l.merge_file = "M.HIT";
  l.field_selector = 1;
  l.options = 0x08;
  l.fuzziness = 2;
  l.restrict_flag = 1;
  l.merge_flag = 1;
  l.hit_limit_thousands = 5;
  seeds.emplace_back("long", *EncodeLongSearchRequest(l));
  l.merge_file.clear();
  seeds.emplace_back("long_521", *EncodeLongSearchRequest(l, 521));
  seeds.emplace_back("noop", EncodeNoOpRequest());
  QueryRequest q;
  q.option_bits = 0x18;
  q.list_options = 3;
  q.hit_limit = 2000;
  q.sort_order = 3;
  q.wide_flags = 1;
  q.merge_file = "../outside.HIT";
  q.query_text = "IPTC025 contains (sunset* OR beach*) W/3 harbour";
  seeds.emplace_back("query", *EncodeQueryRequest(q));
  std::string cut = *EncodeShortSearchRequest(s);
  cut.resize(519);
  seeds.emplace_back("short_cut", cut);
  return seeds;
}

}  // namespace vantrel
