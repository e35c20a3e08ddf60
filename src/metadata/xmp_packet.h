// ParseXmpPacket: the caption values of one XMP packet (an RDF/XML document)
// as record-2 datasets, so that the document builder can merge them into the
// caption record the IIM readers filled.
//
// The packet is read with expat, bounded: packets larger than kXmpPacketMax
// are refused before parsing, element nesting deeper than kXmpDepthMax stops
// the parse, and any document type declaration (and with it every entity
// declaration) is refused, so entity expansion cannot happen and external
// entities are never loaded.
//
// RDF as writers store it: a property is a child element of an rdf:Description
// (itself a child of rdf:RDF) or an attribute of that rdf:Description. Its
// value is the element's text, or the rdf:li items of an rdf:Bag, rdf:Seq
// (each item one value) or rdf:Alt (one value: the item with xml:lang
// "x-default", else the first). Structures below a property are not read.
//
// The mapping (docs/metadata.md, "Captions from XMP"):
//   dc:description 2:120, dc:title 2:05, dc:subject 2:25 (each item one
//   keyword), photoshop:Headline 2:105, dc:creator 2:80,
//   photoshop:AuthorsPosition 2:85, photoshop:City 2:90,
//   Iptc4xmpCore:Location 2:92, photoshop:State 2:95, photoshop:Country 2:101,
//   Iptc4xmpCore:CountryCode 2:100, photoshop:Credit 2:110,
//   photoshop:Source 2:115, dc:rights 2:116, photoshop:Instructions 2:40,
//   photoshop:TransmissionReference 2:103, photoshop:CaptionWriter 2:122,
//   photoshop:Category 2:15, photoshop:SupplementalCategories 2:20,
//   photoshop:DateCreated 2:55 (CCYYMMDD) and 2:60 (HHMMSS+HHMM, when the
//   value holds a time).
//
// Values are converted from UTF-8 into the code page (characters it lacks
// become '?'), cut to kXmpValueMax bytes; empty values are dropped.
//
// Thread safety: reentrant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr size_t kXmpPacketMax = 4u << 20;
inline constexpr int kXmpDepthMax = 64;
// Longest value taken (the IIM standard length leaves room for it).
inline constexpr size_t kXmpValueMax = 32000;

struct XmpDataset {
  int dataset = 0;    // record-2 dataset number
  std::string value;  // code page
};

struct XmpCaption {
  std::vector<XmpDataset> datasets;  // in packet order
  // xmpNote:HasExtendedXMP: the GUID of the Extended XMP that belongs to this
  // packet, "" when none.
  std::string extended_guid;
};

// Parses one packet (with or without the <?xpacket?> wrapper and the
// x:xmpmeta element). kInvalidArgument for a packet too large, malformed,
// too deep or carrying a document type declaration; the message says which.
StatusOr<XmpCaption> ParseXmpPacket(std::string_view packet,
                                    const CodePage& code_page = CodePage::Default());

// Appends the datasets of `more` that `into` lacks (by dataset number).
void AddMissingXmpDatasets(XmpCaption& into, const XmpCaption& more);

// "2023-05-17T14:30:05+02:00" -> 2:55 "20230517" and 2:60 "143005+0200";
// a date alone gives 2:55 only, "2023" gives "20230000". False when the value
// does not start with a year.
bool XmpDateToIim(std::string_view value, std::string* date, std::string* time);

}  // namespace vantrel
