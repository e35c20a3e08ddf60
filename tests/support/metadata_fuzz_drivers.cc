#include "support/metadata_fuzz_drivers.h"

#include <cstdint>

#include "metadata/caption_record.h"
#include "metadata/eps_reader.h"
#include "metadata/exif_reader.h"
#include "metadata/iim_codec.h"
#include "metadata/image_data_view.h"
#include "metadata/image_header.h"
#include "metadata/image_info_trailer.h"
#include "metadata/photoshop_reader.h"
#include "metadata/photoshop_resources.h"
#include "metadata/png_chunks.h"
#include "metadata/tiff_reader.h"
#include "metadata/webp_chunks.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kSeedCaption = {
    {2, 120, "Seed caption"}, {2, 25, "one"}, {2, 25, "two"}, {2, 105, "Headline"}};

// Seeds of the header targets: each format whole, and the hostile shapes
// the readers must bound (directory offsets out of range, an EXIF
// directory pointing at the first one, wrong CRCs, lengths past the end).
std::vector<std::pair<std::string, std::string>> HeaderSeeds(std::string_view target) {
  const std::string exif = MakeExifTiff({.width = 640, .height = 480, .samples = 3,
                                         .x_resolution = 300, .resolution_unit = 2,
                                         .date_original = "2019:05:04 10:11:12"});
  std::string far_ifd = exif;
  far_ifd[4] = static_cast<char>(0x7F);
  std::string self_exif = exif;
  const size_t pointer = self_exif.find(std::string("\x87\x69\x00\x04", 4));
  if (pointer != std::string::npos) self_exif.replace(pointer + 8, 4, std::string("\0\0\0\x08", 4));
  const std::string png = MakePng({.width = 640,
                                   .height = 480,
                                   .chunks = {MakePngChunk("eXIf", exif),
                                              MakePngIptcChunk(MakeIptcBlock(kSeedCaption))}});
  const uint32_t wrong = 0xDEADBEEF;
  std::string bad_crc = MakePng({.chunks = {MakePngChunk("eXIf", exif, &wrong)}});
  std::string long_chunk = MakePng();
  long_chunk.replace(33, 4, std::string("\x7F\x00\x00\x00", 4));
  const std::string webp =
      MakeWebp({MakeWebpCanvasChunk(1000, 750, 0x0C), MakeWebpLossyChunk(1000, 750),
                MakeWebpChunk("EXIF", exif), MakeWebpChunk("XMP ", "<x:xmpmeta/>")});
  if (target == "png_chunks_fuzz") {
    return {{"full.png", png},
            {"bad_crc.png", bad_crc},
            {"long_chunk.png", long_chunk},
            {"full.webp", webp},
            {"lossless.webp", MakeWebp({MakeWebpLosslessChunk(33, 17)})},
            {"profile.txt", "\nIPTC profile\n      12\n1c0278000548617262\n"}};
  }
  return {{"exif.jpg", MakeJpegWithExif(exif)},
          {"jfif.jpg", MakeJpeg()},
          {"be.tif", exif},
          {"le.tif", MakeExifTiff({.big_endian = false, .width = 8, .height = 8, .x_resolution = 72})},
          {"far_ifd.tif", far_ifd},
          {"self_exif.tif", self_exif},
          {"full.png", png},
          {"full.webp", webp},
          {"image_data.eps",
           "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 384 288\n"
           "%ImageData: 1600 1200 8 4 0 1600 2 \"beginimage\"\n"}};
}

}  // namespace

void FuzzIimWalks(std::string_view data) {
  (void)WalkDatasets(data);
  (void)CountDatasets(data, 2, 25);
  char small[16];
  char big[kIimValueCut];
  for (int k = 0; k < 3; ++k) {
    (void)GetDatasetValue(data, 2, 25, k, small, sizeof(small));
    (void)GetDatasetValue(data, 2, 120, k, big, sizeof(big));
  }
  size_t len = 0, off = 0, start = 0;
  if (FindDataset(data, 2, 120, &len, &off, &start) == 1) {
    // The answer must lie inside the block.
    if (off > data.size() || len > data.size() - off || start > off) __builtin_trap();
  }
  std::string copy(data);
  RemoveEmptyDatasets(copy);
  if (copy.size() > data.size()) __builtin_trap();
}

void FuzzLocateRecordRun(std::string_view data) {
  for (int record : {1, 2}) {
    std::string copy(data);
    size_t len = 0, off = 0;
    (void)LocateRecordRun(copy, record, &len, &off);
    if (off > copy.size() || len > copy.size() - off) __builtin_trap();
  }
}

void FuzzInstallIptcBlock(std::string_view data) {
  CaptionRecord r;
  r.resources = MakeIptcResources("\x1C\x02");
  InstallIptcBlock(r, data);
  // Data without a record-2 run is kept whole (less its empty datasets), so
  // the block need not open with a tag marker; it never grows.
  if (r.iptc.size() > data.size()) __builtin_trap();
  (void)InsertDataset(r, 25, "fuzz");
  (void)InsertDataset(r, 200, "x");
  std::string text;
  (void)GetCaptionText(r, 120, &text);
  char buf[8];
  (void)GetCaptionText(r, 25, buf, sizeof(buf));
  DeleteDataset(r, 25);
  CaptionRecord s;
  s.resources.assign(data);
  (void)SetIptcBlock(s, MakeIptcBlock(kSeedCaption));
  CaptionRecord copy;
  CopyCaption(copy, r);
  FreeCaption(r);
}

void FuzzPhotoshopReader(std::string_view data) {
  CaptionRecord r;
  (void)ReadPhotoshopCaption(r, data, "");
  size_t offset = ContentOffset(data);
  if (offset > data.size()) __builtin_trap();
  (void)ReadPhotoshopCaption(r, data.substr(offset), "");
  (void)WalkResources(data);
}

void FuzzEpsReader(std::string_view data) {
  CaptionRecord r;
  (void)ReadEpsCaption(data, "", r);
}

void FuzzTiffReader(std::string_view data) {
  CaptionRecord r;
  IimCharset declared = IimCharset::kUndeclared;
  (void)ReadTiffCaption(data, "", r, &declared);
}

void FuzzTrailerReader(std::string_view data) {
  std::string_view block;
  for (uint16_t tag : {1, 2, 3}) {
    (void)SearchTrailerWindow(data, data.size(), tag, &block);
    // The same bytes as the tail of a larger file.
    (void)SearchTrailerWindow(data, data.size() + 5000, tag, &block);
  }
  TrailerWindow w;
  RangeReader read = [data](uint64_t offset, size_t length, std::string* out) {
    if (offset > data.size()) return false;
    out->assign(data.substr(static_cast<size_t>(offset), length));
    return true;
  };
  if (ReadImageInfoTrailer(read, data.size(), 1, &w)) {
    ImageInfo info;
    (void)FindImageInfo(w, &info);
    CaptionRecord r;
    InstallIptcBlock(r, w.block);
  }
  ImageInfo info;
  (void)ParseImageInfo(data, &info);
}

void FuzzImageHeader(std::string_view data) {
  (void)ReadImageHeader(data);
  (void)ReadExifFacts(data);
  // The window reader over the same bytes, each read an exact-size copy.
  (void)ReadImageHeaderFromFile(
      [data](uint64_t offset, size_t length, std::string* out) {
        if (offset > data.size()) return false;
        *out = std::string(data.substr(static_cast<size_t>(offset), length));
        return true;
      },
      data.size());
}

void FuzzPngChunks(std::string_view data) {
  (void)ReadPngChunks(data);
  (void)PngXmpPacket(data);
  (void)ReadWebpChunks(data);
  (void)WebpXmpPacket(data);
  (void)IimFromRawProfile(data);
}

const std::vector<MetadataFuzzTarget>& MetadataFuzzTargets() {
  static const std::vector<MetadataFuzzTarget> targets = {
      {"iim_walk_fuzz", &FuzzIimWalks},
      {"record_run_fuzz", &FuzzLocateRecordRun},
      {"install_iptc_fuzz", &FuzzInstallIptcBlock},
      {"photoshop_reader_fuzz", &FuzzPhotoshopReader},
      {"eps_reader_fuzz", &FuzzEpsReader},
      {"tiff_reader_fuzz", &FuzzTiffReader},
      {"trailer_reader_fuzz", &FuzzTrailerReader},
      {"image_header_fuzz", &FuzzImageHeader},
      {"png_chunks_fuzz", &FuzzPngChunks},
  };
  return targets;
}

std::vector<std::pair<std::string, std::string>> MetadataFuzzSeeds(std::string_view target) {
  const std::string iptc = MakeIptcBlock(kSeedCaption);
  std::vector<std::pair<std::string, std::string>> seeds;
  if (target == "iim_walk_fuzz" || target == "record_run_fuzz" || target == "install_iptc_fuzz") {
    std::string swapped = iptc;
    std::swap(swapped[7], swapped[8]);
    seeds = {
        {"block", iptc},
        {"envelope", MakeIptcBlock({{1, 90, "\x1B%G"}}, false) + iptc + "\xEE\xEE\xEE\xEE\xEE"},
        {"swapped", swapped},
        {"extended", MakeExtendedDataset(2, 120, "extended value") + iptc},
        {"empty_and_240", MakeIptcBlock({{2, 5, ""}, {2, 240, "x"}, {2, 120, "c"}})},
        {"placeholder", std::string(PlaceholderIptcBlock())}};
  } else if (target == "photoshop_reader_fuzz") {
    seeds = {
        {"ps3.jpg", MakeJpegWithIptc(kSeedCaption)},
        {"ps25.jpg", MakeJpegWithIptc(kSeedCaption, {.identifier = App13Identifier::kPhotoshop25})},
        {"segments.jpg", MakeJpegWithIptc(kSeedCaption, {.segments = 3})},
        {"macbinary.jpg", WrapMacBinary(MakeJpegWithIptc(kSeedCaption))}};
  } else if (target == "eps_reader_fuzz") {
    seeds = {{"plain.eps", MakeEpsWithIptc(kSeedCaption, {.line_bytes = 16})},
             {"split.eps", MakeEpsWithIptc(kSeedCaption, {.line_bytes = 16, .split_at = 7})},
             {"dos.eps", MakeEpsWithIptc(kSeedCaption, {.dos_binary = true})},
             {"dos_late.eps",
              MakeEpsWithIptc(kSeedCaption, {.dos_binary = true, .preview_before = 2000})}};
  } else if (target == "tiff_reader_fuzz") {
    seeds = {{"be_long.tif", MakeTiffWithIptc(kSeedCaption)},
             {"le_long.tif", MakeTiffWithIptc(kSeedCaption, {.big_endian = false})},
             {"be_undefined.tif",
              MakeTiffWithIptc(kSeedCaption, {.iptc_type = TiffIptcType::kUndefined})},
             {"le_undefined.tif",
              MakeTiffWithIptc(kSeedCaption,
                               {.big_endian = false, .iptc_type = TiffIptcType::kUndefined})}};
  } else if (target == "trailer_reader_fuzz") {
    seeds = {{"chain",
              AppendTrailer(
                  "", {{1, iptc}, {2, MakeImageInfoBlock(640, 480, 3, 300000, true)}, {7, "x"}})},
             {"markers", AppendAxsMarkers("", iptc)},
             {"info", AppendTrailer("", {{2, MakeImageInfoBlock(8, 8, 1, 72000)}})}};
  } else if (target == "image_header_fuzz" || target == "png_chunks_fuzz") {
    seeds = HeaderSeeds(target);
  }
  return seeds;
}

}  // namespace vantrel
