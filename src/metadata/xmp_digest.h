// The IPTC digest of the Metadata Working Group: Photoshop resource 0x0425
// holds the MD5 of the IPTC-NAA block (the data of resource 0x0404) as it
// stood when a tool last wrote IIM and XMP together. When it still matches,
// the two copies are in step.
//
// Thread safety: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vantrel {

inline constexpr uint16_t kResourceIptcDigest = 0x0425;

// RFC 1321 MD5 of `bytes`.
std::array<uint8_t, 16> Md5(std::string_view bytes);

// True when the Photoshop resource block holds a 16-byte digest resource and
// an IPTC resource whose data has that MD5.
bool IptcDigestMatches(std::string_view resources);

}  // namespace vantrel
