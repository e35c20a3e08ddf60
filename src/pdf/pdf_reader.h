// Reading a PDF file with poppler-cpp: the information entries "Title",
// "Author", "Creator" and "Keywords", the document's XMP packet (the
// catalog's /Metadata stream), and the words of every page with their
// vertical positions.
//
// PDF libraries can loop, crash or exhaust memory on damaged files, so this
// runs in the helper program (vantrel-pdftext), never in the server itself.
//
// Thread safety: the readers may run on several threads at once (each opens
// its own document); SilencePdfLibrary changes a process-wide setting.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "pdf/pdf_words.h"
#include "platform/status.h"

namespace vantrel {

// Stops the PDF library from printing its complaints about damaged files on
// standard error. Call once at the start of the program.
void SilencePdfLibrary();

// The largest document XMP packet handed on, in bytes (as for the XMP of
// pictures); a larger one is passed over.
inline constexpr size_t kPdfXmpPacketMax = 4u << 20;

// Receives the document's XMP packet (UTF-8, "" when the catalog has none or
// it is larger than kPdfXmpPacketMax) and the four information values
// (UTF-8, in the order Title, Author, Creator, Keywords), before the
// information entries enter the text.
using PdfXmpHandler =
    std::function<void(const std::string& packet, const std::vector<std::string>& info)>;

// Reads `native_path` into `*content` (cleared first). A page whose words
// cannot be read is left empty.
// Fails with kCorruption when the document cannot be opened (missing, not a
// PDF, damaged beyond repair, locked by a password), leaving *content empty;
// with kInternal when the library fails part-way, leaving in *content what
// was read until then. Never throws.
Status ReadPdf(const std::string& native_path, PdfContent* content);

// Reads `native_path` into `assembler`: the information entries, then the
// words page by page, without keeping the pages. With `max_bytes` > 0 it stops
// reading as soon as the assembled text holds that many bytes (the text is
// then at least `max_bytes` long; the caller cuts it). `on_progress` (may be
// empty) is called after the information entries and after every page, so
// that a caller can pass the text on before a later page fails or hangs.
// Without `read_pages` only the information entries are read. With `on_xmp`
// (and `read_pages`: the packet is a stream like the pages' contents) the
// document's XMP packet is handed on first.
// Failures as ReadPdf; the assembler keeps what it was given.
Status ReadPdfText(const std::string& native_path, PdfTextAssembler* assembler, size_t max_bytes,
                   const std::function<void()>& on_progress = {}, bool read_pages = true,
                   const PdfXmpHandler& on_xmp = {});

}  // namespace vantrel
