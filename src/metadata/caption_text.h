// Caption text: caption records turned into document text, and caption text
// files turned into caption records.
//
//  - WriteCaptionFields writes one field group per record-2 dataset into an
//    image document, honouring the index's empty-field mode.
//  - SplitLocalCaption separates the local caption that users append to the
//    caption behind the marker " *** Local Caption *** ".
//  - ReadCaptionText / ReadCaptionTextFile read a caption text file (also a
//    Macintosh "TEXT" stream) in one of three forms and merge it into a record:
//      first byte 0x1C                 raw IPTC-NAA block
//      "#" among the first three bytes tagged text: "#CAP value", "#120value",
//                                      with insertion macros ("%%INSDATE-1")
//      a byte >= 0x20, LF or CR        plain text, all of it the caption 2:120
//      any other control byte          not a caption file
//  - MergeCaption makes one record carry the datasets of another.
//
// Thread safety: every function works on its arguments only; records are used
// by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "platform/file_system.h"

namespace vantrel {

// Which absent or blank datasets still get a group (with the word "xnoword"),
// one mode per index.
enum class EmptyFieldMode : int {
  kNone = 0,    // "Do not Index Empty Fields"
  kCommon = 1,  // "Index The Most Common Empty Fields": 5 15 20 25 40 55 80 90 101 105 110 120 121
  kAll = 2,     // "Index All Empty Fields"
};

// True when an absent or blank 2:`dataset` still gets a group under `mode`.
// Unknown mode values count like kNone.
bool FieldCountsAsEmpty(EmptyFieldMode mode, int dataset);

// The words the document builder passes.
inline constexpr char kCaptionGroupPrefix[] = "QxQ";
inline constexpr char kCaptionGroupSuffix[] = "ZqZ";

// The marker in front of a local caption (compared without regard to case).
inline constexpr char kLocalCaptionMarker[] = " *** Local Caption *** ";

// Limits of caption text files.
inline constexpr size_t kCaptionFileMax = 8000;  // bytes read of a caption text file
inline constexpr size_t kTaggedValueMax = 4000;  // bytes of one tagged value
inline constexpr size_t kMacroTextMax = 100;     // bytes of one expanded macro
// Dataset 2:231 is a row of text slots of this size.
inline constexpr size_t kTextSlotSize = 256;

// Appends the caption groups of `record` to `out`: for each record-2 dataset
// 1..255 in ascending order, prefix + the number as three digits + " ", then
// each value (up to its first NUL, at most 2048 bytes) followed by " ", then
// suffix + " ". A dataset without any byte above the blank gets
// "xnoword " + suffix + " " when it counts as empty under `mode`, else its
// opening word only; an absent dataset that counts as empty gets
// prefix + number + " xnoword " + suffix + " ". Dataset 231 is written as its
// 256-byte text slots.
// `out` never grows beyond `capacity` bytes (the document buffer): the text is
// cut there. Returns the number of bytes appended.
size_t WriteCaptionFields(const CaptionRecord& record, std::string& out, std::string_view prefix,
                          std::string_view suffix, EmptyFieldMode mode, size_t capacity);

// Splits the first caption 2:120 (at most 4000 bytes, up to its first NUL) at
// the local caption marker: 2:120 becomes the part in front of it (further
// occurrences of 2:120 are dropped), and when the part behind it is not
// empty, 2:121 becomes that part. Does nothing when 2:120 is absent or empty.
void SplitLocalCaption(CaptionRecord& record);

// The moment whose date and time the insertion macros put into a value.
struct MacroClock {
  int64_t unix_seconds = 0;  // seconds since 1970, UTC
  // The current time of this machine.
  static MacroClock Now();
};

// Expands the insertion macros of one tagged value (compared without regard
// to case): "%%INSDATE" (yyyyMMdd, optional "+n"/"-n" days), "%%INSLDATE" (the
// locale's long date, same offset), "%%INSTIME" (UTC hhmmss and the zone
// "+hh00"/"-hh00"), "%%INSLTIME" (the locale's time), "%%INSFILE"
// (`file_name`). The scan goes on behind each replacement, so a file name
// holding macro text is not expanded again. The result is cut to 4000 bytes.
std::string ExpandCaptionMacros(std::string_view value, std::string_view file_name,
                                const MacroClock& clock);

enum class CaptionTextForm { kNotCaption, kRawIptc, kTagged, kPlain };
CaptionTextForm ClassifyCaptionText(std::string_view bytes);

// Builds the datasets of caption text `bytes` (the first 8000 bytes count)
// into the empty record `scratch`. Returns false when the bytes are not a
// caption file (scratch stays empty).
bool ParseCaptionText(std::string_view bytes, std::string_view file_name, const MacroClock& clock,
                      CaptionRecord& scratch);

// Reads caption text `bytes` and merges it into `record`: the record then
// carries the caption text's datasets (see MergeCaption), installed with
// SetIptcBlock. Returns true when the bytes held a caption form (even when the
// merge was refused), false when they are not a caption file (record
// unchanged). `file_name` is what "%%INSFILE" inserts (empty for none).
bool ReadCaptionText(CaptionRecord& record, std::string_view bytes, std::string_view file_name,
                     const MacroClock& clock);

// ReadCaptionText over the first 8000 bytes of the file at `path`. False when
// the file cannot be read.
bool ReadCaptionTextFile(CaptionRecord& record, FileSystem& fs, const std::string& path,
                         std::string_view file_name, const MacroClock& clock);

// Makes `destination` carry the datasets of `source`: for n = 1..255, 2:n of
// destination is removed, and when source has a non-empty 2:n its
// occurrences are inserted (each cut to 2048 bytes); for n other than 20 and
// 25 only the last occurrence remains.
void MergeCaption(CaptionRecord& destination, const CaptionRecord& source);

}  // namespace vantrel
