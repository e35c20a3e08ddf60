#include "pdf/pdf_inflate_budget.h"

#include <gtest/gtest.h>

#include <string>

#include "pdf/flate_pdf.h"

namespace vantrel {
namespace {

TEST(InflatedStreamBytes, CountsFlateStreamsButNotImagesAndStopsAtTheCap) {
  const std::string content = flate_pdf::Content("inside", 1 << 20);
  const std::string pdf = flate_pdf::Document(content, 8 << 20);
  EXPECT_EQ(InflatedStreamBytes(pdf, uint64_t{1} << 30), content.size());
  EXPECT_EQ(InflatedStreamBytes(pdf, content.size()), content.size());
  EXPECT_EQ(InflatedStreamBytes(pdf, 1000), 1001u);

  // Cut inside the compressed content: what was inflated before the end.
  const size_t data = pdf.find("stream\n") + 7;
  const uint64_t cut = InflatedStreamBytes(pdf.substr(0, data + 40), uint64_t{1} << 30);
  EXPECT_LT(cut, content.size());

  // No streams, a stream keyword at the very end, data that is no zlib.
  EXPECT_EQ(InflatedStreamBytes("", 10), 0u);
  EXPECT_EQ(InflatedStreamBytes("1 0 obj << /Filter /FlateDecode >> stream", 10), 0u);
  EXPECT_EQ(InflatedStreamBytes("1 0 obj << /Filter /FlateDecode >>\nstream\r\nnot zlib", 10), 0u);
}

}  // namespace
}  // namespace vantrel
