// Builders of image files with captions, for tests, fuzz seeds, benchmarks
// and the demo's sample images. Every builder returns the file's bytes.
//
// The JPEG body is a real 8x8 baseline JPEG (one grey block), so viewers and
// exiftool accept the files; the TIFF is a real 8x8 uncompressed greyscale
// image.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// One IIM dataset; the server keeps record 2 (the application record).
struct IptcDataset {
  int record = 2;
  int number = 0;
  std::string value = {};
};

// Concatenation of the datasets with standard lengths. With
// `record_version`, the 2:00 dataset (00 02) goes first unless the list
// already starts with it.
std::string MakeIptcBlock(const std::vector<IptcDataset>& datasets, bool record_version = true);

// One dataset with an extended length of `length_bytes` bytes.
std::string MakeExtendedDataset(int record, int number, std::string_view value,
                                int length_bytes = 4);

// One Photoshop image resource ("8BIM", id, empty name, size, data, pad).
std::string MakePhotoshopResource(uint16_t id, std::string_view data);
// The resource block holding `iptc` as resource 0x0404, optionally behind
// other resources.
std::string MakeIptcResources(std::string_view iptc, std::string_view resources_before = {});

// ---- JPEG ----
enum class App13Identifier {
  kPhotoshop3,   // "Photoshop 3.0" NUL, 14 header bytes
  kPhotoshop25,  // "Adobe_Photoshop2.5:" NUL, 27 header bytes
  kForeign,      // an identifier the readers do not know
};

struct JpegOptions {
  App13Identifier identifier = App13Identifier::kPhotoshop3;
  // The resource bytes are split over this many consecutive APP13 segments.
  int segments = 1;
  // Other resources in front of the 0x0404 resource.
  std::string resources_before = {};
  // A COM segment pads the file to at least this size (the APP13 reader
  // ignores JPEG data below 1000 bytes). 0: no padding.
  size_t min_size = 1100;
  // Put a JFIF APP0 segment first (the APP13 segments follow it).
  bool jfif = true;
};

// An 8x8 baseline JPEG without any APP13 segment.
std::string MakeJpeg(size_t min_size = 1100);
// A JPEG whose APP13 segments carry `resources` (raw resource bytes).
std::string MakeJpegWithResources(std::string_view resources, const JpegOptions& options = {});
// A JPEG whose APP13 segments carry the datasets as resource 0x0404.
std::string MakeJpegWithIptc(const std::vector<IptcDataset>& datasets,
                             const JpegOptions& options = {});

// The file behind a 128-byte MacBinary header (name, type, creator,
// data fork length), padded to a multiple of 128 bytes.
std::string WrapMacBinary(std::string_view data, std::string_view name = "image.jpg",
                          std::string_view type = "JPEG", std::string_view creator = "8BIM");

// ---- TIFF ----
enum class TiffIptcType { kLong, kUndefined, kNone };

struct TiffOptions {
  bool big_endian = true;
  TiffIptcType iptc_type = TiffIptcType::kLong;
};

// An 8x8 greyscale TIFF; tag 33723 carries the datasets (kNone: no tag).
std::string MakeTiffWithIptc(const std::vector<IptcDataset>& datasets,
                             const TiffOptions& options = {});
// The same with raw bytes for tag 33723 (padded to 4 bytes for LONG).
std::string MakeTiffWithIptcBytes(std::string_view iptc, const TiffOptions& options = {});

// ---- EPS ----
struct EpsOptions {
  // Decoded bytes per hexadecimal line; `split_at` > 0 additionally breaks
  // every line after that many hexadecimal digits (odd values split a byte).
  size_t line_bytes = 32;
  size_t split_at = 0;
  bool lowercase = false;
  bool end_line = true;         // write the "%EndPhotoshop" line
  std::string line_end = "\n";  // "\n", "\r", "\r\n" or "\n\r"
  bool dos_binary = false;      // wrap in a DOS EPS binary header
  // DOS EPS: bytes of preview placed in front of the PostScript section, so
  // that it starts in the second half of the file when large.
  size_t preview_before = 0;
};

// An EPS file whose "%BeginPhotoshop" section holds `resources`.
std::string MakeEpsWithResources(std::string_view resources, const EpsOptions& options = {});
// An EPS file with the datasets as resource 0x0404.
std::string MakeEpsWithIptc(const std::vector<IptcDataset>& datasets,
                            const EpsOptions& options = {});

// ---- image-info trailer ----
struct TrailerBlockPlan {
  uint16_t tag = 1;
  std::string data = {};
};

// One block: data, then the 10-byte footer (tag, length + 10, A1 B2 C3 D4).
std::string MakeTrailerBlock(uint16_t tag, std::string_view data);
// `file` followed by the blocks in order (the last one ends the file).
std::string AppendTrailer(std::string_view file, const std::vector<TrailerBlockPlan>& blocks);
// The image-info block data (tag 2): width, height, channels, resolution in
// thousandths of a dpi, a value in hundredths, and with `extra` the word
// 0x11222211 and four more values.
std::string MakeImageInfoBlock(uint32_t width, uint32_t height, uint32_t channels,
                               int32_t resolution_milli, bool extra = false);
// `file` followed by the IPTC data and the two "AXS!" markers: the start
// marker, "IPTC", the data length and its absolute offset, then the end
// marker with the start marker's offset (and `tail` bytes behind it).
std::string AppendAxsMarkers(std::string_view file, std::string_view iptc, size_t tail = 8);

// ---- EXIF, PNG, WebP ----
struct ExifPlan {
  bool big_endian = true;
  uint32_t width = 0;   // tags 256/257 when not 0
  uint32_t height = 0;
  uint32_t samples = 0;  // tag 277 when not 0
  uint32_t x_resolution = 0;  // tag 282 as x_resolution/1 when not 0
  uint16_t resolution_unit = 0;  // tag 296 when not 0
  std::string date_original = {};  // EXIF tag 36867 when not empty
};
// TIFF-form EXIF data (what follows "Exif\0\0" in APP1): the first
// directory, and an EXIF directory when a date is planned.
std::string MakeExifTiff(const ExifPlan& plan);
// A JPEG (8x8 grey, JFIF without density when `jfif_dpi` is 0) with an
// APP1 EXIF segment of `exif` in front of the frame.
std::string MakeJpegWithExif(std::string_view exif, uint16_t jfif_dpi = 0);

// One PNG chunk: length, type, data and the CRC (or `crc` when given).
std::string MakePngChunk(std::string_view type, std::string_view data,
                         const uint32_t* crc = nullptr);
struct PngPlan {
  uint32_t width = 4;
  uint32_t height = 3;
  uint8_t colour_type = 2;  // RGB
  std::vector<std::string> chunks = {};  // whole chunks between IHDR and IDAT
};
// A PNG of solid pixels (8 bits per sample) with the planned chunks.
std::string MakePng(const PngPlan& plan = {});
// The zTXt chunk "Raw profile type iptc" with `iim` as exiftool writes it
// (Photoshop resources as hexadecimal text, compressed).
std::string MakePngIptcChunk(std::string_view iim);

// One RIFF chunk (type, size, data, pad byte) and a WebP file of chunks.
std::string MakeWebpChunk(std::string_view type, std::string_view data);
std::string MakeWebp(const std::vector<std::string>& chunks);
// The image chunks of WebP pictures of the given size: lossy key frame,
// lossless, and the extended-format header.
std::string MakeWebpLossyChunk(uint32_t width, uint32_t height);
std::string MakeWebpLosslessChunk(uint32_t width, uint32_t height);
std::string MakeWebpCanvasChunk(uint32_t width, uint32_t height, uint8_t flags = 0);

}  // namespace vantrel
