// Interoperation with exiftool, an independent reader and writer of IPTC-NAA
// data: files that exiftool writes are read with exactly its datasets, and
// files that the image builders make are read back by exiftool with the same
// values. Skipped when exiftool is not installed.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/eps_reader.h"
#include "metadata/iim_codec.h"
#include "metadata/image_data_view.h"
#include "metadata/photoshop_reader.h"
#include "metadata/tiff_reader.h"
#include "support/external_tools.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using tool_test::Installed;
using tool_test::kExiftool;
using tool_test::RunCommand;
using tool_test::RunExiftool;

using Datasets = std::vector<std::pair<int, std::string>>;  // record-2 number, value bytes

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The record-2 datasets, with their raw bytes, from exiftool's -v5 dump:
//   - Tag 0x0019, IPTCApplication record (4 bytes, string[0,64]):
//       0037: 43 61 66 e9   [Caf.]
Datasets ExiftoolDatasets(const std::string& path) {
  std::string dump = RunCommand(std::string(kExiftool) + " -v5 '" + path + "'");
  Datasets out;
  size_t pos = 0;
  std::string* current = nullptr;
  while (pos < dump.size()) {
    size_t eol = dump.find('\n', pos);
    if (eol == std::string::npos) eol = dump.size();
    std::string line = dump.substr(pos, eol - pos);
    pos = eol + 1;
    size_t tag = line.find("- Tag 0x");
    if (tag != std::string::npos && line.find("IPTCApplication record (") != std::string::npos) {
      int number = std::stoi(line.substr(tag + 8, 4), nullptr, 16);
      out.emplace_back(number, "");
      current = &out.back().second;
      continue;
    }
    size_t colon = line.find(": ");
    bool hex_line = current != nullptr && colon != std::string::npos && colon >= 4 &&
                    HexDigit(line[colon - 1]) >= 0 && line.find("- Tag") == std::string::npos &&
                    line.find('=') == std::string::npos;
    if (!hex_line) {
      current = nullptr;
      continue;
    }
    for (size_t i = colon + 2; i + 1 < line.size(); i += 3) {
      int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
      if (hi < 0 || lo < 0) break;
      current->push_back(static_cast<char>(hi * 16 + lo));
    }
  }
  return out;
}

Datasets RecordDatasets(const CaptionRecord& r) {
  Datasets out;
  for (const IimDataset& d : WalkDatasets(r.iptc)) {
    if (d.record == 2) out.emplace_back(d.dataset, std::string(d.value));
  }
  return out;
}

// What the document builder's data-fork readers make of a file.
CaptionRecord ReadWithVantrel(const std::string& path) {
  CaptionRecord r;
  ImageDataView view;
  if (!OpenImageData(view, path)) return r;
  if (!ReadPhotoshopCaption(r, view.data(), path) && !ReadEpsCaption(view.data(), path, r)) {
    (void)ReadTiffCaption(view.data(), path, r);
  }
  CloseImageData(view);
  return r;
}

class ExiftoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed(kExiftool)) GTEST_SKIP() << "exiftool is not installed";
  }

  // Runs exiftool on `file` in place, storing IIM text as Latin-1.
  void WriteWithExiftool(const std::string& file, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-charset", "iptc=Latin"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_TRUE(RunExiftool(file, all));
  }

  TempDir dir_;
};

// Arguments are UTF-8; exiftool stores the text as Latin-1 (-charset iptc=Latin).
const std::vector<std::string> kExiftoolArgs = {
    "-IPTC:Keywords=Café",
    "-IPTC:Keywords=Zürich",
    "-IPTC:Keywords=third keyword",
    "-IPTC:Headline=Straße am Fluß",
    "-IPTC:By-line=Renée Ølsen",
    "-IPTC:City=Köln",
    "-IPTC:Caption-Abstract=" + std::string(1500, 'L') + " ende ñ",
};

TEST_F(ExiftoolTest, ReadsWhatExiftoolWroteIntoJpegAndTiff) {
  struct Target {
    const char* name;
    std::string bytes;
  };
  for (const Target& t :
       {Target{"plain.jpg", MakeJpeg()},
        Target{"plain_be.tif", MakeTiffWithIptc({}, {.iptc_type = TiffIptcType::kNone})},
        Target{"plain_le.tif",
               MakeTiffWithIptc({}, {.big_endian = false, .iptc_type = TiffIptcType::kNone})}}) {
    SCOPED_TRACE(t.name);
    ASSERT_TRUE(dir_.WriteFile(t.name, t.bytes));
    std::string path = dir_.Path(t.name);
    WriteWithExiftool(path, kExiftoolArgs);
    Datasets expected = ExiftoolDatasets(path);
    ASSERT_GE(expected.size(), kExiftoolArgs.size()) << "exiftool wrote nothing";
    Datasets got = RecordDatasets(ReadWithVantrel(path));
    EXPECT_EQ(got, expected);
    // Spot checks of the Latin-1 bytes.
    bool cafe = false;
    for (const auto& [n, v] : got) cafe |= (n == 25 && v == "Caf\xE9");
    EXPECT_TRUE(cafe);
  }
}

TEST_F(ExiftoolTest, ExiftoolReadsWhatTheBuildersMake) {
  const std::vector<IptcDataset> datasets = {{2, 120, "A caption with \xE9 and \"quotes\""},
                                             {2, 25, "first"},
                                             {2, 25, "second"},
                                             {2, 105, "Headline"},
                                             {2, 80, "Photographer"},
                                             {2, 116, "(c) Someone"}};
  Datasets expected;
  const std::string block = MakeIptcBlock(datasets);
  for (const IimDataset& d : WalkDatasets(block)) {
    expected.emplace_back(d.dataset, std::string(d.value));
  }
  struct Sample {
    const char* name;
    std::string bytes;
  };
  const std::vector<Sample> samples = {
      {"ps3.jpg", MakeJpegWithIptc(datasets)},
      {"ps3_three_segments.jpg", MakeJpegWithIptc(datasets, {.segments = 3})},
      {"ps25.jpg", MakeJpegWithIptc(datasets, {.identifier = App13Identifier::kPhotoshop25})},
      {"macbinary.jpg", WrapMacBinary(MakeJpegWithIptc(datasets))},
      {"be_long.tif", MakeTiffWithIptc(datasets)},
      {"le_undefined.tif",
       MakeTiffWithIptc(datasets, {.big_endian = false, .iptc_type = TiffIptcType::kUndefined})},
      {"plain.eps", MakeEpsWithIptc(datasets)},
      {"dos.eps", MakeEpsWithIptc(datasets, {.dos_binary = true})},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(dir_.WriteFile(s.name, s.bytes));
    std::string path = dir_.Path(s.name);
    EXPECT_EQ(ExiftoolDatasets(path), expected);
    EXPECT_EQ(RecordDatasets(ReadWithVantrel(path)), expected);
  }
}

}  // namespace
}  // namespace vantrel
