// Reading a PDF file with poppler-cpp into a PdfContent: the information
// entries "Title", "Author", "Creator" and "Keywords", and the words of every
// page with their vertical positions.
//
// PDF libraries can loop, crash or exhaust memory on damaged files, so this
// runs in the helper program (vantrel-pdftext), never in the server itself.
//
// Thread safety: ReadPdf may run on several threads at once (each opens its
// own document); SilencePdfLibrary changes a process-wide setting.
#pragma once

#include <string>

#include "pdf/pdf_words.h"
#include "platform/status.h"

namespace vantrel {

// Stops the PDF library from printing its complaints about damaged files on
// standard error. Call once at the start of the program.
void SilencePdfLibrary();

// Reads `native_path` into `*content` (cleared first). Every page that can be
// read is read; a page whose words cannot be read is left empty.
// Fails with kCorruption when the document cannot be opened (missing, not a
// PDF, damaged beyond repair, locked by a password), leaving *content empty; with kInternal when the library fails part-way, leaving in *content
// what was read until then. Never throws.
Status ReadPdf(const std::string& native_path, PdfContent* content);

}  // namespace vantrel
