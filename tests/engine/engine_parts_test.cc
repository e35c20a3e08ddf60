// The engine's small parts: document names, the field catalogue, code-page
// words, the thesaurus, removal lists and the term-matching helpers.
#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/char_table.h"
#include "engine/clock_gate.h"
#include "engine/document_indexer.h"
#include "engine/document_name.h"
#include "engine/field_catalogue.h"
#include "engine/positional_source.h"
#include "engine/remove_list.h"
#include "engine/term_expansion.h"
#include "engine/thesaurus.h"
#include "engine/word_splitter.h"
#include "platform/code_page.h"

namespace vantrel {
namespace {

TEST(DocumentNameTest, FormatsTheTimeStampLowestByteFirst) {
  EXPECT_EQ(FormatDocumentName(0x12345678, "03Sport\\img.jpg"), "78563412 03Sport\\img.jpg");
  EXPECT_EQ(FormatDocumentName(0x0000000A, "00a"), "0A000000 00a");
  EXPECT_EQ(FormatDocumentName(0xFFFFFFFF, ""), "FFFFFFFF ");
}

TEST(DocumentNameTest, DecodesWhatItFormatsAndRefusesTheRest) {
  struct Row {
    const char* name;
    bool ok;
    uint32_t time;
    const char* key;
  };
  const Row rows[] = {
      {"78563412 03Sport\\img.jpg", true, 0x12345678, "03Sport\\img.jpg"},
      {"78563412 ", true, 0x12345678, ""},
      {"abcdef01 01x", true, 0x01EFCDAB, "01x"},
      {"7856341203Sport", false, 0, ""},
      {"785634 03", false, 0, ""},
      {"7856341G 03x", false, 0, ""},
      {"", false, 0, ""},
      {"78563412", false, 0, ""},
  };
  for (const Row& r : rows) {
    auto d = DecodeDocumentName(r.name);
    ASSERT_EQ(d.has_value(), r.ok) << r.name;
    if (!r.ok) continue;
    EXPECT_EQ(d->time_stamp, r.time) << r.name;
    EXPECT_EQ(d->file_key, r.key) << r.name;
  }
  for (uint32_t t : {0u, 1u, 0x80000000u, 0xDEADBEEFu}) {
    EXPECT_EQ(DecodeDocumentName(FormatDocumentName(t, "05k"))->time_stamp, t);
  }
}

// The stamp's digits are decoded eight at a time: every byte value at every
// digit place is taken or refused as a digit of its own would be, and a
// digit's value lands in its own nibble of the stamp.
TEST(DocumentNameTest, EveryByteAtEveryDigitPlace) {
  auto digit_value = [](int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  const std::string base = "0F1e2D3c k";  // decodes to 0x3C2D1E0F
  for (size_t place = 0; place < 8; ++place) {
    for (int c = 0; c < 256; ++c) {
      std::string name = base;
      name[place] = static_cast<char>(c);
      const int value = digit_value(c);
      std::optional<DecodedDocumentName> d = DecodeDocumentName(name);
      ASSERT_EQ(d.has_value(), value >= 0) << "place " << place << " byte " << c;
      if (value < 0) continue;
      // Place 0 is the high digit of the lowest byte, place 1 its low digit.
      const unsigned shift = static_cast<unsigned>(8 * (place / 2) + (place % 2 == 0 ? 4 : 0));
      const uint32_t expected =
          (0x3C2D1E0Fu & ~(0xFu << shift)) | (static_cast<uint32_t>(value) << shift);
      ASSERT_EQ(d->time_stamp, expected) << "place " << place << " byte " << c;
      ASSERT_EQ(d->file_key, "k");
    }
  }
}

TEST(FieldCatalogueTest, TheStandardCatalogueHas272LinesAnd271Fields) {
  std::string text = FieldCatalogue::StandardText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 272);
  EXPECT_EQ(text.substr(0, 25), "IPTC000,QxQ000,ZqZ,0,,0\r\n");
  EXPECT_EQ(text.substr(text.size() - 25), "ZRVOL,QxQN5014,ZqZ,0,,0\r\n");
  FieldCatalogue cat = FieldCatalogue::Parse(text);
  EXPECT_EQ(cat.fields().size(), 271u);
  const auto* type = cat.FindStartMarker("QxQB5002");
  const auto* orientation = cat.FindStartMarker("QxQM5013");
  ASSERT_NE(type, nullptr);
  ASSERT_NE(orientation, nullptr);
  EXPECT_EQ(type->field, orientation->field);
  EXPECT_EQ(cat.fields()[type->field].name, "ZRVFT");
  EXPECT_EQ(type->end, "ZqZ");
  EXPECT_EQ(cat.FindStartMarker("qxqb5002"), nullptr);  // markers are exact
  EXPECT_EQ(cat.FindField("iptc120").value(), cat.FindStartMarker("QxQ120")->field);
  EXPECT_FALSE(cat.FindField("IPTC256").has_value());
}

TEST(FieldCatalogueTest, SkipsUnusableLines) {
  FieldCatalogue cat = FieldCatalogue::Parse(
      "GOOD,QxQ1,ZqZ,0,,0\n"
      "no end marker,QxQ2\n"
      "BAD NAME,QxQ3,ZqZ\n"
      ",QxQ4,ZqZ\n"
      "EMPTYSTART,,ZqZ\n"
      "\n"
      "OTHER,QxQ5,END\r\n"
      "GOOD,QxQ1,ZZZ\n");  // a repeated start marker keeps its first field
  ASSERT_EQ(cat.fields().size(), 2u);
  EXPECT_EQ(cat.FindStartMarker("QxQ1")->end, "ZqZ");
  EXPECT_EQ(cat.FindStartMarker("QxQ5")->end, "END");
  EXPECT_EQ(cat.FindStartMarker("QxQ2"), nullptr);
}

TEST(CharTableTest, LettersAndDigitsOfTheCodePageFoldToLowerCaseUtf8) {
  const CharTable& t = CharTable::Default();
  EXPECT_TRUE(t.IsWordByte('a'));
  EXPECT_TRUE(t.IsWordByte('7'));
  EXPECT_FALSE(t.IsWordByte('_'));
  EXPECT_FALSE(t.IsWordByte('/'));
  EXPECT_FALSE(t.IsWordByte(0x81));  // undefined in Windows-1252
  EXPECT_FALSE(t.IsWordByte(0xA0));  // no-break space
  EXPECT_FALSE(t.IsWordByte(0xD7));  // multiplication sign
  EXPECT_EQ(t.FoldedUtf8(0xC9), "\xC3\xA9");  // É -> é
  EXPECT_EQ(t.FoldedUtf8(0x8A), "\xC5\xA1");  // Š -> š
  EXPECT_EQ(t.FoldedUtf8(0x9F), "\xC3\xBF");  // Ÿ -> ÿ
  EXPECT_EQ(t.FoldedUtf8(0xDF), "\xC3\x9F");  // ß stays
  // A table made from a converter agrees with the built-in one.
  CharTable latin1 = CharTable::FromConverter([](std::string_view s) {
    std::string out;
    for (char c : s) AppendUtf8(static_cast<unsigned char>(c), &out);
    return out;
  });
  EXPECT_EQ(latin1.FoldedUtf8(0xC9), "\xC3\xA9");
  EXPECT_FALSE(latin1.IsWordByte(0x8A));  // a control character in Latin-1
}

TEST(WordSplitterTest, SplitsAtEveryNonWordByte) {
  WordSplitter w(CharTable::Default(), " QxQB5002 JPEG ZqZ 12/31/98 D:\\Pictures\\Caf\xC9 don't");
  std::vector<std::string> words;
  while (w.Next()) words.push_back(w.folded());
  EXPECT_EQ(words, (std::vector<std::string>{"qxqb5002", "jpeg", "zqz", "12", "31", "98", "d",
                                             "pictures", "caf\xC3\xA9", "don", "t"}));
}

TEST(DocumentIndexerTest, WordsInsideFieldsBecomeFieldTerms) {
  FieldCatalogue cat = FieldCatalogue::Parse(FieldCatalogue::StandardText());
  DocumentIndexer indexer(CharTable::Default(), cat);
  Xapian::Document doc =
      indexer.Build("78563412 03a", " QxQB5002 JPEG ZqZ  xnocap QxQ120 Old Town ZqZ QxQ025 x");
  std::vector<std::string> terms;
  for (auto it = doc.termlist_begin(); it != doc.termlist_end(); ++it) terms.push_back(*it);
  auto in = [&](const char* field) { return cat.fields()[*cat.FindField(field)].suffix; };
  EXPECT_EQ(in("IPTC120"), std::string("\x1F") + "1w");  // field 120 of the catalogue
  std::vector<std::string> expected = {"Q78563412 03a", "jpeg" + in("ZRVFT"),
                                       "old" + in("IPTC120"), "qxq025", "qxq120",
                                       "qxqb5002", "town" + in("IPTC120"),
                                       "x" + in("IPTC025"),  // never closed
                                       "xfirstword", "xlastword", "xnocap", "zqz"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(terms, expected);
  EXPECT_EQ(doc.get_value(kNameSlot), "78563412 03a");
  EXPECT_EQ(doc.get_value(kTimeSlot), std::string("\x12\x34\x56\x78"));
  auto pos = doc.termlist_begin();
  pos.skip_to("xlastword");
  EXPECT_EQ(*pos.positionlist_begin(), 11u);  // after the ten words
}

TEST(DocumentIndexerTest, LongNamesGetAShortUniqueIdTerm) {
  std::string a = FormatDocumentName(1, "01" + std::string(400, 'x'));
  std::string b = FormatDocumentName(1, "01" + std::string(399, 'x') + "y");
  EXPECT_LE(IdTermForName(a).size(), 200u);
  EXPECT_NE(IdTermForName(a), IdTermForName(b));
  EXPECT_EQ(IdTermForName("78563412 01x"), "Q78563412 01x");
  EXPECT_NE(IdTermForName("78563412 01\xC9"), IdTermForName("78563412 01\xE9"));
}

TEST(ThesaurusTest, GroupsEntriesAndIgnoresComments) {
  Thesaurus t = Thesaurus::Parse(
      "# comment, with, commas\r\n; another\n\nPhoto, photograph , picture\nCAR, motor car,\n"
      "lonely\ncar, auto\n",
      CharTable::Default());
  using Entries = std::vector<Thesaurus::Entry>;
  EXPECT_EQ(t.SynonymsOf("photo"), (Entries{{"photograph"}, {"picture"}}));
  EXPECT_EQ(t.SynonymsOf("car"), (Entries{{"motor", "car"}, {"auto"}}));
  EXPECT_TRUE(t.SynonymsOf("lonely").empty());
  EXPECT_TRUE(t.SynonymsOf("comment").empty());
  EXPECT_TRUE(t.SynonymsOf("motor").empty());
}

TEST(RemoveListTest, TextLinesAndDamagedInput) {
  EXPECT_EQ(ParseRemoveList("78563412 03a\r\n0A000000 00b c\nnot a name\r\n\r\n78563412"),
            (std::vector<std::string>{"78563412 03a", "0A000000 00b c"}));
  EXPECT_TRUE(ParseRemoveList("").empty());
  // A header claiming a million records with none present.
  std::string bogus(408, '\0');
  bogus[0] = '\x40';
  bogus[1] = '\x42';
  bogus[2] = '\x0F';
  bogus[8] = static_cast<char>(408 & 0xFF);
  bogus[9] = static_cast<char>(408 >> 8);
  EXPECT_TRUE(ParseRemoveList(bogus).empty());
}

TEST(TermMatchingTest, GlobEditDistanceAndSoundex) {
  auto u = [](const char* s) { return DecodeUtf8(s); };
  EXPECT_TRUE(GlobMatch(u("sun*"), u("sunset")));
  EXPECT_TRUE(GlobMatch(u("sun*"), u("sun")));
  EXPECT_TRUE(GlobMatch(u("s*t"), u("sunset")));
  EXPECT_FALSE(GlobMatch(u("s*t"), u("sunsets")));
  EXPECT_TRUE(GlobMatch(u("?\xC3\xA9*"), u("c\xC3\xA9pe")));  // ? is one character, not one byte
  EXPECT_FALSE(GlobMatch(u("??"), u("abc")));
  EXPECT_TRUE(GlobMatch(u("*a*b*"), u("xxaxxbxx")));
  EXPECT_EQ(EditDistanceAtMost(u("harbour"), u("harbor"), 3), 1);
  EXPECT_EQ(EditDistanceAtMost(u("kitten"), u("sitting"), 3), 3);
  EXPECT_EQ(EditDistanceAtMost(u("kitten"), u("sitting"), 2), 3);  // beyond the limit
  EXPECT_EQ(EditDistanceAtMost(u("a"), u("abcdef"), 2), 3);
  EXPECT_EQ(Soundex("robert"), "r163");
  EXPECT_EQ(Soundex("rupert"), "r163");
  EXPECT_EQ(Soundex("ashcraft"), "a261");
  EXPECT_EQ(Soundex("tymczak"), "t522");
  EXPECT_EQ(Soundex("123"), "");
}

TEST(PositionalSourceTest, PhrasesAndWindowsOverSlotsOfSeveralTerms) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  auto add = [&](std::vector<std::pair<std::string, Xapian::termpos>> postings) {
    Xapian::Document d;
    for (const auto& [t, p] : postings) d.add_posting(t, p);
    return db.add_document(d);
  };
  Xapian::docid d1 = add({{"a1", 1}, {"b2", 2}, {"c", 3}});
  Xapian::docid d2 = add({{"b1", 1}, {"a2", 2}});
  Xapian::docid d3 = add({{"a1", 1}, {"x", 2}, {"x", 3}, {"b1", 4}});
  add({{"a2", 7}});
  using Mode = PositionalSource::Mode;
  auto run = [&](Mode mode, Xapian::termcount window) {
    auto* source = new PositionalSource({{"a1", "a2", "missing"}, {"b1", "b2"}}, mode, window);
    Xapian::Enquire enquire(db);
    enquire.set_query(Xapian::Query(source->release()));
    std::vector<Xapian::docid> ids;
    Xapian::MSet mset = enquire.get_mset(0, 10);
    for (auto it = mset.begin(); it != mset.end(); ++it) ids.push_back(*it);
    std::sort(ids.begin(), ids.end());
    return ids;
  };
  using Ids = std::vector<Xapian::docid>;
  EXPECT_EQ(run(Mode::kPhrase, 2), (Ids{d1}));
  EXPECT_EQ(run(Mode::kOrdered, 2), (Ids{d1}));
  EXPECT_EQ(run(Mode::kOrdered, 4), (Ids{d1, d3}));
  EXPECT_EQ(run(Mode::kUnordered, 2), (Ids{d1, d2}));
  EXPECT_EQ(run(Mode::kUnordered, 3), (Ids{d1, d2}));
  EXPECT_EQ(run(Mode::kUnordered, 4), (Ids{d1, d2, d3}));
  // A slot without any existing term matches nothing.
  auto* none = new PositionalSource({{"a1"}, {"nothing"}}, Mode::kUnordered, 5);
  Xapian::Enquire enquire(db);
  enquire.set_query(Xapian::Query(none->release()));
  EXPECT_EQ(enquire.get_mset(0, 10).size(), 0u);
}

// A query holding the source is copied for another thread through its
// serialised form: the copy matches what the original matches, and a
// damaged form is refused.
TEST(PositionalSourceTest, ASerialisedCopyMatchesAsTheOriginal) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  for (int d = 0; d < 40; ++d) {
    Xapian::Document doc;
    doc.add_posting(d % 2 ? "a1" : "a2", 1);
    doc.add_posting(d % 3 ? "b1" : "b2", 2 + static_cast<Xapian::termpos>(d % 4));
    db.add_document(doc);
  }
  using Mode = PositionalSource::Mode;
  const PositionalSource original({{"a1", "a2"}, {"b1", "b2", "b3"}}, Mode::kOrdered, 3, {1, 0});
  const std::string form = original.serialise();
  Xapian::Registry registry;
  registry.register_posting_source(PositionalSource({}, Mode::kPhrase, 0));
  auto ids = [&](const Xapian::Query& query) {
    Xapian::Enquire enquire(db);
    enquire.set_query(query);
    std::vector<Xapian::docid> out;
    Xapian::MSet mset = enquire.get_mset(0, 100);
    for (auto it = mset.begin(); it != mset.end(); ++it) out.push_back(*it);
    std::sort(out.begin(), out.end());
    return out;
  };
  const Xapian::Query query(original.clone()->release());
  const std::vector<Xapian::docid> expected = ids(query);
  EXPECT_FALSE(expected.empty());
  EXPECT_LT(expected.size(), 40u);
  EXPECT_EQ(ids(Xapian::Query::unserialise(query.serialise(), registry)), expected);
  std::unique_ptr<Xapian::PostingSource> copy(original.unserialise(form));
  EXPECT_EQ(copy->serialise(), form);
  for (size_t cut = 0; cut < form.size(); ++cut) {
    EXPECT_THROW(original.unserialise(form.substr(0, cut)), Xapian::SerialisationError) << cut;
  }
  EXPECT_THROW(original.unserialise(form + "x"), Xapian::SerialisationError);
}

// The compiler lets Xapian match each slot's covered term natively and the
// source the rest; together they must find what the source alone finds, and
// both must agree with a direct reading of the documents, with and without a
// hit limit. Small slots that share no term go to Xapian's own operator over
// an OR per slot, which must agree too.
TEST(PositionalSourceTest, CoveredTermsSplitFindsWhatTheSourceAloneFinds) {
  using Mode = PositionalSource::Mode;
  using Slots = std::vector<std::vector<std::string>>;
  const std::vector<std::string> vocabulary = {"a1", "a2", "a3", "b1", "b2", "c1", "c2", "z"};
  std::mt19937 rng(7);
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  std::vector<std::vector<std::string>> texts;  // texts[docid - 1][position - 1]
  for (int d = 0; d < 300; ++d) {
    std::vector<std::string> words(1 + rng() % 12);
    Xapian::Document doc;
    for (size_t p = 0; p < words.size(); ++p) {
      // Mostly the first term of a group, like a word's main field.
      const std::string& w = vocabulary[rng() % vocabulary.size()];
      words[p] = rng() % 3 ? w.substr(0, 1) + "1" : w;
      doc.add_posting(words[p], static_cast<Xapian::termpos>(p + 1));
    }
    texts.push_back(words);
    db.add_document(doc);
  }
  auto expected = [&](const Slots& slots, Mode mode, Xapian::termcount window) {
    std::vector<Xapian::docid> ids;
    for (size_t d = 0; d < texts.size(); ++d) {
      const auto& words = texts[d];
      std::vector<std::vector<size_t>> at(slots.size());  // positions per slot
      for (size_t p = 0; p < words.size(); ++p) {
        for (size_t s = 0; s < slots.size(); ++s) {
          if (std::find(slots[s].begin(), slots[s].end(), words[p]) != slots[s].end()) {
            at[s].push_back(p);
          }
        }
      }
      // Every choice of one position per slot (the texts are short).
      bool found = false;
      std::vector<size_t> pick(slots.size(), 0);
      bool empty = std::any_of(at.begin(), at.end(), [](const auto& v) { return v.empty(); });
      while (!empty && !found) {
        std::vector<size_t> chosen;
        for (size_t s = 0; s < slots.size(); ++s) chosen.push_back(at[s][pick[s]]);
        const auto [lo, hi] = std::minmax_element(chosen.begin(), chosen.end());
        bool distinct = std::set<size_t>(chosen.begin(), chosen.end()).size() == chosen.size();
        bool ordered = std::is_sorted(chosen.begin(), chosen.end()) && distinct;
        if (mode == Mode::kPhrase) {
          found = ordered && *hi - *lo == slots.size() - 1;
        } else if (mode == Mode::kOrdered) {
          found = ordered && *hi - *lo < window;
        } else {
          found = distinct && *hi - *lo < window;
        }
        size_t s = 0;
        while (s < pick.size() && ++pick[s] == at[s].size()) pick[s++] = 0;
        if (s == pick.size()) break;
      }
      if (found) ids.push_back(static_cast<Xapian::docid>(d + 1));
    }
    return ids;
  };
  auto run = [&](const Xapian::Query& q, Xapian::doccount limit) {
    Xapian::Enquire enquire(db);
    enquire.set_query(q);
    std::vector<Xapian::docid> ids;
    Xapian::MSet mset = enquire.get_mset(0, limit);
    for (auto it = mset.begin(); it != mset.end(); ++it) ids.push_back(*it);
    std::sort(ids.begin(), ids.end());
    return ids;
  };
  struct Case {
    Slots slots;
    Mode mode;
    Xapian::termcount window;
  };
  const std::vector<Case> cases = {
      {{{"a1", "a2", "a3"}, {"b1", "b2"}}, Mode::kPhrase, 2},
      {{{"a1", "a2", "a3"}, {"b1", "b2"}}, Mode::kOrdered, 4},
      {{{"a1", "a2", "a3"}, {"b1", "b2"}}, Mode::kUnordered, 3},
      {{{"a1", "a2"}, {"c1"}, {"b1", "b2"}}, Mode::kPhrase, 3},
      {{{"a1", "a2"}, {"c1", "c2"}, {"b2", "b1"}}, Mode::kUnordered, 6},
      {{{"c1", "c2"}, {"a1", "a2", "a3"}}, Mode::kOrdered, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slots.size() * 100 + static_cast<size_t>(c.mode) * 10 + c.window);
    const std::vector<Xapian::docid> want = expected(c.slots, c.mode, c.window);
    ASSERT_FALSE(want.empty());
    const Xapian::Query alone((new PositionalSource(c.slots, c.mode, c.window))->release());
    // The covered term of each slot is its first one, matched natively.
    std::vector<Xapian::Query> parts;
    for (const auto& slot : c.slots) parts.emplace_back(slot[0]);
    const Xapian::Query::op op =
        c.mode == Mode::kUnordered ? Xapian::Query::OP_NEAR : Xapian::Query::OP_PHRASE;
    const Xapian::Query native(Xapian::Query::OP_SCALE_WEIGHT,
                               Xapian::Query(op, parts.begin(), parts.end(), c.window), 0.0);
    const Xapian::Query split(
        Xapian::Query::OP_OR, native,
        Xapian::Query((new PositionalSource(c.slots, c.mode, c.window,
                                            std::vector<size_t>(c.slots.size(), 0)))
                          ->release()));
    // Xapian's own operator over an OR of each slot's terms (these slots
    // share no term), as the compiler builds it for small slots.
    std::vector<Xapian::Query> ors;
    for (const auto& slot : c.slots) ors.emplace_back(Xapian::Query::OP_OR, slot.begin(), slot.end());
    const Xapian::Query over_slots(op, ors.begin(), ors.end(), c.window);
    EXPECT_EQ(run(alone, 1000), want);
    EXPECT_EQ(run(split, 1000), want);
    EXPECT_EQ(run(over_slots, 1000), want);
    // Every match weighs the same: a limit keeps the first documents.
    const std::vector<Xapian::docid> first(want.begin(),
                                           want.begin() + std::min<size_t>(want.size(), 5));
    EXPECT_EQ(run(split, 5), first);
    EXPECT_EQ(run(alone, 5), first);
  }
}

// ANDed with a window whose words are in every document but near each other
// only in the last ones, the gate ends the match when the clock has run out
// before any fit was found, and changes nothing while it has not. A copy of
// the query for another thread reads the copy's clock.
TEST(ClockGateTest, EndsAMatchThatFindsNothingWhenTheClockRunsOut) {
  Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
  for (int d = 0; d < 1000; ++d) {
    Xapian::Document doc;
    doc.add_posting("a", 1);
    doc.add_posting("b", d >= 990 ? 2 : 50);
    db.add_document(doc);
  }
  const std::vector<Xapian::Query> words{Xapian::Query("a"), Xapian::Query("b")};
  const Xapian::Query near(Xapian::Query::OP_NEAR, words.begin(), words.end(), 3);
  auto count = [&](const Xapian::Query& query) {
    Xapian::Enquire enquire(db);
    enquire.set_query(query);
    return enquire.get_mset(0, 100).size();
  };
  auto gated = [&](SearchClock* clock) {
    return Xapian::Query(Xapian::Query::OP_AND, near,
                         Xapian::Query((new ClockGate(clock))->release()));
  };
  SearchClock later(SearchClock::Clock::now() + std::chrono::hours(1), nullptr);
  EXPECT_EQ(count(gated(&later)), 10u);
  EXPECT_FALSE(later.expired());
  SearchClock past(SearchClock::Clock::now() - std::chrono::seconds(1), nullptr);
  EXPECT_EQ(count(gated(&past)), 0u);
  EXPECT_TRUE(past.expired());
  SearchClock copy_clock(SearchClock::Clock::now() - std::chrono::seconds(1), nullptr);
  EXPECT_EQ(count(CopyOfQuery(gated(&later).serialise(), &copy_clock)), 0u);
  EXPECT_TRUE(copy_clock.expired());
  EXPECT_FALSE(later.expired());
}

}  // namespace
}  // namespace vantrel
