#include "support/metadata_fuzz_drivers.h"

#include <cstdint>

#include "metadata/caption_record.h"
#include "metadata/eps_reader.h"
#include "metadata/iim_codec.h"
#include "metadata/image_data_view.h"
#include "metadata/image_info_trailer.h"
#include "metadata/photoshop_reader.h"
#include "metadata/photoshop_resources.h"
#include "metadata/tiff_reader.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kSeedCaption = {
    {2, 120, "Seed caption"}, {2, 25, "one"}, {2, 25, "two"}, {2, 105, "Headline"}};

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
  (void)ReadTiffCaption(data, "", r);
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

const std::vector<MetadataFuzzTarget>& MetadataFuzzTargets() {
  static const std::vector<MetadataFuzzTarget> targets = {
      {"iim_walk_fuzz", &FuzzIimWalks},
      {"record_run_fuzz", &FuzzLocateRecordRun},
      {"install_iptc_fuzz", &FuzzInstallIptcBlock},
      {"photoshop_reader_fuzz", &FuzzPhotoshopReader},
      {"eps_reader_fuzz", &FuzzEpsReader},
      {"tiff_reader_fuzz", &FuzzTiffReader},
      {"trailer_reader_fuzz", &FuzzTrailerReader},
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
  }
  return seeds;
}

}  // namespace vantrel
