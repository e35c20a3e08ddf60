// Test PDFs with Flate-compressed streams (zlib), for the inflated-size cap.
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

#include "support/pdf_builder.h"

namespace vantrel::flate_pdf {

inline std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

inline std::string Stream(const std::string& dictionary, const std::string& data) {
  return "<< " + dictionary + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
         "\nendstream";
}

// The page content that shows `words`, then `blanks` blanks.
inline std::string Content(const std::string& words, size_t blanks) {
  return "BT /F1 12 Tf 72 700 Td " + PdfLiteralString(words) + " Tj ET\n" +
         std::string(blanks, ' ');
}

// A document titled "Flate" of one page with `content` compressed, beside an
// image of `image_bytes` zero bytes and an uncompressed stream.
inline std::string Document(const std::string& content, size_t image_bytes) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [5 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Title (Flate) >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> "
      "/XObject << /Im1 7 0 R >> >> /Contents 6 0 R >>",
      Stream("/Filter /FlateDecode", Deflate(content)),
      Stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
             "/BitsPerComponent 8 /Filter /FlateDecode",
             Deflate(std::string(image_bytes, '\0'))),
      Stream("/Note (plain)", "plain stream data"),
  };
  return BuildPdfFromObjects(objects, "/Root 1 0 R /Info 4 0 R");
}

}  // namespace vantrel::flate_pdf
