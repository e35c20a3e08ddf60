// A small writer of PDF files for tests: pages with text set in the standard
// Type1 font Helvetica (WinAnsi encoding) at given positions, an information
// dictionary, and a correct cross-reference table.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vantrel {

// One run of text: `text` (WinAnsi bytes) with its baseline starting at
// (x, y) in points from the lower left corner of the page, in `size` points.
struct PdfTextRun {
  double x = 72;
  double y = 720;
  std::string text;
  double size = 12;
};

struct PdfPagePlan {
  std::vector<PdfTextRun> runs;
  double width = 612;
  double height = 792;
};

struct PdfDocumentPlan {
  // Information dictionary entries (key without '/', value as the raw bytes
  // of a literal string: PDFDocEncoding, or UTF-16BE behind FE FF). No
  // entries: no information dictionary at all.
  std::vector<std::pair<std::string, std::string>> info;
  std::vector<PdfPagePlan> pages;
};

// The bytes of a complete PDF 1.4 file.
std::string BuildPdf(const PdfDocumentPlan& plan);

// A PDF file of the given objects (object i + 1 is objects[i], written
// between "obj" and "endobj") with a correct cross-reference table and the
// trailer entries `trailer` (e.g. "/Root 1 0 R"). For documents that are
// damaged on purpose.
std::string BuildPdfFromObjects(const std::vector<std::string>& objects,
                                const std::string& trailer);

// A page drawn by the raw content stream `content` (e.g. "0 g 0 0 100 200
// re f" paints a black rectangle), `width` x `height` points.
struct PdfDrawnPage {
  double width = 612;
  double height = 792;
  std::string content;
};

// A PDF of drawn pages (no fonts, no information dictionary); no pages gives
// a document whose page tree is empty.
std::string BuildDrawnPdf(const std::vector<PdfDrawnPage>& pages);

// A PDF whose one page paints a form that paints the form below it twice,
// `levels` deep, with a small rectangle at the bottom: 2^levels paint
// operations from a few hundred bytes, a page that takes a renderer very
// long.
std::string BuildFormBombPdf(int levels);

// A literal string "(...)" with (, ) and \ escaped and other bytes as they are.
std::string PdfLiteralString(const std::string& bytes);

}  // namespace vantrel
