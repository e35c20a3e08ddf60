#include "metadata/mac_resource_fork.h"

#include <algorithm>
#include <cstdint>

#include "metadata/iim_codec.h"
#include "metadata/mac_streams.h"

namespace vantrel {
namespace {

constexpr std::string_view kVersionStart("\x1c\x02\x00\x00\x02", 5);
constexpr std::string_view kCaptionStart("\x1c\x02\x78", 3);
constexpr std::string_view kRecordStart("\x1c\x02\x00", 3);
constexpr std::string_view kAnpa = "ANPA";
constexpr std::string_view kPhotoshop = "Adobe Photoshop";
constexpr size_t kPhotoshopLookahead = 20;

// Bytes that the caption-run attempts of one scan may copy in all. A fork
// built of nothing but caption headers would otherwise cost time quadratic in
// its size.
constexpr size_t kRunAttemptBudget = 64u << 20;

// Locating a record run mends damaged headers by moving the rest of the
// buffer forward, so its cost grows with (repairs x buffer size). A repair can
// only happen where the fork holds "74 1C 02" (a 2:116 header that lost its
// length) or "02 1C ?? 02 1C" (a swapped marker before a stray header). A fork
// larger than the window below with more such places than damaged captions
// have has its record runs searched in its first window only, which bounds the
// time any fork can take.
constexpr size_t kRunSearchWindow = 256u << 10;
constexpr size_t kRepairSiteLimit = 64;

// The part of `fork` in which record runs are searched.
std::string_view RunSearchArea(std::string_view fork) {
  if (fork.size() <= kRunSearchWindow) return fork;
  auto at = [&fork](size_t i) { return static_cast<uint8_t>(fork[i]); };
  size_t sites = 0;
  for (size_t i = 0; i + 2 < fork.size(); ++i) {
    bool lost_length = at(i) == 0x74 && at(i + 1) == 0x1C && at(i + 2) == 0x02;
    bool swapped = i + 4 < fork.size() && at(i) == 0x02 && at(i + 1) == 0x1C && at(i + 3) == 0x02 &&
                   at(i + 4) == 0x1C;
    if ((lost_length || swapped) && ++sites > kRepairSiteLimit) {
      return fork.substr(0, kRunSearchWindow);
    }
  }
  return fork;
}

uint8_t U8(std::string_view b, size_t i) { return static_cast<uint8_t>(b[i]); }
size_t U16(std::string_view b, size_t i) { return (size_t{U8(b, i)} << 8) | U8(b, i + 1); }
uint32_t U32(std::string_view b, size_t i) {
  return (uint32_t{U8(b, i)} << 24) | (uint32_t{U8(b, i + 1)} << 16) |
         (uint32_t{U8(b, i + 2)} << 8) | U8(b, i + 3);
}

bool At(std::string_view b, size_t i, std::string_view what) {
  return i <= b.size() && b.size() - i >= what.size() && b.substr(i, what.size()) == what;
}

// Low two bytes of the four-byte resource length in front of `i` (0 when the
// fork has no room for it), cut to what remains of the fork from `i`.
size_t LengthInFront(std::string_view f, size_t i) {
  if (i < 2) return 0;
  return std::min(U16(f, i - 2), f.size() - i);
}

bool IsTextByte(uint8_t c) { return c >= 0x20 || c == '\r' || c == '\n'; }

bool IsAcceptableText(std::string_view text) {
  if (text.size() <= 2 || text.size() >= kTextResourceMax) return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsTextByte(static_cast<uint8_t>(c)); });
}

// A text resource whose last byte is at `last`: walks back over bytes of 0x20
// and above to the first lower byte j, and takes the text when the two bytes
// at j (or at j - 1) hold its length.
struct TextWalk {
  bool reached_start = false;  // the walk ran back to offset 0 (or had no start)
  std::optional<std::string_view> text;
};

TextWalk TextEndingAt(std::string_view f, int64_t last) {
  TextWalk walk;
  if (last < 0 || last >= static_cast<int64_t>(f.size())) {
    walk.reached_start = true;
    return walk;
  }
  int64_t j = last;
  while (j > 0 && U8(f, static_cast<size_t>(j)) >= 0x20) --j;
  if (j == 0) {
    walk.reached_start = true;
    return walk;
  }
  size_t uj = static_cast<size_t>(j);
  if (uj + 1 < f.size() && static_cast<int64_t>(U16(f, uj)) == last - j - 1 && last - j - 1 > 0) {
    walk.text = f.substr(uj + 2, static_cast<size_t>(last - j - 1));
  } else if (static_cast<int64_t>(U16(f, uj - 1)) == last - j && last - j > 0) {
    walk.text = f.substr(uj + 1, static_cast<size_t>(last - j));
  }
  return walk;
}

// A resource at `at` holding only text: 00 00, a non-zero length L, L text bytes.
std::optional<std::string_view> TextResourceAt(std::string_view f, size_t at) {
  if (!(at <= f.size() && f.size() - at >= 4)) return std::nullopt;
  if (U8(f, at) != 0 || U8(f, at + 1) != 0) return std::nullopt;
  size_t length = U16(f, at + 2);
  if (length == 0 || length > f.size() - at - 4) return std::nullopt;
  return f.substr(at + 4, length);
}

ResourceForkForm InstallPhotoshop25(CaptionRecord& record, std::string_view f) {
  std::optional<std::string> block = Photoshop25Captions(f);
  if (!block) return ResourceForkForm::kNone;
  InstallIptcBlock(record, *block);  // the placeholder block is refused there
  return ResourceForkForm::kPhotoshop25;
}

// The scan for the forms that announce themselves by their bytes.
ResourceForkForm ScanForms(CaptionRecord& record, std::string_view f, std::string_view run_area) {
  size_t budget = kRunAttemptBudget;
  for (size_t i = 0; i + 10 < f.size(); ++i) {
    if (At(f, i, kVersionStart)) {
      size_t length = LengthInFront(f, i);
      if (length > 0) InstallIptcBlock(record, f.substr(i, length));
      return ResourceForkForm::kIptcBlock;
    }
    if (At(f, i, kCaptionStart) && U8(f, i + 3) < 8 && i < run_area.size() &&
        budget >= run_area.size() - i) {
      budget -= run_area.size() - i;
      std::string tail(run_area.substr(i));
      size_t run_length = 0, run_offset = 0;
      if (LocateRecordRun(tail, kIimApplicationRecord, &run_length, &run_offset) == 1) {
        CaptionRecord scratch;
        if (InstallIptcBlock(scratch, std::string_view(tail).substr(run_offset, run_length))) {
          InstallIptcBlock(record, WithNewRecordVersion(scratch.iptc));
        }
        return ResourceForkForm::kCaptionRun;
      }
    }
    if (At(f, i, kAnpa) && U8(f, i + 4) == kIimTagMarker) {
      size_t length = LengthInFront(f, i);
      if (length > 4)
        InstallIptcBlock(record, f.substr(i + 4, std::min(length - 4, f.size() - i - 4)));
      return ResourceForkForm::kAnpa;
    }
    if (i + 20 < f.size() && At(f, i, kPhotoshop)) {
      size_t from = i + kPhotoshop.size();
      for (size_t k = from; k < from + kPhotoshopLookahead; ++k) {
        if (!At(f, k, kRecordStart)) continue;
        size_t length = LengthInFront(f, k);
        if (length > 0) InstallIptcBlock(record, f.substr(k, length));
        return ResourceForkForm::kPhotoshop30;
      }
      i = from - 1;  // go on behind the text
    }
  }
  return ResourceForkForm::kNone;
}

}  // namespace

const char* ResourceForkFormName(ResourceForkForm form) {
  switch (form) {
    case ResourceForkForm::kNone:
      return "none";
    case ResourceForkForm::kIptcBlock:
      return "IPTC block";
    case ResourceForkForm::kCaptionRun:
      return "caption run";
    case ResourceForkForm::kAnpa:
      return "ANPA resource";
    case ResourceForkForm::kPhotoshop30:
      return "Photoshop 3.0 resource";
    case ResourceForkForm::kPhotoshop25:
      return "Photoshop 2.5 resources";
    case ResourceForkForm::kTextResource:
      return "text resource";
    case ResourceForkForm::kRunWithText:
      return "IPTC run with text resource";
  }
  return "none";
}

std::optional<std::string> Photoshop25Captions(std::string_view f) {
  const size_t size = f.size();
  size_t first = kResourceDataOffset;
  if (size < first + 4) return std::nullopt;
  if (U8(f, first) != 0 || U8(f, first + 1) != 0 || U8(f, first + 2) != 0 ||
      U8(f, first + 3) == 0) {
    return std::nullopt;
  }
  size_t next = first + 4 + U8(f, first + 3);
  if (size < next + 3 || U8(f, next) != 0 || U8(f, next + 1) != 0 || U8(f, next + 2) != 0) {
    return std::nullopt;
  }
  std::string block;
  uint64_t pos = first;
  while (pos < size && pos > 255) {
    size_t p = static_cast<size_t>(pos);
    if (size - p < 12) break;  // no room for an entry header
    int32_t length = static_cast<int32_t>(U32(f, p));
    if (length < 0 || static_cast<uint64_t>(length) > size) return std::nullopt;
    int record = U8(f, p + 4);
    int dataset = U8(f, p + 5);
    uint64_t value_length = U32(f, p + 8);
    if (record == kIimApplicationRecord) {
      if (value_length != 0) {
        if (value_length > size - (p + 12)) break;  // the value does not lie inside the fork
        if (block.size() + kIimHeaderSize + value_length > kPhotoshop25BlockMax) break;
        block += EncodeDataset(kIimApplicationRecord, dataset,
                               f.substr(p + 12, static_cast<size_t>(value_length)));
      }
    } else if (record == 3) {
      break;
    }
    pos += 4 + static_cast<uint64_t>(length);
  }
  if (block.empty()) return std::nullopt;
  return block;
}

ResourceForkForm ParseResourceFork(CaptionRecord& record, std::string_view fork) {
  if (fork.size() < kResourceForkMinSize) return ResourceForkForm::kNone;
  std::string_view run_area = RunSearchArea(fork);
  ResourceForkForm form = ScanForms(record, fork, run_area);
  if (form != ResourceForkForm::kNone) return form;

  // A private copy: locating the run repairs it in place.
  std::string f(run_area);
  size_t run_length = 0, run_offset = 0;
  int located = LocateRecordRun(f, kIimApplicationRecord, &run_length, &run_offset);
  if (located != 1) {
    form = InstallPhotoshop25(record, f);
    if (form != ResourceForkForm::kNone) return form;
    if (f.size() < 8) return ResourceForkForm::kNone;
    // A text resource just in front of the resource map.
    int64_t last = static_cast<int64_t>(U16(f, 6)) - 1;
    if (last < 0 || last >= static_cast<int64_t>(f.size())) return ResourceForkForm::kNone;
    TextWalk walk = TextEndingAt(f, last);
    if (walk.reached_start) return ResourceForkForm::kNone;
    std::optional<std::string_view> text = walk.text;
    // Else the first resource of the data area.
    if (!text) text = TextResourceAt(f, kResourceDataOffset);
    if (!text || !IsAcceptableText(*text)) return ResourceForkForm::kNone;
    InstallIptcBlock(record, MergeTextIntoCaption({}, *text));
    return ResourceForkForm::kTextResource;
  }

  // A run: look for a text resource directly behind it, else in front of it.
  std::string_view run = std::string_view(f).substr(run_offset, run_length);
  std::optional<std::string_view> text = TextResourceAt(f, run_offset + run_length);
  if (text && !IsAcceptableText(*text)) text.reset();
  if (!text) {
    text = TextEndingAt(f, static_cast<int64_t>(run_offset) - 5).text;
    if (text && text->size() >= kTextResourceMax) text.reset();
  }
  if (!text) return InstallPhotoshop25(record, f);
  InstallIptcBlock(record, MergeTextIntoCaption(run, *text));
  return ResourceForkForm::kRunWithText;
}

bool ReadResourceFork(CaptionRecord& record, FileStreams& streams, const std::string& path,
                      StreamPlace* place, ResourceForkForm* form) {
  if (place) *place = StreamPlace::kNone;
  if (form) *form = ResourceForkForm::kNone;
  StatusOr<StreamContents> fork = streams.OpenStream(path, MacStream::kResourceFork);
  if (!fork.ok()) return false;
  if (place) *place = fork->place;
  ResourceForkForm found = ParseResourceFork(record, fork->bytes);
  if (form) *form = found;
  return found != ResourceForkForm::kNone;
}

}  // namespace vantrel
