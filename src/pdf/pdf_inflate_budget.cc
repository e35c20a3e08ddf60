// Counting the inflated size of a PDF's streams (see pdf_inflate_budget.h).
#include "pdf/pdf_inflate_budget.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>

namespace vantrel {
namespace {

constexpr std::string_view kStream = "stream";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kObj = "obj";
// How far back from a stream keyword its dictionary is looked for.
constexpr size_t kMaxDictionary = size_t{64} << 10;

// The offset of the first byte of a stream's data behind the keyword at
// `at`, or npos when the keyword is not followed by an end of line.
size_t StreamDataStart(std::string_view pdf, size_t at) {
  size_t pos = at + kStream.size();
  if (pos < pdf.size() && pdf[pos] == '\r') ++pos;
  if (pos < pdf.size() && pdf[pos] == '\n') return pos + 1;
  // A lone CR is not allowed but written by some producers.
  return pos > at + kStream.size() ? pos : std::string_view::npos;
}

// The dictionary text of the stream whose keyword stands at `at`.
std::string_view DictionaryBefore(std::string_view pdf, size_t at) {
  const size_t from = at > kMaxDictionary ? at - kMaxDictionary : 0;
  std::string_view window = pdf.substr(from, at - from);
  const size_t obj = window.rfind(kObj);
  return obj == std::string_view::npos ? window : window.substr(obj + kObj.size());
}

bool Counted(std::string_view dictionary) {
  return dictionary.find("/FlateDecode") != std::string_view::npos &&
         dictionary.find("/Image") == std::string_view::npos;
}

// Inflates the zlib stream at the start of `data`, adding the bytes made to
// *total until it passes `cap`. Returns the input bytes consumed.
size_t InflateCounting(std::string_view data, uint64_t cap, uint64_t* total) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return 0;
  std::array<unsigned char, 65536> out;
  size_t consumed = 0;
  int rc = Z_OK;
  while (rc == Z_OK && *total <= cap) {
    if (z.avail_in == 0) {
      if (consumed >= data.size()) break;
      const size_t chunk = std::min<size_t>(data.size() - consumed, UINT_MAX);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
      z.avail_in = static_cast<uInt>(chunk);
      consumed += chunk;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&z, Z_NO_FLUSH);
    *total += out.size() - z.avail_out;
    // No progress at all (Z_BUF_ERROR): the input ended inside the stream.
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && consumed < data.size()) rc = Z_OK;
  }
  const size_t used = consumed - z.avail_in;
  inflateEnd(&z);
  return used;
}

}  // namespace

uint64_t InflatedStreamBytes(std::string_view pdf, uint64_t cap) {
  uint64_t total = 0;
  size_t pos = 0;
  while (total <= cap) {
    const size_t at = pdf.find(kStream, pos);
    if (at == std::string_view::npos) break;
    pos = at + kStream.size();
    if (at >= kEnd.size() && pdf.substr(at - kEnd.size(), kEnd.size()) == kEnd) continue;
    const size_t data = StreamDataStart(pdf, at);
    if (data == std::string_view::npos || !Counted(DictionaryBefore(pdf, at))) continue;
    pos = data + InflateCounting(pdf.substr(data), cap, &total);
  }
  return std::min(total, cap + 1);
}

}  // namespace vantrel
