#include "metadata/xmp_packet.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <random>

namespace vantrel {
namespace {

// expat joins a namespace URI and a local name with this separator; URIs
// cannot hold a blank.
constexpr char kSep = ' ';

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kDc = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kPhotoshop = "http://ns.adobe.com/photoshop/1.0/";
constexpr std::string_view kIptcCore = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
constexpr std::string_view kXmpNote = "http://ns.adobe.com/xmp/note/";
constexpr std::string_view kXmlLang = "http://www.w3.org/XML/1998/namespace lang";

// Pseudo datasets for properties that are not copied as one value.
constexpr int kPropertyDate = -1;         // 2:55 and 2:60
constexpr int kPropertyExtendedGuid = -2;  // xmpNote:HasExtendedXMP
constexpr int kDatasetTimeCreated = 60;

struct Mapping {
  std::string_view ns;
  std::string_view name;
  int dataset;
};

constexpr Mapping kMappings[] = {
    {kDc, "description", 120},
    {kDc, "title", 5},
    {kDc, "subject", 25},
    {kDc, "creator", 80},
    {kDc, "rights", 116},
    {kPhotoshop, "Headline", 105},
    {kPhotoshop, "AuthorsPosition", 85},
    {kPhotoshop, "City", 90},
    {kPhotoshop, "State", 95},
    {kPhotoshop, "Country", 101},
    {kPhotoshop, "Credit", 110},
    {kPhotoshop, "Source", 115},
    {kPhotoshop, "Instructions", 40},
    {kPhotoshop, "TransmissionReference", 103},
    {kPhotoshop, "CaptionWriter", 122},
    {kPhotoshop, "Category", 15},
    {kPhotoshop, "SupplementalCategories", 20},
    {kPhotoshop, "DateCreated", kPropertyDate},
    {kIptcCore, "Location", 92},
    {kIptcCore, "CountryCode", 100},
    {kXmpNote, "HasExtendedXMP", kPropertyExtendedGuid},
};

// 0 when the expanded name "<uri> <local>" is no mapped property.
int PropertyOf(std::string_view expanded) {
  size_t sep = expanded.find(kSep);
  if (sep == std::string_view::npos) return 0;
  std::string_view ns = expanded.substr(0, sep);
  std::string_view name = expanded.substr(sep + 1);
  for (const Mapping& m : kMappings) {
    if (m.ns == ns && m.name == name) return m.dataset;
  }
  return 0;
}

bool IsRdf(std::string_view expanded, std::string_view local) {
  return expanded.size() == kRdf.size() + 1 + local.size() &&
         expanded.substr(0, kRdf.size()) == kRdf && expanded[kRdf.size()] == kSep &&
         expanded.substr(kRdf.size() + 1) == local;
}

enum class Element { kRdf, kDescription, kOther };

enum class Container { kNone, kBag, kSeq, kAlt };

// The property being read: a child element of a top-level rdf:Description.
struct Property {
  int dataset = 0;  // 0: none
  int depth = 0;    // of the property element
  Container container = Container::kNone;
  bool in_item = false;  // inside an rdf:li
  std::string item_lang;
  std::string text;
  std::vector<std::string> values;  // UTF-8
  int chosen_alt = -1;              // the x-default item of an rdf:Alt
};

struct ParseState {
  XML_Parser parser = nullptr;
  const CodePage* code_page = nullptr;
  int depth = 0;
  bool root_closed = false;
  std::string error;  // set when a handler stopped the parse
  std::vector<Element> stack;
  Property property;
  XmpCaption out;
};

void Stop(ParseState& s, std::string message) {
  if (s.error.empty()) s.error = std::move(message);
  XML_StopParser(s.parser, XML_FALSE);
}

std::string Trimmed(std::string_view v) {
  const char* blanks = " \t\r\n";
  size_t b = v.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  size_t e = v.find_last_not_of(blanks);
  return std::string(v.substr(b, e - b + 1));
}

void Emit(ParseState& s, int dataset, std::string_view utf8) {
  std::string text = Trimmed(utf8);
  if (text.empty()) return;
  if (dataset == kPropertyExtendedGuid) {
    s.out.extended_guid = text;
    return;
  }
  if (dataset == kPropertyDate) {
    std::string date, time;
    if (!XmpDateToIim(text, &date, &time)) return;
    s.out.datasets.push_back({55, date});
    if (!time.empty()) s.out.datasets.push_back({kDatasetTimeCreated, time});
    return;
  }
  std::string value = s.code_page->FromUtf8(text);
  if (value.size() > kXmpValueMax) value.resize(kXmpValueMax);
  s.out.datasets.push_back({dataset, std::move(value)});
}

void FinishProperty(ParseState& s) {
  Property& p = s.property;
  if (p.container == Container::kNone) {
    Emit(s, p.dataset, p.text);
  } else if (p.container == Container::kAlt) {
    if (!p.values.empty()) Emit(s, p.dataset, p.values[p.chosen_alt >= 0 ? p.chosen_alt : 0]);
  } else {
    for (const std::string& v : p.values) Emit(s, p.dataset, v);
  }
  p = Property{};
}

void AppendText(std::string& text, std::string_view more) {
  // Room for kXmpValueMax code-page bytes from UTF-8 of up to 4 bytes each.
  const size_t cap = kXmpValueMax * 4;
  if (text.size() < cap) text.append(more.substr(0, cap - text.size()));
}

const char* Attribute(const char** attrs, std::string_view name) {
  for (size_t i = 0; attrs[i] != nullptr; i += 2) {
    if (name == attrs[i]) return attrs[i + 1];
  }
  return nullptr;
}

// Property values written as attributes of an rdf:Description.
void ReadAttributeProperties(ParseState& s, const char** attrs) {
  for (size_t i = 0; attrs[i] != nullptr; i += 2) {
    int dataset = PropertyOf(attrs[i]);
    if (dataset != 0) Emit(s, dataset, attrs[i + 1]);
  }
}

void StartInsideProperty(ParseState& s, std::string_view name, const char** attrs) {
  Property& p = s.property;
  if (s.depth == p.depth + 1 && p.container == Container::kNone) {
    if (IsRdf(name, "Bag")) p.container = Container::kBag;
    if (IsRdf(name, "Seq")) p.container = Container::kSeq;
    if (IsRdf(name, "Alt")) p.container = Container::kAlt;
    p.text.clear();
  } else if (s.depth == p.depth + 2 && p.container != Container::kNone && IsRdf(name, "li")) {
    p.in_item = true;
    const char* lang = Attribute(attrs, kXmlLang);
    p.item_lang = lang != nullptr ? lang : "";
    p.text.clear();
  }
}

void EndInsideProperty(ParseState& s) {
  Property& p = s.property;
  if (p.in_item && s.depth == p.depth + 2) {
    p.in_item = false;
    if (p.container == Container::kAlt && p.chosen_alt < 0 && p.item_lang == "x-default") {
      p.chosen_alt = static_cast<int>(p.values.size());
    }
    p.values.push_back(std::move(p.text));
    p.text.clear();
  }
}

void XMLCALL OnStart(void* data, const XML_Char* name_c, const XML_Char** attrs) {
  ParseState& s = *static_cast<ParseState*>(data);
  ++s.depth;
  if (s.depth > kXmpDepthMax) {
    Stop(s, "XMP nested deeper than " + std::to_string(kXmpDepthMax) + " elements");
    return;
  }
  std::string_view name = name_c;
  Element parent = s.stack.empty() ? Element::kOther : s.stack.back();
  Element kind = Element::kOther;
  if (IsRdf(name, "RDF")) {
    kind = Element::kRdf;
  } else if (IsRdf(name, "Description") && parent == Element::kRdf) {
    kind = Element::kDescription;
    ReadAttributeProperties(s, attrs);
  } else if (s.property.dataset != 0) {
    StartInsideProperty(s, name, attrs);
  } else if (parent == Element::kDescription) {
    int dataset = PropertyOf(name);
    if (dataset != 0) {
      s.property = Property{};
      s.property.dataset = dataset;
      s.property.depth = s.depth;
    }
  }
  s.stack.push_back(kind);
}

void XMLCALL OnEnd(void* data, const XML_Char* /*name*/) {
  ParseState& s = *static_cast<ParseState*>(data);
  if (s.property.dataset != 0) {
    if (s.depth == s.property.depth) {
      FinishProperty(s);
    } else {
      EndInsideProperty(s);
    }
  }
  if (!s.stack.empty()) s.stack.pop_back();
  --s.depth;
  if (s.depth == 0) {
    // What follows the root element (the padding writers leave for editing
    // in place, the closing <?xpacket?>) holds nothing to read.
    s.root_closed = true;
    XML_StopParser(s.parser, XML_FALSE);
  }
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  ParseState& s = *static_cast<ParseState*>(data);
  Property& p = s.property;
  if (p.dataset == 0 || length <= 0) return;
  const bool simple = p.container == Container::kNone && s.depth == p.depth;
  const bool item = p.in_item && s.depth == p.depth + 2;
  if (simple || item) AppendText(p.text, std::string_view(text, static_cast<size_t>(length)));
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  Stop(*static_cast<ParseState*>(data), "XMP with a document type declaration refused");
}

void XMLCALL OnEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                          const XML_Char*, const XML_Char*, const XML_Char*) {
  Stop(*static_cast<ParseState*>(data), "XMP with an entity declaration refused");
}

int XMLCALL OnExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                             const XML_Char*) {
  return XML_STATUS_ERROR;  // never loaded
}

struct ParserDeleter {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

// A parser keeps the buffer of the largest packet it read; one that read more
// than this is not kept for the next packet.
constexpr size_t kKeptParserPacketMax = 256u << 10;

// The parser of this thread, made once and reset for each packet: making one
// costs about as much as parsing a typical packet. Lent out to one parse at a
// time (a parse never starts another, but a second borrower gets a parser of
// its own).
class ParserLoan {
 public:
  ParserLoan() {
    Slot& slot = ThreadSlot();
    if (!slot.lent && slot.parser && XML_ParserReset(slot.parser.get(), nullptr)) {
      parser_ = std::move(slot.parser);
    } else {
      parser_.reset(XML_ParserCreateNS(nullptr, kSep));
    }
    if (!slot.lent) {
      slot.lent = true;
      mine_ = true;
    }
  }
  ~ParserLoan() {
    if (!mine_) return;
    Slot& slot = ThreadSlot();
    slot.lent = false;
    if (keep_) slot.parser = std::move(parser_);
  }
  ParserLoan(const ParserLoan&) = delete;
  ParserLoan& operator=(const ParserLoan&) = delete;

  XML_Parser get() const { return parser_.get(); }
  // The parser read `bytes`: kept only when they were few.
  void Read(size_t bytes) { keep_ = bytes <= kKeptParserPacketMax; }

 private:
  struct Slot {
    ParserPtr parser;
    bool lent = false;
  };
  static Slot& ThreadSlot() {
    thread_local Slot slot;
    return slot;
  }
  ParserPtr parser_;
  bool mine_ = false;
  bool keep_ = false;
};

// One random hash salt per process: expat would otherwise draw one from the
// kernel for every parser, which costs more than parsing a typical packet,
// while a salt that outside data cannot guess still keeps hash flooding out.
unsigned long ProcessHashSalt() {
  static const unsigned long salt = [] {
    std::random_device random;
    return (static_cast<unsigned long>(random()) << 32) ^ random() ^ 1u;
  }();
  return salt;
}

void ConfigureParser(XML_Parser p, ParseState* state) {
  XML_SetHashSalt(p, ProcessHashSalt());
  XML_SetUserData(p, state);
  XML_SetElementHandler(p, OnStart, OnEnd);
  XML_SetCharacterDataHandler(p, OnText);
  XML_SetStartDoctypeDeclHandler(p, OnDoctype);
  XML_SetEntityDeclHandler(p, OnEntityDecl);
  XML_SetExternalEntityRefHandler(p, OnExternalEntity);
#ifdef XML_DTD
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4)
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(p, 10.0f);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(p, 1u << 20);
#endif
#endif
}

// Writers pad packets in JPEG segments with NUL bytes.
std::string_view WithoutTrailingNuls(std::string_view packet) {
  while (!packet.empty() && packet.back() == '\0') packet.remove_suffix(1);
  return packet;
}

}  // namespace

bool XmpDateToIim(std::string_view v, std::string* date, std::string* time) {
  auto digits = [&](size_t at, size_t n) {
    if (v.size() < at + n) return false;
    return std::all_of(v.begin() + at, v.begin() + at + n, [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(0, 4)) return false;
  std::string month = "00", day = "00";
  if (v.size() >= 7 && v[4] == '-' && digits(5, 2)) month = std::string(v.substr(5, 2));
  if (month != "00" && v.size() >= 10 && v[7] == '-' && digits(8, 2)) day = std::string(v.substr(8, 2));
  *date = std::string(v.substr(0, 4)) + month + day;
  time->clear();
  if (day == "00" || v.size() < 16 || v[10] != 'T' || !digits(11, 2) || v[13] != ':' ||
      !digits(14, 2)) {
    return true;
  }
  std::string seconds = "00";
  size_t zone = 16;
  if (v.size() >= 19 && v[16] == ':' && digits(17, 2)) {
    seconds = std::string(v.substr(17, 2));
    zone = 19;
  }
  while (zone < v.size() && (v[zone] == '.' || (v[zone] >= '0' && v[zone] <= '9'))) ++zone;
  std::string offset = "+0000";
  if (zone < v.size() && (v[zone] == '+' || v[zone] == '-') && digits(zone + 1, 2) &&
      v.size() >= zone + 6 && v[zone + 3] == ':' && digits(zone + 4, 2)) {
    offset = std::string(1, v[zone]) + std::string(v.substr(zone + 1, 2)) +
             std::string(v.substr(zone + 4, 2));
  }
  *time = std::string(v.substr(11, 2)) + std::string(v.substr(14, 2)) + seconds + offset;
  return true;
}

StatusOr<XmpCaption> ParseXmpPacket(std::string_view packet, const CodePage& code_page) {
  packet = WithoutTrailingNuls(packet);
  if (packet.size() > kXmpPacketMax) {
    return Status::InvalidArgument("XMP packet of " + std::to_string(packet.size()) +
                                   " bytes refused (limit " + std::to_string(kXmpPacketMax) + ")");
  }
  ParserLoan parser;
  if (parser.get() == nullptr) return Status::ResourceExhausted("no memory for the XML parser");
  parser.Read(packet.size());
  ParseState state;
  state.parser = parser.get();
  state.code_page = &code_page;
  ConfigureParser(parser.get(), &state);
  const XML_Status status =
      XML_Parse(parser.get(), packet.data(), static_cast<int>(packet.size()), XML_TRUE);
  if (!state.error.empty()) return Status::InvalidArgument(state.error);
  // The parse stops where the root element closes; bytes behind it (padding
  // a writer left) are not read.
  if (status != XML_STATUS_OK && !state.root_closed) {
    return Status::InvalidArgument(std::string("XMP is not well-formed XML: ") +
                                   XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
                                   std::to_string(XML_GetCurrentLineNumber(parser.get())));
  }
  return std::move(state.out);
}

void AddMissingXmpDatasets(XmpCaption& into, const XmpCaption& more) {
  std::vector<int> present;
  for (const XmpDataset& d : into.datasets) present.push_back(d.dataset);
  for (const XmpDataset& d : more.datasets) {
    if (std::find(present.begin(), present.end(), d.dataset) == present.end()) {
      into.datasets.push_back(d);
    }
  }
}

}  // namespace vantrel
