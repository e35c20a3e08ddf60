// Macintosh streams: the caption that Macintosh clients keep beside an image
// file's data, and its Finder file type.
//
// ReadMacStreams looks at the resource fork first (mac_resource_fork.h), then
// at the "TEXT" stream, which comes in these forms (the first bytes decide, in
// this order):
//
//   at least 15 bytes, first byte 0x1C      raw IPTC-NAA block
//   more than 14 bytes, begins "2:"         dataset lines: "2:<n> <label>    <value>",
//                                           entries separated by a CR followed by '2'
//   more than 14 bytes, begins "IPTC"       "IPTC" entries: "IPTC", one byte, the record
//                                           digit, one byte, the dataset number, blanks,
//                                           the value; an entry reaches to the next "IPTC"
//   at least 143 bytes, "IPTC" at 128       the same behind a 128-byte MacBinary header
//   otherwise                               a caption text file (caption_text.h)
//
// Every IPTC block that these readers build begins with the record version
// 2:00 (value 00 02) and is installed with InstallIptcBlock.
//
// Thread safety: functions over their arguments; FileStreams may be shared.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "metadata/caption_text.h"
#include "metadata/file_report.h"
#include "metadata/image_data_view.h"
#include "metadata/mac_resource_fork.h"
#include "metadata/photoshop_reader.h"
#include "platform/file_streams.h"

namespace vantrel {

enum class TextStreamForm {
  kRawIptc,
  kDatasetLines,
  kIptcEntries,
  kMacBinaryIptcEntries,
  kCaptionText,
};

const char* TextStreamFormName(TextStreamForm form);
TextStreamForm ClassifyTextStream(std::string_view bytes);

// kMacBinaryHeaderSize (the 128-byte MacBinary header) comes from image_data_view.h.

// `block` with every 2:00 dataset removed and a new 2:00 (value 00 02) put
// first. Datasets are copied as they stand (cut at the block end).
std::string WithNewRecordVersion(std::string_view block);

// Builds an IPTC block from `iptc` (may be empty) and a text: 2:00, then for
// each dataset 1..254 its first occurrence in `iptc`; when `text` is not
// empty the caption 2:120 is the text (no caption or an empty one), the
// caption itself (its first half equals the start of the text), or
// caption + " / " + text. Values are written with two-byte lengths (cut to
// 32767 bytes).
std::string MergeTextIntoCaption(std::string_view iptc, std::string_view text);

// The IPTC blocks of the dataset-line and "IPTC"-entry forms: 2:00, then the
// first value of each dataset 1..254 in ascending order.
std::string DatasetLinesToIptc(std::string_view stream);
std::string IptcEntriesToIptc(std::string_view entries);

// Reads "TEXT" stream bytes into `record` by form (always handled).
void ReadTextStream(CaptionRecord& record, std::string_view bytes, const MacroClock& clock,
                    TextStreamForm* form = nullptr);

// What ReadMacStreams found, for inspection tools.
struct MacStreamsTrace {
  StreamPlace resource_fork = StreamPlace::kNone;
  ResourceForkForm fork_form = ResourceForkForm::kNone;
  StreamPlace text = StreamPlace::kNone;
  TextStreamForm text_form = TextStreamForm::kCaptionText;
};

// The caption of the Macintosh streams of the file at `path`: true when the
// resource fork held a caption form or a "TEXT" stream exists (whatever it
// holds; an empty one too), false otherwise. When it answers true, the image's
// own data is not to be searched for a caption.
bool ReadMacStreams(CaptionRecord& record, FileStreams& streams, const std::string& path,
                    const MacroClock& clock, MacStreamsTrace* trace = nullptr);

// The Finder file type of the file at `path` (the four bytes at offset 16 of
// its AFP info record, first character in the highest byte), or 0 when it has
// no Finder info.
uint32_t ReadFinderType(FileStreams& streams, const std::string& path);

// The four characters of a type code (first character from the highest
// byte), or "" for 0.
std::string TypeCodeText(uint32_t type);

// Adapters for the readers that ask for the Macintosh streams through a
// function. `streams` must outlive the function returned; macros take the
// time of each call.
//   ReadPhotoshopCaption(record, data, path, MacStreamReaderFor(*DefaultFileStreams()))
MacStreamReader MacStreamReaderFor(FileStreams& streams);
//   InspectOptions::mac_streams: kResourceFork, kTextStream or kNone.
std::function<CaptionSource(CaptionRecord&, const std::string&)> InspectMacStreamsFor(
    FileStreams& streams);
//   InspectOptions::finder_type: TypeCodeText(ReadFinderType(...)).
std::function<std::string(const std::string&)> InspectFinderTypeFor(FileStreams& streams);

}  // namespace vantrel
