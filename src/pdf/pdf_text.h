// The text of a PDF file for its image document, read by the helper program
// vantrel-pdftext in a child process with a time and a memory limit.
//
// The helper sends the text page by page as it reads it. A PDF that makes
// the helper crash, run out of time or memory gives the text of the pages
// read before (a word cut off is dropped), as a library error part-way
// does; the file is then reported once per process through the log
// callback. A file that is no readable PDF simply gives no text.
//
// The server keeps one extractor for the whole process, so that each broken
// file is reported once.
//
// Thread safety: Extract may be called from several threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>

#include "platform/mutex.h"

namespace vantrel {

struct PdfTextOptions {
  // The helper program; FromEnvironment() fills it in.
  std::string helper_path;
  // Wall-clock time one PDF may take.
  std::chrono::seconds time_limit{60};
  // Address-space limit of the helper; 0 means none.
  uint64_t memory_limit_bytes = 1ull << 30;
  // The most that the compressed streams of one PDF may inflate to before
  // its pages are read (a decompression bomb would keep the helper busy
  // until the time limit); beyond it only the information entries are read
  // and the file is reported. 0: no cap.
  uint64_t max_inflated_bytes = uint64_t{256} << 20;
  // The most text wanted (the image document keeps only so much); the helper
  // stops reading pages once it has this many bytes. 0: all of it (at most
  // 64 MiB).
  size_t max_text_bytes = 0;
  // Receives one line for every PDF whose text could not be read because the
  // helper failed (at most once per path and process), and one when the
  // helper cannot be started at all. May be empty. Called without locks held,
  // possibly from several threads at once.
  std::function<void(const std::string& line)> log;

  // The helper from VANTREL_PDFTEXT, else "vantrel-pdftext" in the folder of
  // the running executable; the time limit in seconds from
  // VANTREL_PDF_TIME_LIMIT and the memory limit in MiB (0 for none) from
  // VANTREL_PDF_MEMORY_LIMIT_MB, the inflated-size cap in MiB (0 for none)
  // from VANTREL_PDF_INFLATE_LIMIT_MB, each when it holds a valid number. Builds
  // with AddressSanitizer default to no memory limit: their programs reserve
  // terabytes of address space for shadow memory and would not start.
  static PdfTextOptions FromEnvironment();
};

class PdfTextExtractor {
 public:
  explicit PdfTextExtractor(PdfTextOptions options);
  PdfTextExtractor(const PdfTextExtractor&) = delete;
  PdfTextExtractor& operator=(const PdfTextExtractor&) = delete;

  // The text of the PDF at `native_path` in the code page: the information
  // entries and the words of its pages (see pdf/pdf_words.h), at most
  // max_text_bytes of it; "" when the file has none or is no readable PDF;
  // what was read before the helper failed on it. When `cancel` (may be
  // null) becomes true the helper is stopped at once and the result is "".
  std::string Extract(const std::string& native_path,
                      const std::atomic<bool>* cancel = nullptr);

  const PdfTextOptions& options() const { return options_; }

 private:
  // Sends `line` to the log unless `key` was logged before.
  void LogOnce(const std::string& key, const std::string& line);

  const PdfTextOptions options_;
  Mutex mu_;
  // Paths already reported, oldest first; bounded so that a long run over
  // many broken files cannot grow it without end.
  std::unordered_set<std::string> logged_ GUARDED_BY(mu_);
  std::deque<std::string> logged_order_ GUARDED_BY(mu_);
};

}  // namespace vantrel
