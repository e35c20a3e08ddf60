// CaptionRecord: everything the server learns about one image's caption.
//
// Every reader of metadata (Photoshop resources in JPEG/EPS/TIFF, Macintosh
// resource forks and streams, caption text files, the image-info trailer)
// delivers IPTC-NAA bytes, and the record keeps only the record-2
// (application record) datasets of them. The image document builder creates
// one record per image file, lets the readers fill it, reads single values and
// has it written into the document text.
//
// The record owns two byte blocks:
//   iptc       the IIM datasets (see iim_codec.h); empty means "no caption";
//              when non-empty the first byte is the tag marker 0x1C.
//   resources  the Photoshop image resources ("8BIM" blocks) that a reader
//              took from the file; empty when none was read. SetIptcBlock keeps
//              the IPTC resource 0x0404 in it up to date.
//
// Thread safety: a record is a plain value, used by one thread at a time.
// The operations below are its only writers; memory failures leave it as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

struct CaptionRecord {
  std::string iptc;       // IPTC-NAA block
  std::string resources;  // Photoshop image resource block

  // What the document builder tests: 0 means no caption.
  int32_t iptc_length() const { return static_cast<int32_t>(iptc.size()); }
  int32_t resource_length() const { return static_cast<int32_t>(resources.size()); }
};

// Longest text GetCaptionText delivers (without its NUL).
inline constexpr size_t kCaptionTextMax = 4000;
// SetIptcBlock leaves a resource block alone that would grow to this size.
inline constexpr size_t kResourceBlockLimit = 10000;
// Identifier of the image resource that holds an IPTC-NAA block.
inline constexpr uint16_t kIptcResourceId = 0x0404;

// Both blocks empty. (Memory is released by the strings; kept for the
// builder's reset/free rhythm.)
void ResetCaption(CaptionRecord& record);
// Releases both blocks and leaves the record reset.
void FreeCaption(CaptionRecord& record);
// Deep copy of both blocks.
void CopyCaption(CaptionRecord& destination, const CaptionRecord& source);

// The one way readers hand over IPTC-NAA bytes:
//  1. nothing happens when `bytes` is empty, equals the placeholder block or
//     does not begin with the tag marker;
//  2. a private copy is made and its record-2 run located (LocateRecordRun,
//     which repairs the copy, never `bytes`);
//  3. the IPTC block becomes the run with empty datasets removed; a run of
//     length 0 (the data opens with an extended length) leaves the record
//     without IPTC block, while data without any record-2 run is kept whole
//     (it still counts as caption data, holding no record-2 values);
//  4. 2:240 is deleted.
// Returns true when the record holds an IPTC block afterwards.
bool InstallIptcBlock(CaptionRecord& record, std::string_view bytes);

// Replaces the IPTC block by `block` and re-embeds it as resource 0x0404 in
// the Photoshop resource block (when there is one). Refuses (returns false,
// nothing changes) an empty block, or a block of 12 bytes or fewer while the
// current block is longer than 12 bytes. Returns false also when the record
// has a resource block without any "8BIM" signature (the IPTC block is then
// replaced, the resources stay). A resource block that would reach 10000
// bytes is left unchanged (result true).
bool SetIptcBlock(CaptionRecord& record, std::string_view block);

// Removes every occurrence of 2:`dataset`. Deleting the only dataset of the
// block empties the whole record, Photoshop resources included.
void DeleteDataset(CaptionRecord& record, int dataset);

// Adds one occurrence of 2:`dataset` at its canonical place (see
// iim_codec.h CanonicalOrder): behind the first occurrence of the same
// number when present, else behind the nearest canonical predecessor that is
// present, else in front of the nearest present successor, else behind 2:00.
// Numbers outside the canonical order go in front of the next higher present
// number, else at the end. An empty block first becomes the 2:00 dataset.
// Values of 32768 bytes or more are refused (returns false).
bool InsertDataset(CaptionRecord& record, int dataset, std::string_view value);

// Copies the first value of 2:`dataset` (at most 4000 bytes, and at most
// capacity - 1) into `buffer` with a terminating NUL. Returns `buffer`, or
// nullptr when the dataset is absent, the IPTC block is empty or capacity is 0.
char* GetCaptionText(const CaptionRecord& record, int dataset, char* buffer, size_t capacity);
// The same into a string; false when absent.
bool GetCaptionText(const CaptionRecord& record, int dataset, std::string* text);

}  // namespace vantrel
