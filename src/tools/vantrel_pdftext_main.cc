// vantrel-pdftext [--max-bytes N] [--max-inflated N] [--below FOLDER] [--] FILE: writes the
// text of a PDF document (its information entries and the words of its
// pages, in the server's code page) to standard output; with --max-bytes, at
// most N bytes of it, and the pages after them are not read; with
// --max-inflated, the pages are read only when the file's compressed streams
// inflate to at most N bytes (see pdf/pdf_inflate_budget.h), otherwise only
// the information entries are written and the exit code is 3.
//
// The values of the document's XMP packet (the catalog's /Metadata stream,
// mapped as the XMP of pictures is, see docs/metadata.md) that the
// information entries do not already hold go first, in a marked section
// (see pdf/pdf_xmp_section.h) that the document builder keeps or drops by
// the index's XMP switch. They count towards --max-bytes.
//
// With --below, FILE lies below FOLDER, a folder that clients write into:
// nothing below FOLDER on the way to FILE may be a symbolic link (see
// platform/served_folders.h), and a FILE reached otherwise reads as missing.
//
// The server runs this program for every PDF file, in a child process with a
// time and memory limit, so that a damaged PDF that makes the PDF library
// loop, crash or exhaust memory costs only this process.
//
// The text goes out as it is read: the information entries, then each page
// as soon as it is done, so that when this process is stopped (time or
// memory limit) or crashes on a later page, the server keeps the pages read
// before.
//
// Exit codes: 0 with the text (empty when the file is no readable PDF; the
// part read so far when the library fails part-way), 1 when the text cannot
// be written, 2 for a wrong command line, 3 when the pages were not read
// because of --max-inflated.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "metadata/xmp_packet.h"
#include "metadata/xmp_text.h"
#include "pdf/pdf_inflate_budget.h"
#include "pdf/pdf_reader.h"
#include "pdf/pdf_words.h"
#include "pdf/pdf_xmp_section.h"
#include "platform/code_page.h"
#include "platform/mapped_file.h"
#include "platform/served_folders.h"

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "usage: vantrel-pdftext [--max-bytes N] [--max-inflated N] [--below FOLDER] [--] FILE\n");
  return 2;
}

// Writes what the assembler gained since the last call, at most up to
// `max_bytes` in all (0: no limit), and flushes it. False when it cannot be
// written.
class TextStream {
 public:
  TextStream(const vantrel::PdfTextAssembler& assembler, size_t max_bytes)
      : assembler_(assembler), max_bytes_(max_bytes) {}

  // Writes `section` in front of the assembled text (before the first Pass)
  // and leaves that much less room for it; a section that does not fit
  // under the limit is left out.
  void WriteFirst(const std::string& section) {
    if (section.empty() || (max_bytes_ > 0 && section.size() >= max_bytes_)) return;
    if (std::fwrite(section.data(), 1, section.size(), stdout) != section.size()) ok_ = false;
    if (max_bytes_ > 0) max_bytes_ -= section.size();
  }

  bool Pass() {
    const std::string& text = assembler_.text();
    size_t end = text.size();
    if (max_bytes_ > 0 && end > max_bytes_) end = max_bytes_;
    if (end <= written_) return ok_;
    const size_t n = end - written_;
    if (std::fwrite(text.data() + written_, 1, n, stdout) != n || std::fflush(stdout) != 0) {
      ok_ = false;
    }
    written_ = end;
    return ok_;
  }

 private:
  const vantrel::PdfTextAssembler& assembler_;
  size_t max_bytes_;
  size_t written_ = 0;
  bool ok_ = true;
};

// A whole non-negative decimal number.
bool ParseCount(const char* text, uint64_t* value) {
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, *value);
  return ec == std::errc() && ptr == end && ptr != text;
}

// The marked section of the XMP values that `info` (the information values,
// UTF-8) lacks; "" when the packet is empty, unreadable or adds nothing.
std::string XmpSection(const std::string& packet, const std::vector<std::string>& info) {
  if (packet.empty()) return "";
  const vantrel::CodePage& code_page = vantrel::CodePage::Default();
  vantrel::StatusOr<vantrel::XmpCaption> caption = vantrel::ParseXmpPacket(packet, code_page);
  if (!caption.ok()) return "";
  std::vector<std::string> known;
  for (const std::string& value : info) {
    // The value as the information entry enters the text, without its CR LF.
    vantrel::PdfTextAssembler entry(code_page);
    entry.AddInfo(value);
    std::string text = entry.TakeText();
    if (text.size() >= 2) known.push_back(text.substr(0, text.size() - 2));
  }
  return vantrel::PdfXmpSection(vantrel::XmpCaptionText(*caption, known));
}

// True when the compressed streams of the file open at `fd` inflate to more
// than `cap` bytes. A file that cannot be read here is left to the PDF
// library to judge.
bool InflatesBeyond(int fd, const std::string& path, uint64_t cap) {
  vantrel::StatusOr<std::unique_ptr<vantrel::MappedFile>> file =
      vantrel::MappedFile::OpenDescriptor(fd, path);
  if (!file.ok()) return false;
  return vantrel::InflatedStreamBytes((*file)->data(), cap) > cap;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t max_bytes = 0;
  uint64_t max_inflated = 0;
  const char* below = nullptr;
  int i = 1;
  while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
    if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    }
    if (i + 1 >= argc) return Usage();
    if (std::strcmp(argv[i], "--below") == 0) {
      below = argv[i + 1];
      i += 2;
      continue;
    }
    uint64_t* value = std::strcmp(argv[i], "--max-bytes") == 0      ? &max_bytes
                      : std::strcmp(argv[i], "--max-inflated") == 0 ? &max_inflated
                                                                     : nullptr;
    if (value == nullptr || !ParseCount(argv[i + 1], value)) return Usage();
    i += 2;
  }
  if (i != argc - 1) return Usage();
  const std::string path = argv[i];
  if (below != nullptr) vantrel::SetServedFolders({below});

  // The file is opened once, here, and the library reads the very file
  // opened: no name on the way can be swapped for a link in between.
  vantrel::UniqueFd file;
  if (!vantrel::OpenServedFileForRead(path, &file).ok()) return 0;  // a missing file has no text
  const bool read_pages = max_inflated == 0 || !InflatesBeyond(file.get(), path, max_inflated);
  vantrel::SilencePdfLibrary();
  vantrel::PdfTextAssembler assembler(vantrel::CodePage::Default());
  TextStream out(assembler, static_cast<size_t>(max_bytes));
  // A failure leaves what could be read in the assembler; that is the text.
  vantrel::ReadPdfText(
      vantrel::PathOfOpenFile(file.get()), &assembler, static_cast<size_t>(max_bytes),
      [&out] { out.Pass(); }, read_pages,
      [&out](const std::string& packet, const std::vector<std::string>& info) {
        out.WriteFirst(XmpSection(packet, info));
      })
      .IgnoreError();
  if (!out.Pass() || std::fflush(stdout) != 0) return 1;
  return read_pages ? 0 : 3;
}
