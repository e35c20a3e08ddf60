// Where XMP stands in a file's data, and the caption it gives:
//
//  - JPEG: an APP1 segment opening with "http://ns.adobe.com/xap/1.0/" NUL
//    holds the main packet; APP1 segments opening with
//    "http://ns.adobe.com/xmp/extension/" NUL hold Extended XMP chunks:
//      32 bytes  GUID (the MD5 of the whole extension, hex), named by the
//                main packet's xmpNote:HasExtendedXMP
//      4 bytes   full length of the extension (big-endian)
//      4 bytes   offset of this chunk in it (big-endian)
//      ...       the chunk
//    Chunks are joined only when every one lies inside the stated full
//    length, the full length is at most kXmpPacketMax and the chunks cover
//    it without a gap; otherwise the extension is refused (the main packet
//    still counts).
//  - TIFF: tag 700 (XMLPacket) of the first image file directory, when its
//    bytes lie wholly inside the data.
//  - EPS: the first "<?xpacket begin" ... "<?xpacket end" packet of the data.
//
// Thread safety: reentrant; `data` is only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/xmp_packet.h"
#include "platform/file_system.h"

namespace vantrel {

inline constexpr uint16_t kTiffTagXmp = 700;
inline constexpr std::string_view kJpegXmpId("http://ns.adobe.com/xap/1.0/\0", 29);
inline constexpr std::string_view kJpegExtendedXmpId("http://ns.adobe.com/xmp/extension/\0", 35);

// One Extended XMP chunk as found; `bytes` points into the data.
struct ExtendedXmpChunk {
  std::string guid;
  uint32_t full_length = 0;
  uint32_t offset = 0;
  std::string_view bytes;
};

struct EmbeddedXmp {
  std::string_view main;  // the main packet, into the data; empty when none
  std::vector<ExtendedXmpChunk> chunks;
};

// The XMP of a JPEG stream (SOI at 0, or at 128 behind a MacBinary header):
// the APP1 segments in front of the first SOS. False when there is none.
bool FindJpegXmp(std::string_view data, EmbeddedXmp* out);
// Tag 700 of a TIFF file's first directory.
bool FindTiffXmp(std::string_view data, EmbeddedXmp* out);
// The first <?xpacket?> packet (EPS).
bool FindXpacket(std::string_view data, EmbeddedXmp* out);

// Joins the chunks of extension `guid` (see above); "" when refused or none.
std::string JoinExtendedXmp(const std::vector<ExtendedXmpChunk>& chunks, std::string_view guid);

// The caption of the XMP in a file's data (JPEG, then TIFF, then, for
// PostScript, <?xpacket?>): the main packet's datasets, filled up with those
// of its Extended XMP. Empty when the data holds no readable XMP.
XmpCaption ReadEmbeddedXmp(std::string_view data, const CodePage& code_page = CodePage::Default());

// The sidecar names of a picture: "<folder>/<stem>.xmp", then
// "<folder>/<name>.xmp" (e.g. "a/b.jpg": "a/b.xmp", "a/b.jpg.xmp"). None for
// a name that itself ends in ".xmp".
std::vector<std::string> XmpSidecarPaths(const std::string& picture_path);

// True when `path` names an XMP sidecar (ends in ".xmp", any case).
bool IsXmpSidecarName(std::string_view path);

// The caption of the first sidecar of `picture_path` that can be read
// (through `fs`, which never follows a symbolic link; at most kXmpPacketMax
// bytes). Empty when there is none.
//
// `listed_files`, when given, holds the names of the files that the listing
// of the picture's folder showed, sorted by bytes (folders and links may be
// left out): a sidecar name that is not among them is passed over without
// looking on disk, so a scan pays no failed open per picture. Null: every
// sidecar name is tried on disk.
XmpCaption ReadXmpSidecar(FileSystem& fs, const std::string& picture_path,
                          const CodePage& code_page = CodePage::Default(),
                          const std::vector<std::string>* listed_files = nullptr);

}  // namespace vantrel
