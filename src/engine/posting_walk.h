// Posting walks: one term's posting list read front to back, for the
// searches that decide their matches from posting lists themselves.
//
// The term's frequency is looked up first: Xapian finds it with the posting
// table's own cursor, which keeps the blocks of the last look-up, and a
// posting list opened next starts from a copy of that cursor. Walked in byte
// order, neighbouring terms share blocks, so most opens read no block at
// all, where a list opened cold reads one per level of the table.
//
// Thread safety: a walk uses its database and clock alone; walks of
// different databases may run side by side.
#pragma once

#include <xapian.h>

#include <cstdint>
#include <string>

#include "engine/search_limits.h"

namespace vantrel {

// Postings walked between two looks at the search's clock.
inline constexpr uint32_t kPostingsPerClockCheck = 4096;

// Calls visit(iterator) for every posting of `term` in `db` (the empty term
// lists every document) and returns how many there were. Looks at `clock`
// every kPostingsPerClockCheck postings and stops when it has run out,
// setting *cut_off; a walk with *cut_off already set does nothing.
template <typename Visit>
Xapian::doccount WalkPostings(const Xapian::Database& db, const std::string& term,
                              SearchClock* clock, bool* cut_off, Visit&& visit) {
  if (*cut_off || (*cut_off = clock->CheckNow())) return 0;
  if (!term.empty()) db.get_termfreq(term);
  uint32_t since_check = 0;
  Xapian::doccount postings = 0;
  for (Xapian::PostingIterator p = db.postlist_begin(term), end = db.postlist_end(term); p != end;
       ++p) {
    ++postings;
    visit(p);
    if (++since_check == kPostingsPerClockCheck) {
      since_check = 0;
      if ((*cut_off = clock->CheckNow())) break;
    }
  }
  return postings;
}

}  // namespace vantrel
