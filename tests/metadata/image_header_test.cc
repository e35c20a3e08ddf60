// Pixel size, resolution, colour and capture date from picture headers, and
// the PNG and WebP chunk readers behind them: the formats one table, hostile
// bytes another, and files that exiftool and exiv2 wrote.
#include "metadata/image_header.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "metadata/exif_reader.h"
#include "metadata/png_chunks.h"
#include "metadata/webp_chunks.h"
#include "support/external_tools.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string Bytes(const char* text, size_t n) { return std::string(text, n); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The 8x8 JPEG with `count` comment segments of 60,000 bytes in front.
std::string JpegWithComments(int count) {
  std::string s("\xFF\xD8", 2);
  for (int i = 0; i < count; ++i) s += Bytes("\xFF\xFE\xEA\x62", 4) + std::string(60000, 'c');
  return s + MakeJpeg().substr(2);
}

std::string PhysicalChunk(uint32_t pixels_per_metre) {
  std::string d;
  for (int i = 0; i < 2; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<char>(pixels_per_metre >> shift));
  }
  d.push_back(1);
  return MakePngChunk("pHYs", d);
}

std::string Eps(const std::string& comments) {
  return "%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: test\n" + comments + "%%EndComments\n";
}

struct FormatCase {
  const char* name;
  std::string bytes;
  HeaderFormat format;
  uint32_t width, height, channels;
  int32_t resolution_milli;
  const char* capture_date;
};

TEST(ImageHeaderTest, SizeResolutionColourAndDateOfEachFormat) {
  const std::string date = "2019:05:04 10:11:12";
  const FormatCase cases[] = {
      {"JPEG, JFIF 72 dpi", MakeJpeg(), HeaderFormat::kJpeg, 8, 8, 1, 72000, ""},
      {"JPEG, EXIF inch", MakeJpegWithExif(MakeExifTiff({.x_resolution = 300, .resolution_unit = 2, .date_original = date})),
       HeaderFormat::kJpeg, 8, 8, 1, 300000, "20190504"},
      {"JPEG, EXIF cm, little-endian",
       MakeJpegWithExif(MakeExifTiff({.big_endian = false, .x_resolution = 118, .resolution_unit = 3})),
       HeaderFormat::kJpeg, 8, 8, 1, 299720, ""},
      {"JPEG, JFIF before EXIF", MakeJpegWithExif(MakeExifTiff({.x_resolution = 300}), 200),
       HeaderFormat::kJpeg, 8, 8, 1, 200000, ""},
      {"TIFF RGB", MakeExifTiff({.big_endian = false, .width = 640, .height = 480, .samples = 3, .x_resolution = 300, .date_original = date}),
       HeaderFormat::kTiff, 640, 480, 3, 300000, "20190504"},
      {"TIFF CMYK", MakeExifTiff({.width = 100, .height = 2000, .samples = 4}), HeaderFormat::kTiff, 100, 2000, 4, 0, ""},
      {"TIFF without samples", MakeTiffWithIptc({}, {true, TiffIptcType::kNone}), HeaderFormat::kTiff, 8, 8, 1, 72000, ""},
      {"PNG RGB, pHYs", MakePng({.width = 4, .height = 3, .chunks = {PhysicalChunk(11811)}}),
       HeaderFormat::kPng, 4, 3, 3, 299999, ""},
      {"PNG grey and alpha, eXIf", MakePng({.width = 5, .height = 9, .colour_type = 4, .chunks = {MakePngChunk("eXIf", MakeExifTiff({.x_resolution = 150, .date_original = date}))}}),
       HeaderFormat::kPng, 5, 9, 1, 150000, "20190504"},
      {"PNG palette", MakePng({.colour_type = 3}), HeaderFormat::kPng, 4, 3, 3, 0, ""},
      {"WebP lossy", MakeWebp({MakeWebpLossyChunk(640, 480)}), HeaderFormat::kWebp, 640, 480, 3, 0, ""},
      {"WebP lossless", MakeWebp({MakeWebpLosslessChunk(33, 17)}), HeaderFormat::kWebp, 33, 17, 3, 0, ""},
      {"WebP extended, EXIF behind the image",
       MakeWebp({MakeWebpCanvasChunk(1000, 750, 0x08), MakeWebpLossyChunk(1000, 750),
                 MakeWebpChunk("EXIF", Bytes("Exif\0\0", 6) + MakeExifTiff({.x_resolution = 96, .date_original = date}))}),
       HeaderFormat::kWebp, 1000, 750, 3, 96000, "20190504"},
      {"EPS, image data and box", Eps("%%BoundingBox: 0 0 384 288\n%ImageData: 1600 1200 8 4 0 1600 2 \"beginimage\"\n"),
       HeaderFormat::kEps, 1600, 1200, 4, 300000, ""},
      {"EPS, box alone", Eps("%%HiResBoundingBox: 0 0 1 1\n%%BoundingBox: 10 20 605 862\n"), HeaderFormat::kEps, 595, 842, 0, 72000, ""},
      {"EPS, Lab", Eps("%ImageData: 300 200 8 2 0 300 2 \"x\"\n"), HeaderFormat::kEps, 300, 200, 3, 0, ""},
      {"unknown", "GIF89a and more", HeaderFormat::kNone, 0, 0, 0, 0, ""},
  };
  for (const FormatCase& c : cases) {
    const ImageHeaderFacts f = ReadImageHeader(c.bytes);
    EXPECT_EQ(f.format, c.format) << c.name;
    EXPECT_EQ(f.has_size, c.width > 0) << c.name;
    EXPECT_EQ(f.info.width, c.width) << c.name;
    EXPECT_EQ(f.info.height, c.height) << c.name;
    EXPECT_EQ(f.info.channels, c.channels) << c.name;
    EXPECT_EQ(f.info.resolution_milli, c.resolution_milli) << c.name;
    EXPECT_EQ(f.capture_date, c.capture_date) << c.name;
    EXPECT_EQ(f.wanted, 0u) << c.name;
    // Every cut of the file reads without fault and never claims more.
    for (size_t n = 0; n < c.bytes.size(); n += 1 + n / 8) {
      const ImageHeaderFacts cut = ReadImageHeader(std::string_view(c.bytes).substr(0, n));
      EXPECT_LE(cut.info.width, c.width) << c.name << " cut at " << n;
    }
  }
}

TEST(ImageHeaderTest, DosEpsWrapperLeadsToThePostScript) {
  const std::string ps = Eps("%%BoundingBox: 0 0 72 36\n");
  std::string file = Bytes("\xC5\xD0\xD3\xC6", 4);
  const uint32_t offset = 30 + 100, length = static_cast<uint32_t>(ps.size());
  for (uint32_t v : {offset, length}) {
    for (int shift = 0; shift < 32; shift += 8) file.push_back(static_cast<char>(v >> shift));
  }
  file.resize(offset, '\0');
  file += ps;
  const ImageHeaderFacts f = ReadImageHeader(file);
  EXPECT_EQ(f.info.width, 72u);
  EXPECT_EQ(f.info.height, 36u);
  EXPECT_EQ(ReadImageHeader(std::string_view(file).substr(0, 50)).wanted, offset + length);
}

TEST(ImageHeaderTest, HostileLengthsOffsetsAndChecksums) {
  std::string tiff = MakeExifTiff({.width = 640, .height = 480, .x_resolution = 300, .date_original = "2019:05:04"});
  // The first directory beyond the data: nothing, and the whole file is asked for.
  std::string far = tiff;
  far[7] = static_cast<char>(0xF0);
  EXPECT_FALSE(ReadImageHeader(far).has_size);
  EXPECT_EQ(ReadImageHeader(far).wanted, kWholeFile);
  // A directory claiming 65,535 entries ends at the data's end.
  std::string many = tiff;
  many[8] = many[9] = static_cast<char>(0xFF);
  EXPECT_FALSE(ReadImageHeader(many).has_size);
  // The EXIF directory pointing back at the first one is not walked again,
  // and a resolution whose value lies outside the data is left out.
  std::string self = MakeExifTiff({.width = 1, .height = 1, .date_original = "2019:05:04 00:00:00"});
  const size_t pointer = self.find(Bytes("\x87\x69\x00\x04\x00\x00\x00\x01", 8));
  ASSERT_NE(pointer, std::string::npos);
  self[pointer + 8] = self[pointer + 9] = self[pointer + 10] = 0;
  self[pointer + 11] = 8;
  EXPECT_EQ(ReadExifFacts(self).capture_date, "");
  std::string rational = MakeExifTiff({.x_resolution = 300});
  rational[8 + 2 + 8 + 3] = static_cast<char>(0xFF);  // value offset of tag 282
  EXPECT_EQ(ReadExifFacts(rational).dpi, 0);

  // PNG: a header chunk with a wrong CRC is not taken; a chunk whose length
  // runs past the end asks for the bytes it needs.
  const uint32_t wrong = 0x12345678;
  std::string bad_crc = MakePng({.chunks = {PhysicalChunk(11811)}});
  bad_crc.replace(8, 25, MakePngChunk("IHDR", bad_crc.substr(16, 13), &wrong));
  EXPECT_FALSE(ReadImageHeader(bad_crc).has_size);
  std::string long_chunk = MakePng();
  long_chunk.replace(33, 4, Bytes("\x00\x10\x00\x00", 4));  // IDAT length 1 MiB
  const PngFacts cut = ReadPngChunks(long_chunk);
  EXPECT_TRUE(cut.has_header);
  EXPECT_EQ(cut.wanted, 33u + 12 + 0x100000);
  std::string huge = MakePng();
  huge.replace(33, 4, Bytes("\xFF\xFF\xFF\xFF", 4));
  EXPECT_EQ(ReadPngChunks(huge).wanted, 0u);

  // WebP: a chunk larger than the RIFF size ends the walk.
  std::string webp = MakeWebp({MakeWebpChunk("JUNK", std::string(10, 'x')), MakeWebpLossyChunk(64, 48)});
  webp[16] = static_cast<char>(0x7F);
  EXPECT_FALSE(ReadImageHeader(webp).has_size);

  // JPEG: a segment running past the end asks for more; length 0 and 1 end the walk.
  std::string jpeg = JpegWithComments(1);
  EXPECT_GT(ReadImageHeader(std::string_view(jpeg).substr(0, 1000)).wanted, 1000u);
  std::string zero = MakeJpeg();
  zero[4] = zero[5] = 0;
  EXPECT_FALSE(ReadImageHeader(zero).has_size);
}

TEST(ImageHeaderTest, RawIptcProfileAndInflateBounds) {
  const std::string iim = MakeIptcBlock({{2, 120, "Harbour at dawn"}});
  EXPECT_EQ(ReadPngChunks(MakePng({.chunks = {MakePngIptcChunk(iim)}})).iim, iim);
  // Bare IIM in hex, a stated count shorter than the digits, and no count.
  EXPECT_EQ(IimFromRawProfile("\niptc\n 3\n1c0278ffff\n"), Bytes("\x1c\x02\x78", 3));
  EXPECT_EQ(IimFromRawProfile("\niptc\n  \n1c02\n"), "");
  EXPECT_EQ(IimFromRawProfile("\niptc\n 99999999999\n1c02\n"), "");
  // Inflate stops at the cap; data that is not zlib gives nothing.
  std::string compressed = MakePngIptcChunk(std::string(5000, 'a'));
  compressed = compressed.substr(8 + 23, compressed.size() - 8 - 23 - 4);
  EXPECT_TRUE(InflateZlib(compressed, 1 << 20).has_value());
  EXPECT_FALSE(InflateZlib(compressed, 100).has_value());
  EXPECT_FALSE(InflateZlib("not zlib data", 1 << 20).has_value());
}

TEST(ImageHeaderTest, XmpPacketsOfPngAndWebpForTheXmpReader) {
  const std::string packet = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  const std::string itxt = MakePngChunk("iTXt", Bytes("XML:com.adobe.xmp\0\0\0\0\0", 22) + packet);
  EXPECT_EQ(PngXmpPacket(MakePng({.chunks = {itxt}})), packet);
  EXPECT_EQ(PngXmpPacket(MakePng()), std::nullopt);
  EXPECT_EQ(WebpXmpPacket(MakeWebp({MakeWebpLossyChunk(8, 8), MakeWebpChunk("XMP ", packet)})), packet);
  EXPECT_EQ(WebpXmpPacket(MakeWebp({MakeWebpLossyChunk(8, 8)})), std::nullopt);
}

TEST(ImageHeaderTest, WindowGrowsOnlyAsFarAsTheReadersAsk) {
  // 300 KB of comments in front of the frame header.
  const std::string jpeg = JpegWithComments(5);
  std::vector<size_t> reads;
  const RangeReader read = [&](uint64_t offset, size_t length, std::string* out) {
    reads.push_back(length);
    *out = jpeg.substr(static_cast<size_t>(offset), length);
    return true;
  };
  const ImageHeaderFacts f = ReadImageHeaderFromFile(read, jpeg.size());
  EXPECT_TRUE(f.has_size);
  ASSERT_GE(reads.size(), 2u);
  EXPECT_LE(reads.size(), 5u);
  EXPECT_EQ(reads[0], kHeaderFirstWindow);
  const std::string small = MakeJpeg();
  reads.clear();
  EXPECT_TRUE(ReadImageHeaderFromFile([&](uint64_t, size_t n, std::string* out) {
                reads.push_back(n);
                *out = small.substr(0, n);
                return true;
              }, small.size()).has_size);
  EXPECT_EQ(reads, std::vector<size_t>{small.size()});
  EXPECT_FALSE(ReadImageHeaderFromFile([](uint64_t, size_t, std::string*) { return false; }, 100).has_size);
}

// ---- files that other tools wrote ----

using tool_test::Installed;
using tool_test::RunCommand;

TEST(ImageHeaderInteropTest, ExiftoolWrittenDatesResolutionsAndIptc) {
  if (!Installed(tool_test::kExiftool)) GTEST_SKIP() << "exiftool is not installed";
  TempDir dir;
  const std::string iim = MakeIptcBlock({{2, 5, "x"}});
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t width;
  } cases[] = {
      {"a.jpg", MakeJpeg(), 8},
      {"a.png", MakePng({.width = 7, .height = 5}), 7},
      {"a.tif", MakeTiffWithIptc({}, {false, TiffIptcType::kNone}), 8},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(dir.WriteFile(c.name, c.bytes));
    const std::string path = dir.Path(c.name);
    EXPECT_TRUE(tool_test::RunExiftool(path, {"-EXIF:DateTimeOriginal=2018:12:31 23:59:58",
                                              "-EXIF:XResolution=240", "-EXIF:ResolutionUnit=inches",
                                              "-IPTC:Caption-Abstract=Pier"}))
        << c.name;
    const std::string written = ReadAll(path);
    const ImageHeaderFacts f = ReadImageHeader(written);
    EXPECT_EQ(f.info.width, c.width) << c.name;
    EXPECT_EQ(f.capture_date, "20181231") << c.name;
    // JPEG: the JFIF density (72 dpi) comes first.
    EXPECT_EQ(f.info.resolution_milli, std::string(c.name) == "a.jpg" ? 72000 : 240000) << c.name;
    if (std::string(c.name) == "a.png") {
      EXPECT_NE(f.iim.find("Pier"), std::string::npos) << "the raw iptc profile";
    }
  }
}

TEST(ImageHeaderInteropTest, Exiv2WrittenCaptureDate) {
  if (!Installed(tool_test::kExiv2)) GTEST_SKIP() << "exiv2 is not installed";
  TempDir dir;
  for (const char* name : {"b.jpg", "b.png"}) {
    ASSERT_TRUE(dir.WriteFile(name, std::string(name) == "b.jpg" ? MakeJpeg() : MakePng()));
    RunCommand(std::string(tool_test::kExiv2) +
               " -q -M'set Exif.Photo.DateTimeOriginal 2020:02:29 12:00:00' mo '" + dir.Path(name) +
               "' 2>&1");
    EXPECT_EQ(ReadImageHeader(ReadAll(dir.Path(name))).capture_date, "20200229") << name;
  }
}

}  // namespace
}  // namespace vantrel
