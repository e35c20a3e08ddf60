// vantrel-pdftext FILE: writes the text of a PDF document (its information
// entries and the words of its pages, in the server's code page) to standard
// output.
//
// The server runs this program for every PDF file, in a child process with a
// time and memory limit, so that a damaged PDF that makes the PDF library
// loop, crash or exhaust memory costs only this process.
//
// Exit codes: 0 with the text (empty when the file is no readable PDF; the
// part read so far when the library fails part-way), 1 when the text cannot
// be written, 2 for a wrong command line.
#include <cstdio>
#include <string>

#include "pdf/pdf_reader.h"
#include "pdf/pdf_words.h"
#include "platform/code_page.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vantrel-pdftext FILE\n");
    return 2;
  }
  vantrel::SilencePdfLibrary();
  vantrel::PdfContent content;
  // A failure leaves what could be read in `content`; that is the text.
  vantrel::ReadPdf(argv[1], &content).IgnoreError();
  const std::string text = vantrel::AssemblePdfText(content, vantrel::CodePage::Default());
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) return 1;
  if (std::fflush(stdout) != 0) return 1;
  return 0;
}
