// PDF documents through poppler-cpp (see pdf_reader.h).
#include "pdf/pdf_reader.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <exception>
#include <memory>
#include <new>

namespace vantrel {
namespace {

void IgnoreLibraryMessage(const std::string& /*message*/, void* /*closure*/) {}

std::string Utf8(const poppler::ustring& text) {
  poppler::byte_array bytes = text.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

// The words of one page. Exceptions go to the caller.
void ReadPage(const poppler::document& document, int index, PdfPage* page) {
  std::unique_ptr<poppler::page> p(document.create_page(index));
  if (!p) return;
  std::vector<poppler::text_box> boxes = p->text_list();
  page->words.reserve(boxes.size());
  for (const poppler::text_box& box : boxes) {
    PdfWord word;
    word.text = Utf8(box.text());
    // The top edge of the word's box, in points from the top of the page.
    word.y = box.bbox().top();
    page->words.push_back(std::move(word));
  }
}

}  // namespace

void SilencePdfLibrary() { poppler::set_debug_error_function(&IgnoreLibraryMessage, nullptr); }

Status ReadPdf(const std::string& native_path, PdfContent* content) {
  *content = PdfContent();
  try {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(native_path));
    if (!document) return Status::Corruption("cannot open the PDF document " + native_path);
    if (document->is_locked()) {
      return Status::Corruption("the PDF document is locked by a password: " + native_path);
    }
    content->title = Utf8(document->info_key("Title"));
    content->author = Utf8(document->info_key("Author"));
    content->creator = Utf8(document->info_key("Creator"));
    content->keywords = Utf8(document->info_key("Keywords"));
    const int pages = document->pages();
    for (int i = 0; i < pages; ++i) {
      content->pages.emplace_back();
      ReadPage(*document, i, &content->pages.back());
    }
  } catch (const std::bad_alloc&) {
    return Status::Internal("out of memory while reading the PDF document " + native_path);
  } catch (const std::exception& e) {
    return Status::Internal("the PDF library failed on " + native_path + ": " + e.what());
  } catch (...) {
    return Status::Internal("the PDF library failed on " + native_path);
  }
  return Status::Ok();
}

}  // namespace vantrel
