// vantrel-pdftext [--max-bytes N] [--] FILE: writes the text of a PDF
// document (its information entries and the words of its pages, in the
// server's code page) to standard output; with --max-bytes, at most N bytes
// of it, and the pages after them are not read.
//
// The server runs this program for every PDF file, in a child process with a
// time and memory limit, so that a damaged PDF that makes the PDF library
// loop, crash or exhaust memory costs only this process.
//
// Exit codes: 0 with the text (empty when the file is no readable PDF; the
// part read so far when the library fails part-way), 1 when the text cannot
// be written, 2 for a wrong command line.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "pdf/pdf_reader.h"
#include "pdf/pdf_words.h"
#include "platform/code_page.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vantrel-pdftext [--max-bytes N] [--] FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  size_t max_bytes = 0;
  int i = 1;
  while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
    if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(argv[i], "--max-bytes") != 0 || i + 1 >= argc) return Usage();
    const char* number = argv[i + 1];
    const char* end = number + std::strlen(number);
    auto [ptr, ec] = std::from_chars(number, end, max_bytes);
    if (ec != std::errc() || ptr != end || ptr == number) return Usage();
    i += 2;
  }
  if (i != argc - 1) return Usage();

  vantrel::SilencePdfLibrary();
  vantrel::PdfTextAssembler assembler(vantrel::CodePage::Default());
  // A failure leaves what could be read in the assembler; that is the text.
  vantrel::ReadPdfText(argv[i], &assembler, max_bytes).IgnoreError();
  std::string text = assembler.TakeText();
  if (max_bytes > 0 && text.size() > max_bytes) text.resize(max_bytes);
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) return 1;
  if (std::fflush(stdout) != 0) return 1;
  return 0;
}
