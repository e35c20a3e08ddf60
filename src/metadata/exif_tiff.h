// The structure of TIFF data, as TIFF files and EXIF blocks share it: a
// header ("II" little-endian or "MM" big-endian, the number 42, the offset of
// the first image file directory) and directories of 12-byte entries (tag 2,
// type 2, count 4, the value itself when it fits in 4 bytes, else its offset).
// Offsets count from the header.
//
// Every read is checked against the data: an entry, a value or a directory
// that does not lie wholly inside it reads as absent. Only the first
// directory and the directories its pointer tags name are read (no chain of
// "next directory" offsets is followed), so a loop of offsets cannot hold a
// reader.
//
// Thread safety: plain values over data the caller keeps alive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr uint32_t kMaxTiffEntries = 4096;

// TIFF field types used here.
inline constexpr uint16_t kTiffByte = 1;
inline constexpr uint16_t kTiffAscii = 2;
inline constexpr uint16_t kTiffShort = 3;
inline constexpr uint16_t kTiffLong = 4;
inline constexpr uint16_t kTiffRational = 5;
inline constexpr uint16_t kTiffIfd = 13;  // a directory offset, read as LONG

struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint64_t value_at = 0;  // where the value lies (inside the entry or at its offset)
};

class TiffData {
 public:
  // False when `data` does not open with a TIFF header.
  static std::optional<TiffData> Open(std::string_view data);

  // The offset of the first directory.
  uint32_t first_directory() const { return first_; }

  // The entry with `tag` in the directory at `directory`; nullopt when the
  // directory or the entry lies outside the data or has no such tag.
  std::optional<TiffEntry> Find(uint64_t directory, uint16_t tag) const;

  // The `index`th value of a BYTE, SHORT or LONG entry.
  std::optional<uint32_t> Unsigned(const TiffEntry& entry, uint32_t index = 0) const;
  // The first value of a RATIONAL entry, or of a SHORT/LONG entry as a
  // whole number; nullopt for a zero denominator.
  std::optional<double> Number(const TiffEntry& entry) const;
  // The text of an ASCII entry up to its first NUL.
  std::optional<std::string> Ascii(const TiffEntry& entry) const;

  // Shortcuts: Find, then the value.
  std::optional<uint32_t> UnsignedTag(uint64_t directory, uint16_t tag) const;
  std::optional<double> NumberTag(uint64_t directory, uint16_t tag) const;

  bool U16(uint64_t at, uint32_t* v) const;
  bool U32(uint64_t at, uint32_t* v) const;

 private:
  TiffData(std::string_view data, bool big, uint32_t first) : data_(data), big_(big), first_(first) {}
  std::string_view data_;
  bool big_ = false;
  uint32_t first_ = 0;
};

}  // namespace vantrel
