#include "metadata/caption_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using mac_test::IimBlock;
using mac_test::Datasets;

Datasets List(const CaptionRecord& r) { return mac_test::DatasetList(r.iptc); }

CaptionRecord Record(const Datasets& datasets) {
  CaptionRecord r;
  r.iptc = IimBlock(datasets);
  return r;
}

std::string Fields(const CaptionRecord& r, EmptyFieldMode mode, size_t capacity = 1 << 20) {
  std::string out;
  size_t n = WriteCaptionFields(r, out, kCaptionGroupPrefix, kCaptionGroupSuffix, mode, capacity);
  EXPECT_EQ(n, out.size());
  return out;
}

// 1999-03-02 15:04:05 UTC.
constexpr int64_t kMoment = 920387045;

// Runs with a fixed time zone and restores the old one.
class ZoneTest : public ::testing::Test {
 protected:
  void SetZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  void SetUp() override {
    const char* old = getenv("TZ");
    if (old) old_ = old;
    SetZone("UTC0");
  }
  void TearDown() override {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  MacroClock clock_{kMoment};

 private:
  std::optional<std::string> old_;
};

// ---- WriteCaptionFields ------------------------------------------------------

TEST(WriteCaptionFieldsTest, GroupsInDatasetOrderUnderEachMode) {
  CaptionRecord r = Record({{120, "Harbour"}, {25, "sea"}, {25, "boat"}});
  EXPECT_EQ(Fields(r, EmptyFieldMode::kNone), "QxQ025 sea boat ZqZ QxQ120 Harbour ZqZ ");
  EXPECT_EQ(Fields(r, EmptyFieldMode::kCommon),
            "QxQ005 xnoword ZqZ QxQ015 xnoword ZqZ QxQ020 xnoword ZqZ QxQ025 sea boat ZqZ "
            "QxQ040 xnoword ZqZ QxQ055 xnoword ZqZ QxQ080 xnoword ZqZ QxQ090 xnoword ZqZ "
            "QxQ101 xnoword ZqZ QxQ105 xnoword ZqZ QxQ110 xnoword ZqZ QxQ120 Harbour ZqZ "
            "QxQ121 xnoword ZqZ ");
  std::string all = Fields(r, EmptyFieldMode::kAll);
  EXPECT_THAT(all, ::testing::StartsWith("QxQ001 xnoword ZqZ QxQ002 xnoword ZqZ "));
  EXPECT_THAT(all, ::testing::EndsWith("QxQ254 xnoword ZqZ QxQ255 xnoword ZqZ "));
  EXPECT_THAT(all, ::testing::HasSubstr(" QxQ025 sea boat ZqZ QxQ026 xnoword ZqZ "));
  // Unknown modes behave like mode 0.
  EXPECT_EQ(Fields(r, static_cast<EmptyFieldMode>(7)), Fields(r, EmptyFieldMode::kNone));
}

TEST(WriteCaptionFieldsTest, BlankValues) {
  CaptionRecord r = Record({{105, "  "}});
  EXPECT_EQ(Fields(r, EmptyFieldMode::kNone), "QxQ105 ");
  EXPECT_THAT(Fields(r, EmptyFieldMode::kAll), ::testing::HasSubstr("QxQ105 xnoword ZqZ QxQ106"));
  EXPECT_THAT(Fields(r, EmptyFieldMode::kCommon), ::testing::HasSubstr("QxQ105 xnoword ZqZ "));
  // Characters above 0x7F are words; control bytes are not.
  EXPECT_EQ(Fields(Record({{116, "\xA9"}}), EmptyFieldMode::kNone), "QxQ116 \xA9 ZqZ ");
  EXPECT_EQ(Fields(Record({{116, "\t\r"}}), EmptyFieldMode::kNone), "QxQ116 ");
}

TEST(WriteCaptionFieldsTest, ValuesEndAtNulAndAreCutTo2048Bytes) {
  std::string long_value(3000, 'w');
  CaptionRecord r = Record({{5, std::string("name\0hidden", 11)}, {120, long_value}});
  std::string out = Fields(r, EmptyFieldMode::kNone);
  EXPECT_EQ(out, "QxQ005 name ZqZ QxQ120 " + std::string(2048, 'w') + " ZqZ ");
}

TEST(WriteCaptionFieldsTest, TextSlotsOf231) {
  std::string slots(256 * 3 + 100, '\0');
  slots.replace(0, 5, "first");
  slots.replace(256, 6, "second");
  slots.replace(512 + 10, 5, "later");           // a slot whose text is empty up to its first NUL
  slots.replace(768, 50, std::string(50, 'x'));  // a partial slot is not read
  CaptionRecord r = Record({{231, slots}, {231, "second occurrence"}});
  EXPECT_EQ(Fields(r, EmptyFieldMode::kNone), "QxQ231 first second  ZqZ ");
  // Only whole slots within the first 2048 bytes.
  std::string many(256 * 10, 'a');
  for (size_t i = 255; i < many.size(); i += 256) many[i] = '\0';
  std::string out = Fields(Record({{231, many}}), EmptyFieldMode::kNone);
  EXPECT_EQ(std::count(out.begin(), out.end(), ' '), 1 + 8 + 1);
}

TEST(WriteCaptionFieldsTest, StopsAtTheCapacity) {
  CaptionRecord r = Record({{120, std::string(1000, 'c')}, {25, "k"}});
  std::string out = "head ";
  size_t n = WriteCaptionFields(r, out, "QxQ", "ZqZ", EmptyFieldMode::kAll, 300);
  EXPECT_EQ(out.size(), 300u);
  EXPECT_EQ(n, 295u);
  EXPECT_EQ(out.substr(0, 5), "head ");
  // A buffer already full takes nothing.
  std::string full(400, 'x');
  EXPECT_EQ(WriteCaptionFields(r, full, "QxQ", "ZqZ", EmptyFieldMode::kAll, 300), 0u);
  EXPECT_EQ(full.size(), 400u);
  // An empty record under mode 0 writes nothing.
  std::string none;
  EXPECT_EQ(WriteCaptionFields(CaptionRecord{}, none, "QxQ", "ZqZ", EmptyFieldMode::kNone, 100),
            0u);
}

// ---- SplitLocalCaption -------------------------------------------------------

TEST(SplitLocalCaptionTest, Cases) {
  struct Case {
    const char* name;
    Datasets in;
    Datasets out;
  };
  const Case cases[] = {
      {"marker in any case",
       {{120, "Sunset *** LOCAL CAPTION *** shot from the pier"}},
       {{120, "Sunset"}, {121, "shot from the pier"}}},
      {"marker first",
       {{120, " *** Local Caption *** only local"}},
       {{120, ""}, {121, "only local"}}},
      {"no marker keeps an old local caption",
       {{120, "Plain"}, {121, "old local"}},
       {{120, "Plain"}, {121, "old local"}}},
      {"marker replaces an old local caption",
       {{120, "New *** Local Caption *** new local"}, {121, "old local"}},
       {{120, "New"}, {121, "new local"}}},
      {"marker at the end", {{120, "Cap *** Local Caption *** "}}, {{120, "Cap"}}},
      {"second caption dropped",
       {{120, "one"}, {120, "two"}, {25, "k"}},
       {{120, "one"}, {25, "k"}}},
      {"caption ends at NUL",
       {{120, std::string("a\0 *** Local Caption *** b", 26)}},
       {{120, "a"}}},
  };
  for (const Case& c : cases) {
    CaptionRecord r = Record(c.in);
    SplitLocalCaption(r);
    EXPECT_EQ(List(r), c.out) << c.name;
  }
  CaptionRecord none = Record({{25, "k"}});
  SplitLocalCaption(none);
  EXPECT_EQ(List(none), (Datasets{{25, "k"}}));
}

// ---- Macros --------------------------------------------------------------------

TEST_F(ZoneTest, DateAndTimeMacros) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"%%INSDATE", "19990302"},
      {"%%insdate+7", "19990309"},
      {"%%INSDATE-2x", "19990228x"},
      {"%%INSDATE+366", "20000302"},
      {"%%INSDATE+", "19990302+"},  // a sign without digits stays
      {"on %%INSLDATE-1.", "on Monday, 01 March 1999."},
      {"%%INSTIME", "150405+0000"},
      {"%%INSLTIME", "15:04:05"},
      {"%%INSFILE!", "img.jpg!"},
      {"100%", "100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandCaptionMacros(c.in, "img.jpg", clock_), c.out) << c.in;
  }
  EXPECT_EQ(ExpandCaptionMacros("[%%INSFILE]", "", clock_), "[]");
  // A replacement is not expanded again.
  EXPECT_EQ(ExpandCaptionMacros("%%INSFILE", "%%INSFILE", clock_), "%%INSFILE");
  // A huge offset neither overflows nor hangs.
  EXPECT_EQ(ExpandCaptionMacros("%%INSDATE+99999999999999999999", "", clock_).size(), 8u);
}

TEST_F(ZoneTest, TimeZoneOfInsTime) {
  SetZone("EST5");
  EXPECT_EQ(ExpandCaptionMacros("%%INSTIME", "", clock_), "150405-0500");
  SetZone("CET-1");
  EXPECT_EQ(ExpandCaptionMacros("%%INSTIME", "", clock_), "150405+0100");
  // 23:30 UTC is 00:30 of the next day in CET: the zone stays +0100.
  MacroClock late{kMoment + (8 * 3600 + 25 * 60 + 55)};
  EXPECT_EQ(ExpandCaptionMacros("%%INSTIME", "", late), "233000+0100");
  EXPECT_EQ(ExpandCaptionMacros("%%INSDATE", "", late), "19990303");
}

TEST_F(ZoneTest, ExpansionIsCutAt4000Bytes) {
  std::string value;
  for (int i = 0; i < 500; ++i) value += "%%INSFILE";
  EXPECT_EQ(ExpandCaptionMacros(value, std::string(100, 'f'), clock_).size(), kTaggedValueMax);
}

// ---- Caption text files ------------------------------------------------------

TEST(ClassifyCaptionTextTest, FirstBytesDecide) {
  EXPECT_EQ(ClassifyCaptionText("\x1c\x02\x00"), CaptionTextForm::kRawIptc);
  EXPECT_EQ(ClassifyCaptionText("#CAP x"), CaptionTextForm::kTagged);
  EXPECT_EQ(ClassifyCaptionText("\r\n#KEY x"), CaptionTextForm::kTagged);
  EXPECT_EQ(ClassifyCaptionText("ab#"), CaptionTextForm::kTagged);
  EXPECT_EQ(ClassifyCaptionText("abc#"), CaptionTextForm::kPlain);
  EXPECT_EQ(ClassifyCaptionText("\nplain"), CaptionTextForm::kPlain);
  EXPECT_EQ(ClassifyCaptionText("\xE9t\xE9"), CaptionTextForm::kPlain);
  EXPECT_EQ(ClassifyCaptionText("\x01x"), CaptionTextForm::kNotCaption);
  EXPECT_EQ(ClassifyCaptionText(""), CaptionTextForm::kNotCaption);
}

TEST_F(ZoneTest, TaggedText) {
  struct Case {
    const char* name;
    std::string text;
    Datasets out;
  };
  const Case cases[] = {
      {"lines",
       "#CAP Storm\r\n#KEY wind\r\n#KEY rain\r\n",
       {{120, " Storm"}, {25, " wind"}, {25, " rain"}}},
      {"lower case tag", "#cap Storm", {{120, " Storm"}}},
      {"numbered tag", "#120Text", {{120, "Text"}}},
      {"numbered beyond 255 is text", "#256Text #OBJ o", {{5, " o"}}},
      {"first character always taken", "#CAP#hash", {{120, "#hash"}}},
      {"date macro", "#DAT%%INSDATE+7", {{55, "19990309"}}},
      {"file macro", "#OBJ%%INSFILE", {{5, "pic.tif"}}},
      {"empty values skipped", "#CAP\r\n#HED\r\n", {}},
      {"canonical order", "#KEY k#HED h#CAP c", {{120, " c"}, {105, " h"}, {25, " k"}}},
      {"repeated caption keeps the last", "#CAP one#CAP two", {{120, " two"}}},
      {"text ends at NUL", std::string("#CAP a\0#KEY b", 13), {{120, " a"}}},
  };
  for (const Case& c : cases) {
    CaptionRecord r;
    EXPECT_TRUE(ReadCaptionText(r, c.text, "pic.tif", clock_)) << c.name;
    EXPECT_EQ(List(r), c.out) << c.name;
  }
}

TEST_F(ZoneTest, PlainRawAndRefusedFiles) {
  CaptionRecord r;
  EXPECT_TRUE(ReadCaptionText(r, "A plain caption\r", "", clock_));
  EXPECT_EQ(List(r), (Datasets{{120, "A plain caption\r"}}));

  CaptionRecord big;
  EXPECT_TRUE(ReadCaptionText(big, std::string(5000, 'p'), "", clock_));
  EXPECT_EQ(List(big), (Datasets{{120, std::string(2048, 'p')}}));

  CaptionRecord raw;
  std::string bytes = IimBlock({{80, "Me"}, {240, "drop"}, {120, "Raw"}});
  EXPECT_TRUE(ReadCaptionText(raw, bytes, "", clock_));
  EXPECT_EQ(List(raw), (Datasets{{120, "Raw"}, {80, "Me"}}));

  CaptionRecord kept = Record({{120, "Existing caption"}});
  CaptionRecord before = kept;
  EXPECT_TRUE(ReadCaptionText(kept, PlaceholderIptcBlock(), "", clock_));
  EXPECT_EQ(kept.iptc, before.iptc);  // the merge result (2:00 alone) is refused
  EXPECT_FALSE(ReadCaptionText(kept,
                               "\x02"
                               "binary",
                               "", clock_));
  EXPECT_FALSE(ReadCaptionText(kept, "", "", clock_));
  EXPECT_EQ(kept.iptc, before.iptc);
}

TEST_F(ZoneTest, MergeReplacesWhatTheRecordHeld) {
  CaptionRecord r = Record({{120, "Old"}, {80, "Photographer"}, {25, "old"}});
  EXPECT_TRUE(ReadCaptionText(r, "#CAP New#KEY a#KEY b", "", clock_));
  EXPECT_EQ(List(r), (Datasets{{120, " New"}, {25, " a"}, {25, " b"}}));
}

TEST_F(ZoneTest, OnlyTheFirst8000BytesCount) {
  std::string text = "#CAP c" + std::string(8000, ' ') + "#KEY late";
  CaptionRecord r;
  EXPECT_TRUE(ReadCaptionText(r, text, "", clock_));
  ASSERT_EQ(List(r).size(), 1u);
  EXPECT_EQ(List(r)[0].first, 120);
}

TEST_F(ZoneTest, ReadsFiles) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("caption.txt", "#HED Headline"));
  CaptionRecord r;
  EXPECT_TRUE(ReadCaptionTextFile(r, *DefaultFileSystem(), dir.Path("caption.txt"), "", clock_));
  EXPECT_EQ(List(r), (Datasets{{105, " Headline"}}));
  EXPECT_FALSE(ReadCaptionTextFile(r, *DefaultFileSystem(), dir.Path("missing.txt"), "", clock_));
}

// ---- MergeCaption --------------------------------------------------------------

TEST(MergeCaptionTest, KeywordsAllOthersTheLast) {
  CaptionRecord d = Record({{5, "object"}, {25, "old"}});
  CaptionRecord s = Record(
      {{25, "a"}, {25, "b"}, {25, "c"}, {20, "x"}, {20, "y"}, {120, "p"}, {120, "q"}, {116, ""}});
  MergeCaption(d, s);
  // Keywords: the first, then the newest, then older ones; a new 2:25 goes
  // behind the first 2:20, its canonical predecessor.
  EXPECT_EQ(List(d), (Datasets{{120, "q"}, {20, "x"}, {25, "a"}, {25, "c"}, {25, "b"}, {20, "y"}}));
}

TEST(MergeCaptionTest, ValuesCutTo2048) {
  CaptionRecord d;
  MergeCaption(d, Record({{120, std::string(4000, 'v')}}));
  EXPECT_EQ(List(d), (Datasets{{120, std::string(2048, 'v')}}));
  CaptionRecord empty;
  MergeCaption(empty, CaptionRecord{});
  EXPECT_TRUE(empty.iptc.empty());
}

}  // namespace
}  // namespace vantrel
