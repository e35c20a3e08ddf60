#include "metadata/mac_streams.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using mac_test::Iim;
using mac_test::IimBlock;
using mac_test::Datasets;

Datasets List(std::string_view block) { return mac_test::DatasetList(block); }
Datasets List(const CaptionRecord& r) { return List(r.iptc); }

const MacroClock kClock{920387045};
const std::string kPath = "/images/harbour.jpg";

TEST(TextStreamTest, FormsByTheFirstBytes) {
  struct Case {
    std::string bytes;
    TextStreamForm form;
  };
  const std::string raw = IimBlock({{120, "caption"}});
  const Case cases[] = {
      {raw, TextStreamForm::kRawIptc},
      {raw.substr(0, 14), TextStreamForm::kCaptionText},
      {"2:120 Caption    x", TextStreamForm::kDatasetLines},
      {"2:120 Cap    xy", TextStreamForm::kDatasetLines},
      {"2:120 Cap    x", TextStreamForm::kCaptionText},  // 14 bytes
      {"IPTC:2:120  Caption", TextStreamForm::kIptcEntries},
      {std::string(128, 'm') + "IPTC:2:5  abcdef", TextStreamForm::kMacBinaryIptcEntries},
      {std::string(128, 'm') + "IPTC:2:5  abcd", TextStreamForm::kCaptionText},  // 142 bytes
      {"IPTC:2:5  abcd", TextStreamForm::kCaptionText},                          // 14 bytes
      {"#CAP Storm", TextStreamForm::kCaptionText},
      {"", TextStreamForm::kCaptionText},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyTextStream(c.bytes), c.form) << c.bytes;
  }
}

TEST(TextStreamTest, DatasetLines) {
  std::string block = DatasetLinesToIptc(
      mac_test::DatasetLines({{120, "Harbour"}, {25, "sea"}, {25, "boat"}, {5, "obj"}}));
  EXPECT_EQ(block.substr(0, 7), RecordVersionDataset());
  EXPECT_EQ(List(block), (Datasets{{5, "obj"}, {25, "sea"}, {120, "Harbour"}}));

  struct Case {
    const char* name;
    std::string stream;
    Datasets out;
  };
  const Case cases[] = {
      {"a CR not followed by 2 stays in the value",
       "2:120 Caption    line one\rline two.\r2:5 Object    obj.",
       {{5, "obj"}, {120, "line one\rline two"}}},
      {"a tab after the blanks is skipped", "2:105 Head    \tHeadline.", {{105, "Headline"}}},
      {"an entry not beginning 2: ends the search",
       "2:5 Object    obj.\r2X 25 K    k.\r2:25 K    k.",
       {{5, "obj"}}},
      {"an empty first value makes the dataset absent",
       "2:120 Caption     .\r2:120 Caption    second.",
       {}},
      {"numbers beyond 254 are dropped", "2:255 Label    x..\r2:0 Label    y..", {}},
      {"no four blanks", "2:120 Caption   three blanks only", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(List(DatasetLinesToIptc(c.stream)), c.out) << c.name;
  }
}

TEST(TextStreamTest, IptcEntries) {
  std::string entries =
      mac_test::IptcEntries({{25, "sea"}, {5, "obj"}, {25, "boat"}, {120, "Caption"}, {255, "x"}});
  entries += mac_test::IptcEntries({{90, "envelope city"}}, /*record=*/1);
  EXPECT_EQ(List(IptcEntriesToIptc(entries)),
            (Datasets{{5, "obj"}, {25, "sea"}, {120, "Caption"}}));
  // Blanks of any run, then one control character, are skipped.
  EXPECT_EQ(List(IptcEntriesToIptc("IPTC:2:5     \tName\r")), (Datasets{{5, "Name"}}));
  EXPECT_EQ(List(IptcEntriesToIptc("XIPTC:2:5  Name\r")), (Datasets{}));
}

TEST(TextStreamTest, ReadByForm) {
  struct Case {
    const char* name;
    std::string bytes;
    Datasets out;
  };
  const std::string entries = mac_test::IptcEntries({{5, "obj"}, {25, "sea"}, {25, "boat"}});
  const Case cases[] = {
      {"raw with 2:00 behind a caption",
       Iim(120, "cap") + Iim(0, std::string("\x00\x04", 2)) + Iim(25, "k"),
       {{120, "cap"}, {25, "k"}}},
      {"dataset lines", mac_test::DatasetLines({{105, "Head"}}), {{105, "Head"}}},
      {"IPTC entries", entries, {{5, "obj"}, {25, "sea"}}},
      {"IPTC entries behind MacBinary",
       mac_test::MacBinaryHeader("caption", "TEXT") + entries,
       {{5, "obj"}, {25, "sea"}}},
      {"tagged caption text", "#CAP Storm\r\n#KEY wind", {{120, " Storm"}, {25, " wind"}}},
      {"plain caption text", "Storm over the bay", {{120, "Storm over the bay"}}},
      {"no file name for the TEXT stream", "#OBJ%%INSFILE", {}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) {
    CaptionRecord r;
    ReadTextStream(r, c.bytes, kClock);
    EXPECT_EQ(List(r), c.out) << c.name;
    if (!r.iptc.empty()) {
      // Every block built here begins with one record version 00 02.
      EXPECT_EQ(r.iptc.substr(0, 7), RecordVersionDataset()) << c.name;
      EXPECT_EQ(CountDatasets(r.iptc, 2, 0), 1) << c.name;
    }
  }
}

TEST(MergeTextIntoCaptionTest, Cases) {
  struct Case {
    const char* name;
    std::string iptc;
    std::string text;
    Datasets out;
  };
  const Case cases[] = {
      {"no caption", "", "Taken at dawn", {{120, "Taken at dawn"}}},
      {"caption and text",
       IimBlock({{120, "Harbour"}}),
       "Taken at dawn",
       {{120, "Harbour / Taken at dawn"}}},
      {"caption begins like the text",
       IimBlock({{120, "Taken at dawn, harbour"}}),
       "Taken at dawn",
       {{120, "Taken at dawn, harbour"}}},
      {"empty caption", IimBlock({{120, ""}}), "Text", {{120, "Text"}}},
      {"first occurrences only, 255 dropped",
       IimBlock({{25, "a"}, {25, "b"}, {255, "x"}, {5, "o"}}),
       "",
       {{5, "o"}, {25, "a"}}},
      {"caption without text",
       IimBlock({{120, "cap"}, {80, "me"}}),
       "",
       {{80, "me"}, {120, "cap"}}},
  };
  for (const Case& c : cases) {
    std::string block = MergeTextIntoCaption(c.iptc, c.text);
    EXPECT_EQ(block.substr(0, 7), RecordVersionDataset()) << c.name;
    EXPECT_EQ(List(block), c.out) << c.name;
  }
  // A caption too long for a standard length is cut, never mis-encoded.
  std::string block =
      MergeTextIntoCaption(IimBlock({{120, std::string(32000, 'c')}}), std::string(1000, 't'));
  ASSERT_EQ(List(block).size(), 1u);
  EXPECT_EQ(List(block)[0].second.size(), 32767u);
}

TEST(MergeTextIntoCaptionTest, WithNewRecordVersion) {
  std::string block = Iim(5, "o") + Iim(0, std::string("\x00\x04", 2)) + Iim(0, "x") + Iim(25, "k");
  std::string out = WithNewRecordVersion(block);
  EXPECT_EQ(out, std::string(RecordVersionDataset()) + Iim(5, "o") + Iim(25, "k"));
  EXPECT_EQ(WithNewRecordVersion(""), RecordVersionDataset());
}

class ReadMacStreamsTest : public ::testing::Test {
 protected:
  mac_test::FakeFileStreams streams_;
  CaptionRecord record_;
  MacStreamsTrace trace_;
};

TEST_F(ReadMacStreamsTest, ResourceForkFirst) {
  streams_.Put(kPath, MacStream::kResourceFork,
               mac_test::Photoshop30Fork(IimBlock({{120, "fork caption"}})),
               StreamPlace::kAppleDouble);
  streams_.Put(kPath, MacStream::kText, "#CAP text caption");
  EXPECT_TRUE(ReadMacStreams(record_, streams_, kPath, kClock, &trace_));
  EXPECT_EQ(List(record_), (Datasets{{120, "fork caption"}}));
  EXPECT_EQ(trace_.resource_fork, StreamPlace::kAppleDouble);
  EXPECT_EQ(trace_.fork_form, ResourceForkForm::kPhotoshop30);
  EXPECT_EQ(trace_.text, StreamPlace::kNone);
  EXPECT_EQ(streams_.opened(), 1);  // the TEXT stream is not opened
}

TEST_F(ReadMacStreamsTest, TextStreamWhenTheForkHoldsNoCaption) {
  streams_.Put(kPath, MacStream::kResourceFork,
               mac_test::ResourceForkBuilder().Add("\x01").Build());
  streams_.Put(kPath, MacStream::kText, mac_test::IptcEntries({{5, "object"}}));
  EXPECT_TRUE(ReadMacStreams(record_, streams_, kPath, kClock, &trace_));
  EXPECT_EQ(List(record_), (Datasets{{5, "object"}}));
  EXPECT_EQ(trace_.fork_form, ResourceForkForm::kNone);
  EXPECT_EQ(trace_.text, StreamPlace::kDosStreamXattr);
  EXPECT_EQ(trace_.text_form, TextStreamForm::kIptcEntries);
}

TEST_F(ReadMacStreamsTest, AnEmptyTextStreamStillAnswers) {
  streams_.Put(kPath, MacStream::kText, "");
  EXPECT_TRUE(ReadMacStreams(record_, streams_, kPath, kClock));
  EXPECT_EQ(record_.iptc_length(), 0);
}

TEST_F(ReadMacStreamsTest, NothingBesideTheFile) {
  EXPECT_FALSE(ReadMacStreams(record_, streams_, kPath, kClock, &trace_));
  EXPECT_EQ(trace_.resource_fork, StreamPlace::kNone);
  streams_.Put(kPath, MacStream::kResourceFork, std::string(255, '\0'));
  EXPECT_FALSE(ReadMacStreams(record_, streams_, kPath, kClock));
  EXPECT_EQ(record_.iptc_length(), 0);
}

TEST(ReadFinderTypeTest, TypeFromTheAfpInfo) {
  mac_test::FakeFileStreams streams;
  EXPECT_EQ(ReadFinderType(streams, kPath), 0u);
  streams.Put(kPath, MacStream::kAfpInfo, mac_test::AfpInfoStream("JPEG", "8BIM"));
  EXPECT_EQ(ReadFinderType(streams, kPath), 0x4A504547u);
  streams.Put(kPath, MacStream::kAfpInfo, mac_test::AfpInfoStream("JPEG", "8BIM").substr(0, 19));
  EXPECT_EQ(ReadFinderType(streams, kPath), 0u);
}

TEST(MacStreamAdaptersTest, AnswerForTheOtherReaders) {
  mac_test::FakeFileStreams streams;
  streams.Put(
      kPath, MacStream::kResourceFork,
      mac_test::ResourceForkBuilder().Add(mac_test::AnpaResource(IimBlock({{5, "o"}}))).Build());
  streams.Put("/text.jpg", MacStream::kText, "#CAP c");
  streams.Put(kPath, MacStream::kAfpInfo, mac_test::AfpInfoStream("EPSF", "8BIM"));
  CaptionRecord r;
  EXPECT_TRUE(MacStreamReaderFor(streams)(r, kPath));
  EXPECT_EQ(List(r), (Datasets{{5, "o"}}));
  auto inspect = InspectMacStreamsFor(streams);
  CaptionRecord a, b, c;
  EXPECT_EQ(inspect(a, kPath), CaptionSource::kResourceFork);
  EXPECT_EQ(inspect(b, "/text.jpg"), CaptionSource::kTextStream);
  EXPECT_EQ(inspect(c, "/none.jpg"), CaptionSource::kNone);
  EXPECT_EQ(InspectFinderTypeFor(streams)(kPath), "EPSF");
  EXPECT_EQ(InspectFinderTypeFor(streams)("/none.jpg"), "");
  EXPECT_EQ(TypeCodeText(0x50444620), "PDF ");
}

// The places themselves (sidecar, extended attributes) are checked with the
// file streams; here one real sidecar end to end.
TEST(ReadMacStreamsFilesTest, SidecarOfARealFile) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("pier.tif", "II*\0"));
  ASSERT_TRUE(dir.WriteFile(
      "._pier.tif",
      mac_test::MacOsSidecar("TIFF", "8BIM",
                             mac_test::ResourceForkBuilder()
                                 .Add(mac_test::AnpaResource(IimBlock({{120, "Pier at night"}})))
                                 .Build())));
  const std::string path = dir.Path("pier.tif");
  CaptionRecord r;
  MacStreamsTrace trace;
  EXPECT_TRUE(ReadMacStreams(r, *DefaultFileStreams(), path, kClock, &trace));
  EXPECT_EQ(List(r), (Datasets{{120, "Pier at night"}}));
  EXPECT_EQ(trace.resource_fork, StreamPlace::kAppleDouble);
  EXPECT_EQ(trace.fork_form, ResourceForkForm::kAnpa);
  EXPECT_EQ(ReadFinderType(*DefaultFileStreams(), path), 0x54494646u);  // "TIFF"
}

}  // namespace
}  // namespace vantrel
