// XmpCaptionText: the values of an XMP packet as plain text, for documents
// that carry text rather than caption fields (PDF documents): every value
// of the mapping but the date and time (2:55, 2:60), in packet order, each
// followed by CR LF as the PDF information entries are. A value equal to one
// of `known` (the information entries already in the text) or to a value
// taken before is left out, so that a packet that repeats the information
// dictionary, as PDF writers keep them in step, adds nothing.
//
// Thread safety: a pure function.
#pragma once

#include <string>
#include <vector>

#include "metadata/xmp_packet.h"

namespace vantrel {

std::string XmpCaptionText(const XmpCaption& caption, const std::vector<std::string>& known);

}  // namespace vantrel
