// The XMP packet parser: the RDF forms writers use, the lang-alt choice, the
// date split, and the bounds that keep hostile packets cheap.
#include "metadata/xmp_packet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

using Datasets = std::vector<std::pair<int, std::string>>;

constexpr const char* kHead =
    "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>"
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>";
constexpr const char* kTail = "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
constexpr const char* kNamespaces =
    " xmlns:dc='http://purl.org/dc/elements/1.1/'"
    " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
    " xmlns:Iptc4xmpCore='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/'";

std::string Packet(const std::string& description_attrs, const std::string& body) {
  return std::string(kHead) + "<rdf:Description rdf:about=''" + kNamespaces + description_attrs +
         ">" + body + "</rdf:Description>" + kTail;
}

Datasets Parse(const std::string& packet) {
  StatusOr<XmpCaption> parsed = ParseXmpPacket(packet, CodePage::BuiltInWindows1252());
  EXPECT_TRUE(parsed.ok()) << parsed.status().ToString();
  Datasets out;
  if (parsed.ok()) {
    for (const XmpDataset& d : parsed->datasets) out.emplace_back(d.dataset, d.value);
  }
  return out;
}

std::string ParseError(const std::string& packet) {
  StatusOr<XmpCaption> parsed = ParseXmpPacket(packet, CodePage::BuiltInWindows1252());
  return parsed.ok() ? "" : parsed.status().message();
}

TEST(XmpPacket, ReadsTheRdfFormsWritersUse) {
  struct Case {
    const char* name;
    std::string attrs, body;
    Datasets expected;
  };
  const std::vector<Case> cases = {
      {"simple element, UTF-8 to the code page", "",
       "<photoshop:City>Z\xC3\xBCrich \xE2\x82\xAC \xE4\xB8\xAD</photoshop:City>",
       {{90, "Z\xFCrich \x80 ?"}}},
      {"attributes of the description", " photoshop:Credit='AP' Iptc4xmpCore:CountryCode='CH'",
       "", {{110, "AP"}, {100, "CH"}}},
      {"bag: each item one value", "",
       "<dc:subject><rdf:Bag><rdf:li>one</rdf:li><rdf:li> two </rdf:li><rdf:li/></rdf:Bag>"
       "</dc:subject>",
       {{25, "one"}, {25, "two"}}},
      {"seq", "", "<dc:creator><rdf:Seq><rdf:li>A</rdf:li><rdf:li>B</rdf:li></rdf:Seq></dc:creator>",
       {{80, "A"}, {80, "B"}}},
      {"lang-alt takes x-default", "",
       "<dc:description><rdf:Alt><rdf:li xml:lang='de'>Hallo</rdf:li>"
       "<rdf:li xml:lang='x-default'>Hello</rdf:li></rdf:Alt></dc:description>",
       {{120, "Hello"}}},
      {"lang-alt without x-default takes the first", "",
       "<dc:title><rdf:Alt><rdf:li xml:lang='de'>Titel</rdf:li>"
       "<rdf:li xml:lang='fr'>Titre</rdf:li></rdf:Alt></dc:title>",
       {{5, "Titel"}}},
      {"date and time", "", "<photoshop:DateCreated>2023-05-17T14:30:05+02:00</photoshop:DateCreated>",
       {{55, "20230517"}, {60, "143005+0200"}}},
      {"structures, unknown properties and nested descriptions are not read", "",
       "<dc:rights><rdf:Alt><rdf:li xml:lang='x-default'><b>bold</b></rdf:li></rdf:Alt></dc:rights>"
       "<photoshop:Unknown>x</photoshop:Unknown>"
       "<Iptc4xmpCore:CreatorContactInfo rdf:parseType='Resource'>"
       "<photoshop:City>inner</photoshop:City></Iptc4xmpCore:CreatorContactInfo>",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(Packet(c.attrs, c.body)), c.expected);
  }
  // A packet without the wrapper, with NUL padding and bytes behind the end.
  EXPECT_EQ(Parse(std::string("<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                              "<rdf:Description photoshop:State='VD'"
                              " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'/>"
                              "</rdf:RDF>  junk") +
                  std::string(5, '\0')),
            (Datasets{{95, "VD"}}));
}

TEST(XmpPacket, ExtendedXmpGuidIsReported) {
  StatusOr<XmpCaption> parsed = ParseXmpPacket(Packet(
      " xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmpNote:HasExtendedXMP='ABCDEF'", ""));
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->extended_guid, "ABCDEF");
}

TEST(XmpPacket, DatesSplitIntoIimDateAndTime) {
  struct Case {
    const char* xmp;
    bool ok;
    const char* date;
    const char* time;
  };
  for (const Case& c : {Case{"2023-05-17T14:30:05+02:00", true, "20230517", "143005+0200"},
                        Case{"2023-05-17T14:30Z", true, "20230517", "143000+0000"},
                        Case{"2023-05-17T14:30:05.25-05:30", true, "20230517", "143005-0530"},
                        Case{"2023-05-17", true, "20230517", ""},
                        Case{"2023-05", true, "20230500", ""}, Case{"2023", true, "20230000", ""},
                        Case{"May 2023", false, "", ""}}) {
    SCOPED_TRACE(c.xmp);
    std::string date, time;
    ASSERT_EQ(XmpDateToIim(c.xmp, &date, &time), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
  }
}

TEST(XmpPacket, HostilePacketsAreRefusedCheaply) {
  const auto start = std::chrono::steady_clock::now();
  // 100 MB: refused by its size, before any parsing.
  std::string huge(100u << 20, ' ');
  EXPECT_NE(ParseError(huge).find("refused"), std::string::npos);
  // Entity expansion (billion laughs): the document type declaration stops it.
  std::string laughs = "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) laughs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
    laughs += "'>";
  }
  laughs += "]><lolz>&lol9;</lolz>";
  EXPECT_NE(ParseError(laughs).find("document type"), std::string::npos);
  // An external entity is never loaded.
  EXPECT_NE(ParseError("<!DOCTYPE x [<!ENTITY e SYSTEM '/etc/passwd'>]><x>&e;</x>").find("document type"),
            std::string::npos);
  // 10,000-deep nesting stops at the depth cap.
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<a>";
  for (int i = 0; i < 10000; ++i) deep += "</a>";
  EXPECT_NE(ParseError(deep).find("deeper"), std::string::npos);
  // Malformed XML says where.
  EXPECT_NE(ParseError(Packet("", "<photoshop:City>x</photoshop:Town>")).find("line"),
            std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// Each thread keeps one parser for its packets: a packet that stopped the
// parse, or a large one, leaves nothing behind for the next.
TEST(XmpPacket, EachPacketIsReadAfreshByTheThreadsParser) {
  const std::string good = Packet("", "<photoshop:City>Bern</photoshop:City>");
  const Datasets bern = {{90, "Bern"}};
  const std::string large =
      Packet("", "<photoshop:City>Genf</photoshop:City>" + std::string(300u << 10, ' '));
  for (const std::string& before :
       {std::string("<a><b></a>"), std::string("<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>"),
        Packet("", "<photoshop:City>Basel</photoshop:City><photoshop:City>")}) {
    EXPECT_NE(ParseError(before), "");
    EXPECT_EQ(Parse(good), bern);
  }
  EXPECT_EQ(Parse(large), (Datasets{{90, "Genf"}}));
  EXPECT_EQ(Parse(good), bern);
  // Bytes behind the root element are not read, whatever they are.
  EXPECT_EQ(Parse(good + "<junk>&undefined;" + std::string(5000, ' ')), bern);
}

TEST(XmpPacket, LongValuesAreCut) {
  Datasets got = Parse(Packet("", "<photoshop:Headline>" + std::string(40000, 'h') +
                                      "</photoshop:Headline>"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].second, std::string(kXmpValueMax, 'h'));
}

}  // namespace
}  // namespace vantrel
