#include "support/image_builders.h"

#include <zlib.h>

#include <algorithm>

namespace vantrel {
namespace {

void Put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
  s.push_back(static_cast<char>(v & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void Put16Le(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32Le(std::string& s, uint32_t v) {
  for (int shift = 0; shift <= 24; shift += 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

std::string Segment(uint8_t marker, std::string_view payload) {
  std::string s;
  s.push_back(static_cast<char>(0xFF));
  s.push_back(static_cast<char>(marker));
  Put16(s, static_cast<uint32_t>(payload.size() + 2));
  s.append(payload);
  return s;
}

// The tables, frame, scan and entropy data of an 8x8 mid-grey image: every
// coefficient is zero, so one DC code (category 0) and one AC code (end of
// block) suffice.
std::string JpegBody() {
  std::string s;
  std::string dqt(1, '\0');
  dqt.append(64, '\x01');
  s += Segment(0xDB, dqt);
  std::string sof;
  sof.push_back(8);  // precision
  Put16(sof, 8);     // height
  Put16(sof, 8);     // width
  sof.push_back(1);  // components
  sof.push_back(1);
  sof.push_back(0x11);
  sof.push_back(0);
  s += Segment(0xC0, sof);
  for (uint8_t table_class : {0x00, 0x10}) {
    std::string dht(1, static_cast<char>(table_class));
    std::string counts(16, '\0');
    counts[0] = 1;  // one code of length 1 ...
    dht += counts;
    dht.push_back(0);  // ... for symbol 0 (DC category 0 / AC end of block)
    s += Segment(0xC4, dht);
  }
  std::string sos = {1, 1, 0, 0, 63, 0};
  s += Segment(0xDA, sos);
  s.push_back(0x3F);  // DC "0", EOB "0", padded with one bits
  s.push_back(static_cast<char>(0xFF));
  s.push_back(static_cast<char>(0xD9));
  return s;
}

std::string Jfif() {
  std::string p("JFIF\0", 5);
  p += std::string("\x01\x01\x01\x00\x48\x00\x48\x00\x00", 9);
  return Segment(0xE0, p);
}

std::string App13Header(App13Identifier id) {
  switch (id) {
    case App13Identifier::kPhotoshop3:
      return std::string("Photoshop 3.0\0", 14);
    case App13Identifier::kPhotoshop25:
      return std::string("Adobe_Photoshop2.5:\0", 20) + std::string(7, '\0');
    case App13Identifier::kForeign:
      return std::string("Foreign 1.0\0\0\0", 14);
  }
  return {};
}

std::string AssembleJpeg(std::string_view app13s, size_t min_size, bool jfif) {
  std::string s("\xFF\xD8", 2);
  if (jfif) s += Jfif();
  s.append(app13s);
  std::string body = JpegBody();
  size_t have = s.size() + body.size();
  if (min_size > have) {
    size_t pad = std::max<size_t>(min_size - have, 5) - 4;
    std::string comment = "Vantrel test image ";
    while (comment.size() < pad) comment += "padding ";
    comment.resize(pad);
    s += Segment(0xFE, comment);
  }
  s += body;
  return s;
}

}  // namespace

std::string MakeIptcBlock(const std::vector<IptcDataset>& datasets, bool record_version) {
  std::string s;
  if (record_version && (datasets.empty() || datasets[0].record != 2 || datasets[0].number != 0)) {
    s += std::string("\x1C\x02\x00\x00\x02\x00\x02", 7);
  }
  for (const IptcDataset& d : datasets) {
    s.push_back(0x1C);
    s.push_back(static_cast<char>(d.record));
    s.push_back(static_cast<char>(d.number));
    Put16(s, static_cast<uint32_t>(std::min<size_t>(d.value.size(), 32767)));
    s.append(d.value, 0, std::min<size_t>(d.value.size(), 32767));
  }
  return s;
}

std::string MakeExtendedDataset(int record, int number, std::string_view value, int length_bytes) {
  std::string s;
  s.push_back(0x1C);
  s.push_back(static_cast<char>(record));
  s.push_back(static_cast<char>(number));
  Put16(s, 0x8000u | static_cast<uint32_t>(length_bytes));
  for (int k = length_bytes - 1; k >= 0; --k) {
    s.push_back(k >= 8 ? 0 : static_cast<char>((uint64_t{value.size()} >> (8 * k)) & 0xFF));
  }
  s.append(value);
  return s;
}

std::string MakePhotoshopResource(uint16_t id, std::string_view data) {
  std::string r("8BIM");
  Put16(r, id);
  Put16(r, 0);
  Put32(r, static_cast<uint32_t>(data.size()));
  r.append(data);
  if (data.size() & 1) r.push_back(0);
  return r;
}

std::string MakeIptcResources(std::string_view iptc, std::string_view resources_before) {
  return std::string(resources_before) + MakePhotoshopResource(0x0404, iptc);
}

std::string MakeJpeg(size_t min_size) { return AssembleJpeg({}, min_size, true); }

std::string MakeJpegWithResources(std::string_view resources, const JpegOptions& options) {
  std::string header = App13Header(options.identifier);
  const size_t max_chunk = 65533 - header.size();
  size_t segments = static_cast<size_t>(std::max(1, options.segments));
  size_t chunk = std::max<size_t>(1, (resources.size() + segments - 1) / segments);
  chunk = std::min(chunk, max_chunk);
  std::string app13s;
  size_t pos = 0;
  do {
    std::string_view part = resources.substr(pos, chunk);
    app13s += Segment(0xED, header + std::string(part));
    pos += part.size();
  } while (pos < resources.size());
  return AssembleJpeg(app13s, options.min_size, options.jfif);
}

std::string MakeJpegWithIptc(const std::vector<IptcDataset>& datasets, const JpegOptions& options) {
  return MakeJpegWithResources(MakeIptcResources(MakeIptcBlock(datasets), options.resources_before),
                               options);
}

std::string WrapMacBinary(std::string_view data, std::string_view name, std::string_view type,
                          std::string_view creator) {
  std::string h(128, '\0');
  size_t n = std::min<size_t>(name.size(), 63);
  h[1] = static_cast<char>(n);
  h.replace(2, n, name.substr(0, n));
  h.replace(
      65, 4,
      std::string(type.substr(0, 4)) + std::string(4 - std::min<size_t>(4, type.size()), ' '));
  h.replace(69, 4,
            std::string(creator.substr(0, 4)) +
                std::string(4 - std::min<size_t>(4, creator.size()), ' '));
  std::string len;
  Put32(len, static_cast<uint32_t>(data.size()));
  h.replace(83, 4, len);
  std::string out = h + std::string(data);
  out.append((128 - out.size() % 128) % 128, '\0');
  return out;
}

std::string MakeTiffWithIptcBytes(std::string_view iptc, const TiffOptions& o) {
  const bool be = o.big_endian;
  auto p16 = [be](std::string& s, uint32_t v) { be ? Put16(s, v) : Put16Le(s, v); };
  auto p32 = [be](std::string& s, uint32_t v) { be ? Put32(s, v) : Put32Le(s, v); };
  const bool with_iptc = o.iptc_type != TiffIptcType::kNone;
  std::string payload(iptc);
  if (o.iptc_type == TiffIptcType::kLong) payload.append((4 - payload.size() % 4) % 4, '\0');
  const uint32_t entries = with_iptc ? 13 : 12;
  const uint32_t ifd = 8;
  const uint32_t xres = ifd + 2 + 12 * entries + 4;
  const uint32_t yres = xres + 8;
  const uint32_t iptc_at = yres + 8;
  const uint32_t pixels = iptc_at + static_cast<uint32_t>(payload.size() + (payload.size() & 1));

  std::string s = be ? "MM" : "II";
  p16(s, 42);
  p32(s, ifd);
  p16(s, entries);
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    p16(s, tag);
    p16(s, type);
    p32(s, count);
    if (type == 3 && count == 1) {  // SHORT, left-justified
      p16(s, value);
      p16(s, 0);
    } else {
      p32(s, value);
    }
  };
  entry(254, 4, 1, 0);       // NewSubfileType
  entry(256, 3, 1, 8);       // ImageWidth
  entry(257, 3, 1, 8);       // ImageLength
  entry(258, 3, 1, 8);       // BitsPerSample
  entry(259, 3, 1, 1);       // Compression: none
  entry(262, 3, 1, 1);       // PhotometricInterpretation: BlackIsZero
  entry(273, 4, 1, pixels);  // StripOffsets
  entry(277, 3, 1, 1);       // SamplesPerPixel
  entry(278, 3, 1, 8);       // RowsPerStrip
  entry(279, 4, 1, 64);      // StripByteCounts
  entry(282, 5, 1, xres);    // XResolution
  entry(283, 5, 1, yres);    // YResolution
  if (with_iptc) {
    if (o.iptc_type == TiffIptcType::kLong) {
      entry(33723, 4, static_cast<uint32_t>(payload.size() / 4), iptc_at);
    } else {
      entry(33723, 7, static_cast<uint32_t>(payload.size()), iptc_at);
    }
  }
  p32(s, 0);  // no next directory
  p32(s, 72);
  p32(s, 1);
  p32(s, 72);
  p32(s, 1);
  s += payload;
  if (payload.size() & 1) s.push_back(0);
  for (int i = 0; i < 64; ++i) s.push_back(static_cast<char>(i * 4));
  return s;
}

std::string MakeTiffWithIptc(const std::vector<IptcDataset>& datasets, const TiffOptions& options) {
  return MakeTiffWithIptcBytes(MakeIptcBlock(datasets), options);
}

std::string MakeEpsWithResources(std::string_view resources, const EpsOptions& o) {
  const std::string& nl = o.line_end;
  const char* digits = o.lowercase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string ps = "%!PS-Adobe-3.0 EPSF-3.0" + nl + "%%Creator: Vantrel image builder" + nl +
                   "%%BoundingBox: 0 0 8 8" + nl + "%%EndComments" + nl;
  ps += "%BeginPhotoshop: " + std::to_string(resources.size()) + nl;
  size_t line_bytes = std::max<size_t>(1, o.line_bytes);
  for (size_t pos = 0; pos < resources.size(); pos += line_bytes) {
    std::string hex;
    for (unsigned char c : resources.substr(pos, line_bytes)) {
      hex.push_back(digits[c >> 4]);
      hex.push_back(digits[c & 15]);
    }
    size_t piece = o.split_at > 0 ? o.split_at : hex.size();
    for (size_t k = 0; k < hex.size(); k += piece) ps += "% " + hex.substr(k, piece) + nl;
  }
  if (o.end_line) ps += "%EndPhotoshop" + nl;
  ps += "newpath 0 0 moveto 8 0 lineto 8 8 lineto 0 8 lineto closepath" + nl + "0.5 setgray fill" +
        nl + "showpage" + nl + "%%EOF" + nl;
  if (!o.dos_binary) return ps;
  std::string h("\xC5\xD0\xD3\xC6", 4);
  const uint32_t header = 30;
  Put32Le(h, header + static_cast<uint32_t>(o.preview_before));  // PostScript offset
  Put32Le(h, static_cast<uint32_t>(ps.size()));
  Put32Le(h, 0);  // WMF
  Put32Le(h, 0);
  Put32Le(h, o.preview_before ? header : 0);  // TIFF preview
  Put32Le(h, static_cast<uint32_t>(o.preview_before));
  Put16Le(h, 0xFFFF);
  h.append(o.preview_before, '\0');
  return h + ps;
}

std::string MakeEpsWithIptc(const std::vector<IptcDataset>& datasets, const EpsOptions& options) {
  return MakeEpsWithResources(MakeIptcResources(MakeIptcBlock(datasets)), options);
}

std::string MakeTrailerBlock(uint16_t tag, std::string_view data) {
  std::string s(data);
  Put16(s, tag);
  Put32(s, static_cast<uint32_t>(data.size() + 10));
  Put32(s, 0xA1B2C3D4);
  return s;
}

std::string AppendTrailer(std::string_view file, const std::vector<TrailerBlockPlan>& blocks) {
  std::string s(file);
  for (const TrailerBlockPlan& b : blocks) s += MakeTrailerBlock(b.tag, b.data);
  return s;
}

std::string MakeImageInfoBlock(uint32_t width, uint32_t height, uint32_t channels,
                               int32_t resolution_milli, bool extra) {
  std::string s;
  Put32(s, width);
  Put32(s, height);
  Put32(s, channels);
  Put32(s, static_cast<uint32_t>(resolution_milli));
  Put32(s, 10000);
  if (extra) {
    Put32(s, 0x11222211);
    for (uint32_t v : {1000u, 2000u, 100000u, 100000u}) Put32(s, v);
  } else {
    Put32(s, 0);
  }
  return s;
}

std::string AppendAxsMarkers(std::string_view file, std::string_view iptc, size_t tail) {
  std::string s(file);
  uint32_t iptc_at = static_cast<uint32_t>(s.size());
  s.append(iptc);
  uint32_t start = static_cast<uint32_t>(s.size());
  s += "AXS!";
  s += "IPTC";
  Put32(s, static_cast<uint32_t>(iptc.size()));
  Put32(s, iptc_at);
  s += "AXS!";
  Put32(s, start);
  s.append(tail, '\0');
  return s;
}

namespace {

// One directory entry of a big- or little-endian TIFF.
struct TiffWriter {
  bool big;
  void U16(std::string& s, uint32_t v) const { big ? Put16(s, v) : Put16Le(s, v); }
  void U32(std::string& s, uint32_t v) const { big ? Put32(s, v) : Put32Le(s, v); }
  void Entry(std::string& s, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) const {
    U16(s, tag);
    U16(s, type);
    U32(s, count);
    if (type == 3 && count == 1) {
      U16(s, value);
      U16(s, 0);
    } else {
      U32(s, value);
    }
  }
};

}  // namespace

std::string MakeExifTiff(const ExifPlan& plan) {
  const TiffWriter w{plan.big_endian};
  struct E {
    uint16_t tag, type;
    uint32_t count, value;
  };
  std::vector<E> ifd0;
  if (plan.width != 0) ifd0.push_back({256, 4, 1, plan.width});
  if (plan.height != 0) ifd0.push_back({257, 4, 1, plan.height});
  if (plan.samples != 0) ifd0.push_back({277, 3, 1, plan.samples});
  const bool resolution = plan.x_resolution != 0;
  if (resolution) ifd0.push_back({282, 5, 1, 0});  // offset patched below
  if (plan.resolution_unit != 0) ifd0.push_back({296, 3, 1, plan.resolution_unit});
  const bool exif = !plan.date_original.empty();
  if (exif) ifd0.push_back({34665, 4, 1, 0});
  // Layout: header 8, IFD0, rational, EXIF IFD, date text.
  const uint32_t ifd0_size = static_cast<uint32_t>(2 + ifd0.size() * 12 + 4);
  const uint32_t rational_at = 8 + ifd0_size;
  const uint32_t exif_at = rational_at + (resolution ? 8 : 0);
  const uint32_t date_at = exif_at + 2 + 12 + 4;
  for (E& e : ifd0) {
    if (e.tag == 282) e.value = rational_at;
    if (e.tag == 34665) e.value = exif_at;
  }
  std::string s = plan.big_endian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  w.U32(s, 8);
  w.U16(s, static_cast<uint32_t>(ifd0.size()));
  for (const E& e : ifd0) w.Entry(s, e.tag, e.type, e.count, e.value);
  w.U32(s, 0);
  if (resolution) {
    w.U32(s, plan.x_resolution);
    w.U32(s, 1);
  }
  if (exif) {
    w.U16(s, 1);
    w.Entry(s, 36867, 2, static_cast<uint32_t>(plan.date_original.size() + 1), date_at);
    w.U32(s, 0);
    s += plan.date_original;
    s.push_back('\0');
  }
  return s;
}

std::string MakeJpegWithExif(std::string_view exif, uint16_t jfif_dpi) {
  std::string s("\xFF\xD8", 2);
  std::string jfif("JFIF\0\x01\x01", 7);
  jfif.push_back(jfif_dpi != 0 ? 1 : 0);
  Put16(jfif, jfif_dpi != 0 ? jfif_dpi : 1);
  Put16(jfif, jfif_dpi != 0 ? jfif_dpi : 1);
  jfif += std::string(2, '\0');
  s += Segment(0xE0, jfif);
  s += Segment(0xE1, std::string("Exif\0\0", 6) + std::string(exif));
  s += JpegBody();
  return s;
}

std::string MakePngChunk(std::string_view type, std::string_view data, const uint32_t* crc) {
  std::string s;
  Put32(s, static_cast<uint32_t>(data.size()));
  std::string body(type);
  body += data;
  s += body;
  Put32(s, crc != nullptr ? *crc
                          : static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                        static_cast<uInt>(body.size()))));
  return s;
}

namespace {

std::string Deflate(std::string_view data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
           static_cast<uLong>(data.size()));
  out.resize(size);
  return out;
}

}  // namespace

std::string MakePng(const PngPlan& plan) {
  std::string s("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Put32(header, plan.width);
  Put32(header, plan.height);
  header += static_cast<char>(8);
  header += static_cast<char>(plan.colour_type);
  header += std::string(3, '\0');
  s += MakePngChunk("IHDR", header);
  for (const std::string& chunk : plan.chunks) s += chunk;
  const size_t per_pixel = plan.colour_type == 2 ? 3 : plan.colour_type == 6 ? 4 : plan.colour_type == 4 ? 2 : 1;
  std::string row(1 + plan.width * per_pixel, '\x40');
  row[0] = 0;  // filter type none
  std::string pixels;
  for (uint32_t y = 0; y < plan.height; ++y) pixels += row;
  s += MakePngChunk("IDAT", Deflate(pixels));
  s += MakePngChunk("IEND", "");
  return s;
}

std::string MakePngIptcChunk(std::string_view iim) {
  const std::string resources = MakeIptcResources(iim);
  static const char kHex[] = "0123456789abcdef";
  std::string text = "\nIPTC profile\n" + std::string(6, ' ') + std::to_string(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    if (i % 36 == 0) text += '\n';
    text += kHex[static_cast<uint8_t>(resources[i]) >> 4];
    text += kHex[static_cast<uint8_t>(resources[i]) & 15];
  }
  text += '\n';
  return MakePngChunk("zTXt", std::string("Raw profile type iptc\0\0", 23) + Deflate(text));
}

std::string MakeWebpChunk(std::string_view type, std::string_view data) {
  std::string s(type);
  Put32Le(s, static_cast<uint32_t>(data.size()));
  s += data;
  if (data.size() % 2 != 0) s.push_back('\0');
  return s;
}

std::string MakeWebp(const std::vector<std::string>& chunks) {
  std::string body = "WEBP";
  for (const std::string& c : chunks) body += c;
  std::string s = "RIFF";
  Put32Le(s, static_cast<uint32_t>(body.size()));
  return s + body;
}

std::string MakeWebpLossyChunk(uint32_t width, uint32_t height) {
  std::string d("\x50\x01\x00\x9D\x01\x2A", 6);  // key frame tag, start code
  Put16Le(d, width & 0x3FFF);
  Put16Le(d, height & 0x3FFF);
  d += std::string(8, '\0');
  return MakeWebpChunk("VP8 ", d);
}

std::string MakeWebpLosslessChunk(uint32_t width, uint32_t height) {
  std::string d(1, '\x2F');
  Put32Le(d, ((width - 1) & 0x3FFF) | (((height - 1) & 0x3FFF) << 14));
  d += std::string(4, '\0');
  return MakeWebpChunk("VP8L", d);
}

std::string MakeWebpCanvasChunk(uint32_t width, uint32_t height, uint8_t flags) {
  std::string d(1, static_cast<char>(flags));
  d += std::string(3, '\0');
  for (uint32_t v : {width - 1, height - 1}) {
    d.push_back(static_cast<char>(v & 0xFF));
    d.push_back(static_cast<char>((v >> 8) & 0xFF));
    d.push_back(static_cast<char>((v >> 16) & 0xFF));
  }
  return MakeWebpChunk("VP8X", d);
}

}  // namespace vantrel
