// What the Macintosh stream fuzz targets run on one input, shared by the
// libFuzzer targets in fuzz/ and by tests/metadata/mac_fuzz_corpus_test.cc,
// which replays every file kept in fuzz/corpus/<target>/ in the ordinary run.
// Header-only, so that any binary that links the metadata library can use it.
//
// Each driver feeds the bytes to the readers and then writes what they found
// into document text: nothing may crash, hang or read outside the input.
//
// Thread safety: the drivers keep no state.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/caption_text.h"
#include "metadata/char_tables.h"
#include "metadata/mac_resource_fork.h"
#include "metadata/mac_streams.h"
#include "platform/file_streams.h"
#include "support/mac_builders.h"

namespace vantrel::mac_test {

// A fixed moment, so that macro expansion is the same in every run.
inline constexpr int64_t kFuzzMoment = 920387045;

// The document text of a record, as the builder writes it (bounded).
inline std::string FuzzDocument(const CaptionRecord& record, EmptyFieldMode mode) {
  std::string doc = " xsmallcap ";
  WriteCaptionFields(record, doc, kCaptionGroupPrefix, kCaptionGroupSuffix, mode, 1 << 16);
  ConvertMacText(doc, doc.size() + 1, (1 << 16) + 4096);
  ConvertToMacText(doc);
  return doc;
}

inline void FuzzResourceFork(std::string_view data) {
  CaptionRecord record;
  ParseResourceFork(record, data);
  FindAppleDoubleEntry(data, kAppleDoubleResourceFork);
  FindAppleDoubleEntry(data, kAppleDoubleFinderInfo);
  SplitLocalCaption(record);
  FuzzDocument(record, EmptyFieldMode::kAll);
}

inline void FuzzTextStream(std::string_view data) {
  CaptionRecord record;
  ReadTextStream(record, data, MacroClock{kFuzzMoment});
  SplitLocalCaption(record);
  FuzzDocument(record, EmptyFieldMode::kCommon);
}

inline void FuzzCaptionText(std::string_view data) {
  // The first byte decides whether the record already holds a caption.
  CaptionRecord record;
  if (!data.empty() && (static_cast<uint8_t>(data[0]) & 1)) {
    record.iptc = IimBlock({{120, "Existing caption"}, {25, "kw"}, {25, "kw2"}});
  }
  const MacroClock clock{kFuzzMoment};
  ReadCaptionText(record, data, "img%%INSFILE.jpg", clock);
  ExpandCaptionMacros(data.substr(0, kTaggedValueMax), "file.jpg", clock);
  CaptionRecord copy;
  MergeCaption(copy, record);
  SplitLocalCaption(record);
  FuzzDocument(record, EmptyFieldMode::kNone);
}

struct MacFuzzTarget {
  const char* name;
  void (*run)(std::string_view data);
};

inline std::vector<MacFuzzTarget> MacFuzzTargets() {
  return {{"resource_fork_fuzz", &FuzzResourceFork},
          {"text_stream_fuzz", &FuzzTextStream},
          {"caption_text_fuzz", &FuzzCaptionText}};
}

// Seed inputs of a target, made by the builders: (file name, bytes).
inline std::vector<std::pair<std::string, std::string>> MacFuzzSeeds(std::string_view target) {
  const std::string block =
      IimBlock({{120, "Harbour *** Local Caption *** local"}, {25, "sea"}, {5, "obj"}});
  if (target == "resource_fork_fuzz") {
    std::string swapped = Iim(5, "obj") + Iim(120, "Harbour");
    for (size_t i = 0; i + 1 < swapped.size(); ++i) {
      if (swapped[i] == '\x1c' && swapped[i + 1] == '\x02') std::swap(swapped[i], swapped[i + 1]);
    }
    return {
        {"iptc_block", ResourceForkBuilder().Add("\x01\x02").Add(block).Build()},
        {"caption_run", ResourceForkBuilder().Add(Iim(120, "Harbour") + Iim(25, "sea")).Build()},
        {"anpa", ResourceForkBuilder().Add(AnpaResource(block)).Build()},
        {"photoshop30", Photoshop30Fork(block)},
        {"photoshop25",
         Photoshop25Fork({Photoshop25Entry(2, 120, "Caption"), Photoshop25Entry(1, 90, "x"),
                          Photoshop25Entry(2, 25, "kw")})},
        {"text_resource", TextResourceFork("A caption in a text resource")},
        {"run_with_text", ResourceForkBuilder().Add(swapped).Add("Taken at dawn").Build()},
        {"text_before_run", ResourceForkBuilder().Add("Taken at dawn").Add(swapped).Build()},
        {"blank", BlankResourceFork()},
        {"apple_double", MacOsSidecar("JPEG", "8BIM", Photoshop30Fork(block))},
    };
  }
  if (target == "text_stream_fuzz") {
    return {
        {"raw", Iim(120, "cap") + Iim(0, std::string("\x00\x04", 2)) + Iim(25, "k")},
        {"dataset_lines", DatasetLines({{120, "Harbour"}, {25, "sea"}, {5, "obj"}})},
        {"iptc_entries", IptcEntries({{120, "Caption"}, {25, "sea"}, {5, "obj"}})},
        {"macbinary", MacBinaryHeader("caption", "TEXT") + IptcEntries({{5, "obj"}})},
        {"tagged", "#CAP Storm *** local caption *** pier\r\n#KEY wind\r\n#DAT%%INSDATE-1"},
        {"plain", "Storm over the bay\r"},
    };
  }
  if (target == "caption_text_fuzz") {
    return {
        {"tagged", "#CAP Storm\r\n#KEY wind\r\n#KEY rain\r\n#120x#OBJ%%INSFILE"},
        {"macros", "#HED %%INSDATE+7 %%INSLDATE-1 %%INSTIME %%INSLTIME %%insfile"},
        {"raw", block},
        {"plain", "\rA plain caption with \xE9 and \x8E"},
        {"odd_existing", "##CAP#KEY#SCA a#SCA b#231slot"},
    };
  }
  return {};
}

}  // namespace vantrel::mac_test
