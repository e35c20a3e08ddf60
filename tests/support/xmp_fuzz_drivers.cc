#include "support/xmp_fuzz_drivers.h"

#include <cstdint>

#include "metadata/iim_charset.h"
#include "metadata/iim_codec.h"
#include "metadata/xmp_merge.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_sources.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const CodePage& Cp1252() {
  static const CodePage cp = CodePage::BuiltInWindows1252();
  return cp;
}

std::string Be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string App1(std::string_view payload) {
  const size_t length = payload.size() + 2;
  return std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) +
         static_cast<char>(length & 0xFF) + std::string(payload);
}

const char kGuid[] = "0123456789ABCDEF0123456789ABCDEF";

std::string Packet(const std::string& body) {
  return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:dc='http://purl.org/dc/elements/1.1/' "
         "xmlns:xmpNote='http://ns.adobe.com/xmp/note/' "
         "xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'" +
         body + "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
}

// A JPEG with a main packet naming an extension, and chunks of it at the
// given offsets (each chunk `size` bytes of the extension), all stating the
// full length `full` (0: the extension's true length).
std::string JpegWithExtension(uint32_t full, const std::vector<std::pair<uint32_t, size_t>>& chunks) {
  const std::string extension =
      Packet("><dc:description><rdf:Alt><rdf:li xml:lang='x-default'>extended</rdf:li></rdf:Alt>"
             "</dc:description>");
  if (full == 0) full = static_cast<uint32_t>(extension.size());
  std::string jpeg = "\xFF\xD8";
  jpeg += App1(std::string(kJpegXmpId) +
               Packet(std::string(" xmpNote:HasExtendedXMP='") + kGuid +
                      "' photoshop:City='Main'>"));
  for (const auto& [offset, size] : chunks) {
    std::string part = offset < extension.size() ? extension.substr(offset, size) : std::string(size, 'x');
    jpeg += App1(std::string(kJpegExtendedXmpId) + kGuid + Be32(full) + Be32(offset) + part);
  }
  return jpeg + std::string("\xFF\xDA\x00\x02\xFF\xD9", 6);
}

}  // namespace

void FuzzXmpPacket(std::string_view data) {
  StatusOr<XmpCaption> parsed = ParseXmpPacket(data, Cp1252());
  if (parsed.ok()) {
    for (const XmpDataset& d : parsed->datasets) {
      if (d.value.empty() || d.value.size() > kXmpValueMax) __builtin_trap();
    }
    CaptionRecord record;
    record.iptc = MakeIptcBlock({{2, 120, std::string(kIimCaptionLimit, 'c')}});
    MergeXmpCaption(record, *parsed, FindCutIimValues(record.iptc));
  }
  EmbeddedXmp found;
  if (FindJpegXmp(data, &found)) {
    for (const ExtendedXmpChunk& c : found.chunks) {
      const std::string joined = JoinExtendedXmp(found.chunks, c.guid);
      if (joined.size() > kXmpPacketMax) __builtin_trap();
    }
  }
  (void)ReadEmbeddedXmp(data, Cp1252());
}

void FuzzIimCharset(std::string_view data) {
  (void)DeclaredIimCharset(data);
  (void)DeclaredResourceCharset(data);
  std::u32string chars;
  if (DecodeUtf8Strict(data, &chars)) {
    for (char32_t c : chars) {
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) __builtin_trap();
    }
  }
  for (IimCharset cs : {IimCharset::kUndeclared, IimCharset::kUtf8, IimCharset::kLatin1,
                        IimCharset::kOther}) {
    const std::string value = ConvertIimValue(data, cs, Cp1252());
    // A conversion never grows a value (each character becomes one byte).
    if (value.size() > data.size()) __builtin_trap();
    CaptionRecord record;
    record.iptc = std::string(data);
    ConvertIimCharset(record, cs, Cp1252());
  }
}

const std::vector<XmpFuzzTarget>& XmpFuzzTargets() {
  static const std::vector<XmpFuzzTarget> targets = {{"xmp_packet_fuzz", FuzzXmpPacket},
                                                     {"iim_charset_fuzz", FuzzIimCharset}};
  return targets;
}

std::vector<std::pair<std::string, std::string>> XmpFuzzSeeds(std::string_view target) {
  if (target == "xmp_packet_fuzz") {
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol0 'lol'>";
    for (int i = 1; i <= 9; ++i) {
      laughs += "<!ENTITY lol" + std::to_string(i) + " '";
      for (int k = 0; k < 10; ++k) laughs += "&lol" + std::to_string(i - 1) + ";";
      laughs += "'>";
    }
    laughs += "]><lolz>&lol9;</lolz>";
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "<a>";
    for (int i = 0; i < 10000; ++i) deep += "</a>";
    const std::string packet =
        Packet("><dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li>two</rdf:li></rdf:Bag>"
               "</dc:subject><dc:title><rdf:Alt><rdf:li xml:lang='de'>T</rdf:li>"
               "<rdf:li xml:lang='x-default'>Title</rdf:li></rdf:Alt></dc:title>"
               "<photoshop:DateCreated>2023-05-17T14:30:05+02:00</photoshop:DateCreated>");
    return {{"packet.xmp", packet},
            {"billion_laughs.xml", laughs},
            {"external_entity.xml", "<!DOCTYPE x [<!ENTITY e SYSTEM '/etc/passwd'>]><x>&e;</x>"},
            {"deep.xml", deep},
            {"extended.jpg", JpegWithExtension(0, {{0, 200}, {200, 100000}})},
            {"extended_lying_offset.jpg", JpegWithExtension(300, {{0, 200}, {4000000000u, 100}})},
            {"extended_lying_length.jpg", JpegWithExtension(0xFFFFFFF0u, {{0, 200}})},
            {"extended_gap.jpg", JpegWithExtension(400, {{0, 100}, {300, 100}})}};
  }
  if (target == "iim_charset_fuzz") {
    return {{"utf8_declared", MakeIptcBlock({{1, 90, "\x1B%G"}}, false) +
                                  MakeIptcBlock({{2, 120, "Caf\xC3\xA9"}})},
            {"overlong", "\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF"},
            {"surrogates", "\xED\xA0\x80\xED\xBF\xBF"},
            {"double_encoded", "Caf\xC3\x83\xC2\xA9 \xC3\xA2\xE2\x82\xAC\xC5\xA1"},
            {"cut", "Caf\xC3"}};
  }
  return {};
}

}  // namespace vantrel
