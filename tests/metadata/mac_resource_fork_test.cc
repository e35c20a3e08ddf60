#include "metadata/mac_resource_fork.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/mac_builders.h"

namespace vantrel {
namespace {

using mac_test::AnpaResource;
using mac_test::Iim;
using mac_test::IimBlock;
using mac_test::Photoshop25Entry;
using mac_test::ResourceForkBuilder;
using mac_test::Datasets;

Datasets List(const CaptionRecord& r) { return mac_test::DatasetList(r.iptc); }

// A run of datasets whose markers are byte-swapped (02 1C): the scan does not
// see it, LocateRecordRun mends it.
std::string SwappedRun(const Datasets& datasets) {
  std::string run;
  for (const auto& [n, v] : datasets) {
    std::string d = Iim(n, v);
    std::swap(d[0], d[1]);
    run += d;
  }
  return run;
}

const std::string kCaptionBlock = IimBlock({{120, "Harbour at dawn"}, {25, "sea"}, {25, "boat"}});
const Datasets kCaptionDatasets = {{120, "Harbour at dawn"}, {25, "sea"}, {25, "boat"}};

TEST(ResourceForkTest, RecognisedForms) {
  const std::string binary("\x00\x11\x02\xff\x0c\x00", 6);
  struct Case {
    const char* name;
    std::string fork;
    ResourceForkForm form;
    Datasets datasets;
  };
  const std::string text40 = "A caption of forty printable characters.";
  const Case cases[] = {
      {"IPTC block with 2:00", ResourceForkBuilder().Add(binary).Add(kCaptionBlock).Build(),
       ResourceForkForm::kIptcBlock, kCaptionDatasets},
      {"placeholder block",
       ResourceForkBuilder().Add(std::string(PlaceholderIptcBlock())).Build(),
       ResourceForkForm::kIptcBlock,
       {}},
      {"caption run without 2:00",
       ResourceForkBuilder().Add(Iim(120, "Harbour") + Iim(25, "sea") + Iim(240, "x")).Build(),
       ResourceForkForm::kCaptionRun,
       {{120, "Harbour"}, {25, "sea"}}},
      {"ANPA resource", ResourceForkBuilder().Add(AnpaResource(kCaptionBlock)).Build(),
       ResourceForkForm::kAnpa, kCaptionDatasets},
      {"ANPA before Photoshop: the first found",
       ResourceForkBuilder()
           .Add(AnpaResource(IimBlock({{120, "ANPA caption"}})))
           .Add("Adobe Photoshop 3.0")
           .Add(IimBlock({{120, "Photoshop caption"}}))
           .Build(),
       ResourceForkForm::kAnpa,
       {{120, "ANPA caption"}}},
      {"Photoshop 3.0", mac_test::Photoshop30Fork(kCaptionBlock), ResourceForkForm::kPhotoshop30,
       kCaptionDatasets},
      {"Photoshop text without a block goes on scanning",
       ResourceForkBuilder()
           .Add("Adobe Photoshop 3.0 with a long trailing text")
           .Add(AnpaResource(IimBlock({{5, "object"}})))
           .Build(),
       ResourceForkForm::kAnpa,
       {{5, "object"}}},
      {"Photoshop 2.5",
       mac_test::Photoshop25Fork(
           {Photoshop25Entry(2, 120, "Old caption"), Photoshop25Entry(1, 90, "envelope"),
            Photoshop25Entry(2, 25, "kw"), Photoshop25Entry(2, 80, ""),
            Photoshop25Entry(3, 10, "image record"), Photoshop25Entry(2, 5, "after record 3")}),
       ResourceForkForm::kPhotoshop25,
       {{120, "Old caption"}, {25, "kw"}}},
      {"text resource before the map",
       mac_test::TextResourceFork(text40),
       ResourceForkForm::kTextResource,
       {{120, text40}}},
      {"short text resource before the map",
       mac_test::TextResourceFork("Twenty chars of text"),
       ResourceForkForm::kTextResource,
       {{120, "Twenty chars of text"}}},
      {"text as the first resource",
       ResourceForkBuilder().Add("First resource text").Add("\x01\x02\x03XYZ").Build(),
       ResourceForkForm::kTextResource,
       {{120, "First resource text"}}},
      {"text too long",
       mac_test::TextResourceFork(std::string(2000, 't')),
       ResourceForkForm::kNone,
       {}},
      {"text of two bytes", mac_test::TextResourceFork("ab"), ResourceForkForm::kNone, {}},
      {"text with a tab",
       mac_test::TextResourceFork("left\tright and more text"),
       ResourceForkForm::kNone,
       {}},
      {"run with text behind",
       ResourceForkBuilder()
           .AddRaw(std::string(4, '\0'))
           .AddRaw(SwappedRun({{5, "obj"}, {120, "Harbour"}}))
           .Add("Taken at dawn")
           .Build(),
       ResourceForkForm::kRunWithText,
       {{5, "obj"}, {120, "Harbour / Taken at dawn"}}},
      {"run whose caption begins like the text",
       ResourceForkBuilder()
           .AddRaw(std::string(4, '\0'))
           .AddRaw(SwappedRun({{120, "Taken at dawn, harbour"}}))
           .Add("Taken at dawn")
           .Build(),
       ResourceForkForm::kRunWithText,
       {{120, "Taken at dawn, harbour"}}},
      {"run with text in front",
       ResourceForkBuilder().Add("Taken at dawn").Add(SwappedRun({{5, "obj"}})).Build(),
       ResourceForkForm::kRunWithText,
       {{5, "obj"}, {120, "Taken at dawn"}}},
      {"run alone is not taken",
       ResourceForkBuilder().Add(binary).Add(SwappedRun({{5, "obj"}})).Build(),
       ResourceForkForm::kNone,
       {}},
      {"nothing", ResourceForkBuilder().Add(binary).Build(), ResourceForkForm::kNone, {}},
      {"printable bytes only", std::string(400, 'a'), ResourceForkForm::kNone, {}},
  };
  for (const Case& c : cases) {
    CaptionRecord r;
    EXPECT_EQ(ParseResourceFork(r, c.fork), c.form) << c.name;
    EXPECT_EQ(List(r), c.datasets) << c.name;
  }
}

TEST(ResourceForkTest, ForkShorterThan256BytesIsNotRead) {
  std::string fork = std::string(100, '\0') + mac_test::Be32(12) + AnpaResource(Iim(120, "cap"));
  fork.resize(255, '\0');
  CaptionRecord r;
  EXPECT_EQ(ParseResourceFork(r, fork), ResourceForkForm::kNone);
  fork.push_back('\0');
  EXPECT_EQ(ParseResourceFork(r, fork), ResourceForkForm::kAnpa);
  EXPECT_EQ(List(r), (Datasets{{120, "cap"}}));
}

TEST(ResourceForkTest, ReplacesWhatTheRecordHeld) {
  CaptionRecord r;
  r.iptc = IimBlock({{5, "old"}});
  EXPECT_EQ(ParseResourceFork(r, mac_test::Photoshop30Fork(kCaptionBlock)),
            ResourceForkForm::kPhotoshop30);
  EXPECT_EQ(List(r), kCaptionDatasets);
}

TEST(ResourceForkTest, Photoshop25Limits) {
  std::vector<std::string> entries = {Photoshop25Entry(2, 5, "o")};
  // The second resource, too, must be shorter than 256 bytes.
  for (int i = 0; i < 100; ++i) entries.push_back(Photoshop25Entry(2, 25, std::string(200, 'k')));
  auto block = Photoshop25Captions(mac_test::Photoshop25Fork(entries));
  ASSERT_TRUE(block.has_value());
  EXPECT_LE(block->size(), kPhotoshop25BlockMax);
  EXPECT_EQ(CountDatasets(*block, 2, 25), (16000 - 6) / 205);
  // A value that runs past the fork ends the walk; what came before stays.
  std::string fork =
      mac_test::Photoshop25Fork({Photoshop25Entry(2, 120, "kept"), Photoshop25Entry(2, 25, "cut")});
  std::string cut = fork.substr(0, fork.find("cut") + 1);
  block = Photoshop25Captions(cut);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(*block, Iim(120, "kept"));
  // A negative resource length gives nothing at all.
  std::string negative =
      mac_test::Photoshop25Fork({Photoshop25Entry(2, 120, "kept"), Photoshop25Entry(2, 25, "k2"),
                                 Photoshop25Entry(2, 5, "x")});
  ASSERT_TRUE(Photoshop25Captions(negative).has_value());
  negative.replace(256 + (4 + 12) + (4 + 10), 4, "\xff\xff\xff\xf0");
  EXPECT_FALSE(Photoshop25Captions(negative).has_value());
  // The first resource must be shorter than 256 bytes.
  EXPECT_FALSE(Photoshop25Captions(
      mac_test::Photoshop25Fork({Photoshop25Entry(2, 120, std::string(300, 'c'))})));
}

// Cut and damaged forks of every form: the resource fork fuzz target, whose
// seeds are these forms and whose corpus the test run replays.

TEST(ResourceForkTest, ForkOfNothingButCaptionHeaders) {
  // Every position starts a caption run that reaches the end of the fork.
  std::string fork(256, '\0');
  while (fork.size() < (1 << 20)) fork += std::string("\x1c\x02\x78\x00\x00", 5);
  CaptionRecord r;
  EXPECT_EQ(ParseResourceFork(r, fork), ResourceForkForm::kNone);
}

TEST(ResourceForkTest, RepairHeavyForksSearchOnlyTheirFirstWindow) {
  // A run far behind the start of a large fork is found...
  std::string far = ResourceForkBuilder()
                        .Add(std::string(1 << 20, '\0'))
                        .Add("Taken at dawn")
                        .Add(SwappedRun({{5, "obj"}}))
                        .Build();
  CaptionRecord r;
  EXPECT_EQ(ParseResourceFork(r, far), ResourceForkForm::kRunWithText);
  // ...unless the fork is full of places that the run repair would have to
  // move the whole rest of the buffer for; then only its first 256 KiB count.
  std::string repairs;
  while (repairs.size() < (1 << 20)) repairs += std::string("\x1c\x02\x74\x1c\x02\x05\x00\x00", 8);
  std::string heavy =
      ResourceForkBuilder().Add(repairs).Add("Taken at dawn").Add(SwappedRun({{5, "obj"}})).Build();
  CaptionRecord h;
  EXPECT_EQ(ParseResourceFork(h, heavy), ResourceForkForm::kNone);
}

TEST(ResourceForkTest, ReadsThroughTheStreams) {
  mac_test::FakeFileStreams streams;
  CaptionRecord r;
  StreamPlace place = StreamPlace::kDosStreamXattr;
  ResourceForkForm form = ResourceForkForm::kAnpa;
  EXPECT_FALSE(ReadResourceFork(r, streams, "/img/a.jpg", &place, &form));
  EXPECT_EQ(place, StreamPlace::kNone);
  EXPECT_EQ(form, ResourceForkForm::kNone);
  streams.Put("/img/a.jpg", MacStream::kResourceFork, "", StreamPlace::kAppleDouble);
  EXPECT_FALSE(ReadResourceFork(r, streams, "/img/a.jpg", &place));
  EXPECT_EQ(place, StreamPlace::kAppleDouble);
  streams.Put("/img/a.jpg", MacStream::kResourceFork, mac_test::Photoshop30Fork(kCaptionBlock),
              StreamPlace::kAppleDouble);
  EXPECT_TRUE(ReadResourceFork(r, streams, "/img/a.jpg", &place, &form));
  EXPECT_EQ(form, ResourceForkForm::kPhotoshop30);
  EXPECT_EQ(List(r), kCaptionDatasets);
}

}  // namespace
}  // namespace vantrel
