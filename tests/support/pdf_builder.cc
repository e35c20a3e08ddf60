#include "support/pdf_builder.h"

#include <cstdio>

namespace vantrel {
namespace {

std::string Number(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

std::string ContentStream(const PdfPagePlan& page) {
  std::string stream;
  for (const PdfTextRun& run : page.runs) {
    stream += "BT /F1 " + Number(run.size) + " Tf " + Number(run.x) + " " + Number(run.y) + " Td " +
              PdfLiteralString(run.text) + " Tj ET\n";
  }
  return stream;
}

}  // namespace

std::string PdfLiteralString(const std::string& bytes) {
  std::string out = "(";
  for (char c : bytes) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c;
  }
  out += ')';
  return out;
}

std::string BuildPdf(const PdfDocumentPlan& plan) {
  // Objects: 1 catalogue, 2 page tree, 3 font, 4 information (when any),
  // then a page object and its content stream for every page.
  std::vector<std::string> objects;
  const int first_page = 5;
  std::string kids;
  for (size_t i = 0; i < plan.pages.size(); ++i) {
    kids += std::to_string(first_page + 2 * i) + " 0 R ";
  }
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " +
                    std::to_string(plan.pages.size()) + " >>");
  objects.push_back(
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  std::string info = "<<";
  for (const auto& [key, value] : plan.info) info += " /" + key + " " + PdfLiteralString(value);
  info += " >>";
  objects.push_back(info);
  for (size_t i = 0; i < plan.pages.size(); ++i) {
    const PdfPagePlan& page = plan.pages[i];
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(page.width) + " " +
                      Number(page.height) + "] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                      std::to_string(first_page + 2 * i + 1) + " 0 R >>");
    std::string content = ContentStream(page);
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "endstream");
  }

  return BuildPdfFromObjects(objects,
                             plan.info.empty() ? "/Root 1 0 R" : "/Root 1 0 R /Info 4 0 R");
}

std::string BuildPdfFromObjects(const std::vector<std::string>& objects,
                                const std::string& trailer) {
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n";
  pdf += "0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " " + trailer;
  pdf += " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

std::string BuildDrawnPdf(const std::vector<PdfDrawnPage>& pages) {
  // Objects: 1 catalogue, 2 page tree, then a page and its content per page.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
  std::string kids;
  for (size_t i = 0; i < pages.size(); ++i) {
    const size_t page_object = 3 + 2 * i;
    kids += std::to_string(page_object) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(pages[i].width) +
                      " " + Number(pages[i].height) + "] /Contents " +
                      std::to_string(page_object + 1) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(pages[i].content.size()) + " >>\nstream\n" +
                      pages[i].content + "\nendstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
  return BuildPdfFromObjects(objects, "/Root 1 0 R");
}

std::string BuildFormBombPdf(int levels) {
  // 1 catalogue, 2 pages, 3 page, 4 page content, 5.. forms (5 the top).
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
      "/Resources << /XObject << /F 5 0 R >> >> >>",
      "<< /Length 5 >>\nstream\n/F Do\nendstream"};
  for (int level = 0; level < levels; ++level) {
    const int self = 5 + level;
    const bool bottom = level == levels - 1;
    const std::string content = bottom ? "0 0 1 1 re f" : "/F Do /F Do";
    std::string form = "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length " +
                       std::to_string(content.size());
    if (!bottom) form += " /Resources << /XObject << /F " + std::to_string(self + 1) + " 0 R >> >>";
    form += " >>\nstream\n" + content + "\nendstream";
    objects.push_back(form);
  }
  return BuildPdfFromObjects(objects, "/Root 1 0 R");
}

}  // namespace vantrel
