// PDF documents through poppler-cpp (see pdf_reader.h).
#include "pdf/pdf_reader.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace vantrel {
namespace {

// The information entries that enter the text, in their order.
constexpr const char* kInfoKeys[] = {"Title", "Author", "Creator", "Keywords"};

void IgnoreLibraryMessage(const std::string& /*message*/, void* /*closure*/) {}

std::string Utf8(const poppler::ustring& text) {
  poppler::byte_array bytes = text.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

// The catalog's XMP packet as the stream's bytes; "" when none or too large.
// The library hands the stream over one byte per character (as if it were
// Latin-1) unless it opens with a UTF-16 byte order mark; the bytes are
// taken back so that the packet's own UTF-8 stays as written.
std::string DocumentXmp(const poppler::document& document) {
  const poppler::ustring text = document.metadata();
  if (text.size() > kPdfXmpPacketMax) return "";
  const bool bytes = std::all_of(text.begin(), text.end(), [](auto c) { return c <= 0xFF; });
  std::string packet = bytes ? std::string(text.begin(), text.end()) : Utf8(text);
  if (packet.size() > kPdfXmpPacketMax) packet.clear();
  return packet;
}

// Opens the document and hands over what it holds: on_xmp(packet, values)
// when given, on_info(index, value) for the four entries, on_page(index)
// before the words of a page (and on_page(-1) once the last page is done),
// and on_word(text, y) for every word; on_word returns false to stop reading.
// Exceptions of the library end the reading with kInternal.
template <typename OnInfo, typename OnPage, typename OnWord>
Status ReadDocument(const std::string& native_path, OnInfo on_info, OnPage on_page,
                    OnWord on_word, bool read_pages = true, const PdfXmpHandler& on_xmp = {}) {
  try {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(native_path));
    if (!document) return Status::Corruption("cannot open the PDF document " + native_path);
    if (document->is_locked()) {
      return Status::Corruption("the PDF document is locked by a password: " + native_path);
    }
    std::vector<std::string> info;
    for (const char* key : kInfoKeys) info.push_back(Utf8(document->info_key(key)));
    if (on_xmp) on_xmp(DocumentXmp(*document), info);
    for (int i = 0; i < 4; ++i) on_info(i, info[static_cast<size_t>(i)]);
    const int pages = read_pages ? document->pages() : 0;
    for (int i = 0; i < pages; ++i) {
      on_page(i);
      std::unique_ptr<poppler::page> page(document->create_page(i));
      if (!page) continue;
      std::vector<poppler::text_box> boxes = page->text_list();
      for (const poppler::text_box& box : boxes) {
        // The top edge of the word's box, in points from the top of the page.
        if (!on_word(Utf8(box.text()), box.bbox().top())) return Status::Ok();
      }
    }
    on_page(-1);
  } catch (const std::bad_alloc&) {
    return Status::Internal("out of memory while reading the PDF document " + native_path);
  } catch (const std::exception& e) {
    return Status::Internal("the PDF library failed on " + native_path + ": " + e.what());
  } catch (...) {
    return Status::Internal("the PDF library failed on " + native_path);
  }
  return Status::Ok();
}

}  // namespace

void SilencePdfLibrary() { poppler::set_debug_error_function(&IgnoreLibraryMessage, nullptr); }

Status ReadPdf(const std::string& native_path, PdfContent* content) {
  *content = PdfContent();
  std::string* info[] = {&content->title, &content->author, &content->creator, &content->keywords};
  return ReadDocument(
      native_path, [&](int i, std::string value) { *info[i] = std::move(value); },
      [&](int page) {
        if (page >= 0) content->pages.emplace_back();
      },
      [&](std::string text, double y) {
        content->pages.back().words.push_back(PdfWord{std::move(text), y});
        return true;
      });
}

Status ReadPdfText(const std::string& native_path, PdfTextAssembler* assembler, size_t max_bytes,
                   const std::function<void()>& on_progress, bool read_pages,
                   const PdfXmpHandler& on_xmp) {
  return ReadDocument(
      native_path, [&](int /*i*/, const std::string& value) { assembler->AddInfo(value); },
      [&](int /*page*/) {
        if (on_progress) on_progress();
      },
      [&](const std::string& text, double y) {
        assembler->AddWord(text, y);
        return max_bytes == 0 || assembler->text().size() < max_bytes;
      },
      read_pages, read_pages ? on_xmp : PdfXmpHandler());
}

}  // namespace vantrel
