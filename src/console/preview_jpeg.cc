#include "console/preview_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace vantrel {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to the setjmp of the function that called libjpeg. Every
// object with a destructor lives outside that function (in the structures
// below, owned by its caller), so that the jump skips no destructor.
struct ErrorJump {
  jpeg_error_mgr pub;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JumpOut(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorJump*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void Silent(j_common_ptr) {}  // warnings are counted by libjpeg, never printed

void UseErrorJump(ErrorJump* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = JumpOut;
  err->pub.output_message = Silent;
  err->message[0] = '\0';
}

// --- input: the picture read in chunks through the reader ----------------------

constexpr size_t kChunk = 256 * 1024;

struct Source {
  jpeg_source_mgr pub;  // first
  const JpegByteReader* read = nullptr;
  uint64_t max_bytes = 0;
  uint64_t next_offset = 0;  // where the next chunk starts
  std::string buffer;
  Status failure;  // why the reader stopped, when it did
};

// Reads the next chunk; false at the end of the picture or on a failure.
// Called from inside libjpeg, so no exception may leave it.
bool Refill(Source* src) noexcept try {
  if (src->next_offset >= src->max_bytes) {
    src->failure = Status::ResourceExhausted("picture larger than " +
                                             std::to_string(src->max_bytes) + " bytes");
    return false;
  }
  StatusOr<std::string> got = (*src->read)(src->next_offset, kChunk);
  if (!got.ok()) {
    src->failure = got.status();
    return false;
  }
  if (got->empty()) return false;
  src->buffer = std::move(got.value());
  src->next_offset += src->buffer.size();
  src->pub.next_input_byte = reinterpret_cast<const JOCTET*>(src->buffer.data());
  src->pub.bytes_in_buffer = src->buffer.size();
  return true;
} catch (const std::exception& e) {
  src->failure = Status::ResourceExhausted(std::string("cannot read the picture: ") + e.what());
  return false;
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// A picture that ends early is damaged, not padded with an end marker.
boolean FillInput(j_decompress_ptr cinfo) {
  if (!Refill(reinterpret_cast<Source*>(cinfo->src))) ERREXIT(cinfo, JERR_INPUT_EOF);
  return TRUE;
}

// Skipped bytes (marker segments libjpeg does not need) are never read.
void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* src = reinterpret_cast<Source*>(cinfo->src);
  const auto skip = static_cast<uint64_t>(count);
  if (skip <= src->pub.bytes_in_buffer) {
    src->pub.next_input_byte += skip;
    src->pub.bytes_in_buffer -= skip;
    return;
  }
  src->next_offset += skip - src->pub.bytes_in_buffer;
  src->pub.bytes_in_buffer = 0;
}

// --- decoding ------------------------------------------------------------------

struct Decoder {
  jpeg_decompress_struct cinfo;
  ErrorJump err;
  Source src;
  jpeg_progress_mgr progress;
  int max_scans = 0;
  bool created = false;
  bool too_many_scans = false;
  Status refusal;  // set when a limit refuses the picture without a libjpeg error
  // The decoded picture at libjpeg's scale.
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int components = 0;
  bool cmyk = false;
  bool inverted_cmyk = false;  // Adobe's CMYK stores the values inverted

  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

void CheckScans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<Decoder*>(cinfo->client_data);
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > d->max_scans) {
    d->too_many_scans = true;
    ERREXIT(cinfo, JERR_NOT_COMPILED);
  }
}

// The largest of 8, 4, 2 that keeps the longer side at least `longest`.
unsigned ScaleDenominator(uint64_t longer_side, int longest) {
  for (unsigned denom : {8u, 4u, 2u}) {
    if ((longer_side + denom - 1) / denom >= static_cast<uint64_t>(longest)) return denom;
  }
  return 1;
}

// Runs libjpeg up to the last pixel row. false: libjpeg failed (err.message)
// or a limit refused the picture (refusal). Only plain values live here.
bool DecodeScaled(Decoder* d, const JpegShrinkLimits& limits) {
  if (setjmp(d->err.jump)) return false;
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
  d->cinfo.mem->max_memory_to_use = limits.max_memory;
  d->cinfo.client_data = d;
  d->cinfo.src = &d->src.pub;
  d->progress.progress_monitor = CheckScans;
  d->cinfo.progress = &d->progress;
  if (jpeg_read_header(&d->cinfo, TRUE) != JPEG_HEADER_OK) ERREXIT(&d->cinfo, JERR_NO_IMAGE);

  const uint64_t w = d->cinfo.image_width;
  const uint64_t h = d->cinfo.image_height;
  if (w * h > limits.max_pixels) {
    d->refusal = Status::ResourceExhausted(
        "picture of " + std::to_string(w) + " x " + std::to_string(h) +
        " pixels: previews are made of pictures up to " + std::to_string(limits.max_pixels) +
        " pixels");
    return false;
  }
  switch (d->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      d->cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      d->cinfo.out_color_space = JCS_CMYK;
      d->cmyk = true;
      d->inverted_cmyk = d->cinfo.saw_Adobe_marker;
      break;
    default:
      d->cinfo.out_color_space = JCS_RGB;
      break;
  }
  d->cinfo.scale_num = 1;
  d->cinfo.scale_denom = ScaleDenominator(w > h ? w : h, limits.longest_side);
  jpeg_start_decompress(&d->cinfo);

  d->width = static_cast<int>(d->cinfo.output_width);
  d->height = static_cast<int>(d->cinfo.output_height);
  d->components = d->cinfo.output_components;
  const size_t stride = static_cast<size_t>(d->width) * static_cast<size_t>(d->components);
  d->pixels.resize(stride * static_cast<size_t>(d->height));
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = d->pixels.data() + stride * d->cinfo.output_scanline;
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  // Every row is there: what follows (the end marker, trailing bytes) is not
  // needed, so a file cut just before its end marker still shows.
  return true;
}

Status DecodeFailure(const Decoder& d) {
  if (!d.refusal.ok()) return d.refusal;
  if (!d.src.failure.ok()) return d.src.failure;
  if (d.too_many_scans) {
    return Status::ResourceExhausted("progressive picture of more than " +
                                     std::to_string(d.max_scans) + " scans");
  }
  if (d.err.pub.msg_code == JERR_OUT_OF_MEMORY || d.err.pub.msg_code == JERR_NO_BACKING_STORE) {
    return Status::ResourceExhausted(std::string("picture too large to decode: ") +
                                     d.err.message);
  }
  if (d.err.pub.msg_code == JERR_INPUT_EOF && d.src.next_offset == 0) {
    return Status::Corruption("empty file, not a JPEG picture");
  }
  if (d.err.pub.msg_code == JERR_INPUT_EOF) {
    return Status::Corruption("the picture ends before its last pixel row (truncated file)");
  }
  return Status::Corruption(std::string("damaged JPEG picture: ") + d.err.message);
}

// CMYK (4 bytes a pixel) to RGB in place, giving 3 bytes a pixel.
void CmykToRgb(Decoder* d) {
  const size_t count = static_cast<size_t>(d->width) * static_cast<size_t>(d->height);
  uint8_t* p = d->pixels.data();
  for (size_t i = 0; i < count; ++i) {
    unsigned c = p[4 * i], m = p[4 * i + 1], y = p[4 * i + 2], k = p[4 * i + 3];
    if (!d->inverted_cmyk) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    p[3 * i] = static_cast<uint8_t>(c * k / 255);
    p[3 * i + 1] = static_cast<uint8_t>(m * k / 255);
    p[3 * i + 2] = static_cast<uint8_t>(y * k / 255);
  }
  d->pixels.resize(count * 3);
  d->components = 3;
}

struct Picture {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  int components = 0;
};

// Box filter: every target pixel is the mean of the source pixels it covers.
// The target is never larger than the source.
Picture BoxResample(const Decoder& d, int longest) {
  Picture out;
  out.components = d.components;
  const int longer = d.width > d.height ? d.width : d.height;
  if (longer <= longest) {
    out.width = d.width;
    out.height = d.height;
    out.pixels = d.pixels;
    return out;
  }
  auto side = [&](int s) {
    const int scaled = static_cast<int>((static_cast<int64_t>(s) * longest + longer / 2) / longer);
    return scaled < 1 ? 1 : scaled;
  };
  out.width = d.width >= d.height ? longest : side(d.width);
  out.height = d.height >= d.width ? longest : side(d.height);
  const int n = d.components;
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * n);
  std::vector<uint32_t> sums(static_cast<size_t>(n));
  for (int ty = 0; ty < out.height; ++ty) {
    const int y0 = static_cast<int>(static_cast<int64_t>(ty) * d.height / out.height);
    const int y1 = static_cast<int>(static_cast<int64_t>(ty + 1) * d.height / out.height);
    for (int tx = 0; tx < out.width; ++tx) {
      const int x0 = static_cast<int>(static_cast<int64_t>(tx) * d.width / out.width);
      const int x1 = static_cast<int>(static_cast<int64_t>(tx + 1) * d.width / out.width);
      std::fill(sums.begin(), sums.end(), 0u);
      for (int y = y0; y < y1; ++y) {
        const uint8_t* row = d.pixels.data() + (static_cast<size_t>(y) * d.width + x0) * n;
        for (int x = x0; x < x1; ++x, row += n) {
          for (int c = 0; c < n; ++c) sums[static_cast<size_t>(c)] += row[c];
        }
      }
      const uint32_t area = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      uint8_t* dst = out.pixels.data() + (static_cast<size_t>(ty) * out.width + tx) * n;
      for (int c = 0; c < n; ++c) {
        dst[c] = static_cast<uint8_t>((sums[static_cast<size_t>(c)] + area / 2) / area);
      }
    }
  }
  return out;
}

// --- encoding ------------------------------------------------------------------

// The encoded bytes go into a string that grows as libjpeg fills it.
struct Destination {
  jpeg_destination_mgr pub;  // first
  std::string data;
  size_t used = 0;
  bool out_of_memory = false;
};

// Doubles the buffer. Called from inside libjpeg, so no exception may leave it.
bool Grow(Destination* dest) noexcept try {
  const size_t old = dest->data.size();
  dest->data.resize(old < 16384 ? 16384 : old * 2);
  dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->data.data()) + old;
  dest->pub.free_in_buffer = dest->data.size() - old;
  return true;
} catch (const std::exception&) {
  dest->out_of_memory = true;
  return false;
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!Grow(dest)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

boolean EmptyDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  // libjpeg calls this with the whole buffer filled.
  if (!Grow(dest)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->used = dest->data.size() - dest->pub.free_in_buffer;
}

struct Encoder {
  jpeg_compress_struct cinfo;
  ErrorJump err;
  Destination dest;
  bool created = false;

  ~Encoder() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

bool EncodeRows(Encoder* e, const uint8_t* pixels, int width, int height, int components,
                int quality, bool progressive) {
  if (setjmp(e->err.jump)) return false;
  jpeg_create_compress(&e->cinfo);
  e->created = true;
  e->dest.pub.init_destination = InitDestination;
  e->dest.pub.empty_output_buffer = EmptyDestination;
  e->dest.pub.term_destination = TermDestination;
  e->cinfo.dest = &e->dest.pub;
  e->cinfo.image_width = static_cast<JDIMENSION>(width);
  e->cinfo.image_height = static_cast<JDIMENSION>(height);
  e->cinfo.input_components = components;
  e->cinfo.in_color_space =
      components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&e->cinfo);  // CMYK: with the Adobe marker
  jpeg_set_quality(&e->cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&e->cinfo);
  jpeg_start_compress(&e->cinfo, TRUE);
  const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(components);
  while (e->cinfo.next_scanline < e->cinfo.image_height) {
    // libjpeg takes rows as non-const pointers but only reads them.
    JSAMPROW row = const_cast<uint8_t*>(pixels) + stride * e->cinfo.next_scanline;
    jpeg_write_scanlines(&e->cinfo, &row, 1);
  }
  jpeg_finish_compress(&e->cinfo);
  return true;
}

}  // namespace

StatusOr<std::string> EncodeJpeg(const std::vector<uint8_t>& pixels, int width, int height,
                                 int components, int quality, bool progressive) {
  if (width <= 0 || height <= 0 || (components != 1 && components != 3 && components != 4) ||
      pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) *
                           static_cast<size_t>(components)) {
    return Status::InvalidArgument("pixels do not match the picture's size");
  }
  Encoder e;
  UseErrorJump(&e.err);
  e.cinfo.err = &e.err.pub;
  if (!EncodeRows(&e, pixels.data(), width, height, components, quality, progressive)) {
    return Status::Internal(std::string("cannot encode the preview: ") + e.err.message);
  }
  e.dest.data.resize(e.dest.used);
  return std::move(e.dest.data);
}

StatusOr<std::string> ShrinkJpeg(const JpegByteReader& read, const JpegShrinkLimits& limits) try {
  if (limits.longest_side < 1) return Status::InvalidArgument("preview size below one pixel");
  Decoder d;
  UseErrorJump(&d.err);
  d.cinfo.err = &d.err.pub;
  d.max_scans = limits.max_scans;
  d.src.read = &read;
  d.src.max_bytes = limits.max_input_bytes;
  d.src.pub.init_source = InitSource;
  d.src.pub.fill_input_buffer = FillInput;
  d.src.pub.skip_input_data = SkipInput;
  d.src.pub.resync_to_restart = jpeg_resync_to_restart;
  d.src.pub.term_source = TermSource;
  d.src.pub.bytes_in_buffer = 0;
  d.src.pub.next_input_byte = nullptr;
  if (!DecodeScaled(&d, limits)) return DecodeFailure(d);
  if (d.cmyk) CmykToRgb(&d);
  Picture small = BoxResample(d, limits.longest_side);
  return EncodeJpeg(small.pixels, small.width, small.height, small.components, limits.quality);
} catch (const std::bad_alloc&) {
  // The pixel buffers (some megabytes at most within the limits).
  return Status::ResourceExhausted("not enough memory to make the preview");
}

StatusOr<std::string> ShrinkJpegBytes(std::string_view jpeg, const JpegShrinkLimits& limits) {
  JpegByteReader read = [jpeg](uint64_t offset, size_t length) -> StatusOr<std::string> {
    if (offset >= jpeg.size()) return std::string();
    return std::string(jpeg.substr(static_cast<size_t>(offset), length));
  };
  return ShrinkJpeg(read, limits);
}

}  // namespace vantrel
