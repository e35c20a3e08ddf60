// The merge rules at the byte level (the exiftool tests cover them over real
// files): where added datasets go, and which cut values are replaced.
#include "metadata/xmp_merge.h"

#include <gtest/gtest.h>

#include <string>

#include "metadata/iim_codec.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

XmpCaption Xmp(std::vector<XmpDataset> datasets) { return XmpCaption{std::move(datasets), ""}; }

TEST(XmpMerge, AddedDatasetsStandWhereAWalkReachesThem) {
  CaptionRecord record;
  MergeXmpCaption(record, Xmp({{25, "k"}}));
  EXPECT_EQ(record.iptc, MakeIptcBlock({{2, 25, "k"}}));  // opens with 2:00

  record.iptc = MakeIptcBlock({{2, 120, "c"}}) + std::string("\x00\x00junk", 6);
  MergeXmpCaption(record, Xmp({{120, "other"}, {90, "Bern"}}));
  EXPECT_EQ(record.iptc, MakeIptcBlock({{2, 120, "c"}, {2, 90, "Bern"}}) +
                             std::string("\x00\x00junk", 6));

  CaptionRecord untouched;
  MergeXmpCaption(untouched, Xmp({}));
  EXPECT_TRUE(untouched.iptc.empty());
}

TEST(XmpMerge, CutValuesAreReplacedOnlyByAValueThatBeginsLikeThem) {
  const std::string kw_cut(64, 'k');
  const std::string caption_cut(2000, 'c');
  CaptionRecord record;
  record.iptc = MakeIptcBlock({{2, 25, "short"}, {2, 25, kw_cut}, {2, 120, caption_cut}});
  const std::vector<CutIimValue> cut = FindCutIimValues(record.iptc);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].dataset, 25);
  EXPECT_EQ(cut[0].occurrence, 1);
  MergeXmpCaption(record, Xmp({{25, "short"}, {25, kw_cut + "-whole"}, {120, "unrelated text"}}),
                  cut);
  EXPECT_EQ(record.iptc,
            MakeIptcBlock({{2, 25, "short"}, {2, 25, kw_cut + "-whole"}, {2, 120, caption_cut}}));
}

}  // namespace
}  // namespace vantrel
