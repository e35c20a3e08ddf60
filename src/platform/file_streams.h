// FileStreams: the contents that Macintosh clients keep beside a file's data.
//
// A Macintosh file carries a resource fork, Finder info and, for captions, a
// "TEXT" stream next to its data fork. On a Linux file server these live where
// Samba and macOS put them. OpenStream() looks in three places, in this order,
// and says which one answered:
//
//   1. the extended attribute "user.DosStream.<S>:$DATA" (Samba
//      vfs_streams_xattr; names there are AFP_Resource, AFP_AfpInfo, TEXT);
//   2. the extended attributes of Samba vfs_fruit in netatalk mode:
//      "user.org.netatalk.ResourceFork" (the fork itself) and
//      "user.org.netatalk.Metadata" (an AppleDouble blob whose entry 9 is the
//      Finder info);
//   3. the AppleDouble sidecar "._<name>" in the same folder (entry 2 is the
//      resource fork, entry 9 the Finder info).
//
// The Finder info is always handed over as the 60-byte AFP info record
// (signature "AFP\0", version, 8 reserved bytes, the 32-byte Finder info at
// offset 16, 12 bytes of ProDOS info and padding), whatever place held it.
// The 286-byte fork that macOS writes as "This resource fork intentionally
// left blank" is handed over as an empty fork.
//
// AppleDouble layout (all numbers big-endian):
//   0  u32 magic 0x00051607 (AppleSingle: 0x00051600)
//   4  u32 version 0x00010000 or 0x00020000
//   8  16 bytes filler
//   24 u16 number of entries N
//   26 N entries of 12 bytes: u32 entry id, u32 offset, u32 length
// Entries may stand in any order; the table is always walked.
//
// Thread safety: the functions and DefaultFileStreams() may be used from any
// thread at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// The three streams that the metadata readers open.
enum class MacStream {
  kResourceFork,  // ":AFP_Resource"
  kAfpInfo,       // ":AFP_afpinfo", handed over as the 60-byte AFP info record
  kText,          // ":TEXT", caption text
};

// Where a stream was found.
enum class StreamPlace {
  kNone,
  kDosStreamXattr,  // user.DosStream.<S>:$DATA
  kNetatalkXattr,   // user.org.netatalk.ResourceFork / user.org.netatalk.Metadata
  kAppleDouble,     // the ._<name> sidecar
};

// "xattr user.DosStream", ... for logs and vantrelctl.
const char* StreamPlaceName(StreamPlace place);
// "AFP_Resource", "AFP_AfpInfo", "TEXT".
const char* MacStreamName(MacStream stream);

struct StreamContents {
  std::string bytes;
  StreamPlace place = StreamPlace::kNone;
};

// AFP info record.
inline constexpr size_t kAfpInfoSize = 60;
inline constexpr size_t kAfpInfoFinderInfoOffset = 16;
inline constexpr size_t kFinderInfoSize = 32;
inline constexpr uint32_t kAfpInfoSignature = 0x41465000;  // "AFP\0"
inline constexpr uint32_t kAfpInfoVersion = 0x00010000;

// AppleDouble.
inline constexpr uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr uint32_t kAppleSingleMagic = 0x00051600;
inline constexpr size_t kAppleDoubleHeaderSize = 26;
inline constexpr size_t kAppleDoubleEntrySize = 12;
inline constexpr uint32_t kAppleDoubleResourceFork = 2;
inline constexpr uint32_t kAppleDoubleFinderInfo = 9;

// The resource fork that macOS writes when a file has none.
inline constexpr size_t kBlankResourceForkSize = 286;
inline constexpr char kBlankResourceForkText[] = "This resource fork intentionally left blank";

// Extended attribute names.
inline constexpr char kDosStreamPrefix[] = "user.DosStream.";
inline constexpr char kDosStreamSuffix[] = ":$DATA";
inline constexpr char kNetatalkResourceFork[] = "user.org.netatalk.ResourceFork";
inline constexpr char kNetatalkMetadata[] = "user.org.netatalk.Metadata";

// Streams larger than this are refused (treated as missing).
inline constexpr size_t kMaxStreamBytes = 16u << 20;

// The bytes of entry `entry_id` of an AppleDouble (or AppleSingle) blob: a view
// into `blob`, or nullopt when the blob is not AppleDouble, the entry is
// absent, or the entry table or the entry does not lie inside the blob.
std::optional<std::string_view> FindAppleDoubleEntry(std::string_view blob, uint32_t entry_id);

// The 60-byte AFP info record holding `finder_info` (at most 32 bytes used;
// shorter input is padded with zeros).
std::string MakeAfpInfo(std::string_view finder_info);

// True for the 286-byte "intentionally left blank" fork of macOS.
bool IsBlankResourceFork(std::string_view fork);

// The "._<name>" sidecar path of `path` ("/a/b.jpg" -> "/a/._b.jpg").
std::string AppleDoubleSidecarPath(const std::string& path);

class FileStreams {
 public:
  virtual ~FileStreams() = default;

  // Opens stream `stream` of the file at native path `path` and reads it whole.
  // kNotFound when no place holds it (normal); kResourceExhausted when it is
  // larger than kMaxStreamBytes. A place that holds something malformed (an
  // AFP info of the wrong size or signature, a sidecar that is not
  // AppleDouble) counts as not holding the stream, and the next place is tried.
  virtual StatusOr<StreamContents> OpenStream(const std::string& path, MacStream stream) = 0;
};

// The real places on this machine. The object lives for the whole process.
FileStreams* DefaultFileStreams();

}  // namespace vantrel
