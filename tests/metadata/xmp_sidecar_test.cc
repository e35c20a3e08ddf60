// The sidecar look-up: which names are read, with and without the listing of
// the picture's folder that a scan hands over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "metadata/xmp_sources.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string Sidecar(const std::string& title) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt><rdf:li "
         "xml:lang='x-default'>" +
         title + "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
}

std::string Title(const XmpCaption& caption) {
  for (const XmpDataset& d : caption.datasets) {
    if (d.dataset == 5) return d.value;
  }
  return "";
}

TEST(XmpSidecar, OnlyListedNamesAreOpenedWhenAListingIsGiven) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("a.jpg", "picture"));
  ASSERT_TRUE(dir.WriteFile("a.xmp", Sidecar("short form")));
  ASSERT_TRUE(dir.WriteFile("a.jpg.xmp", Sidecar("long form")));
  FileSystem& fs = *DefaultFileSystem();
  const std::string picture = dir.Path("a.jpg");
  const CodePage& cp = CodePage::BuiltInWindows1252();

  // Without a listing every name is tried on disk: the short form first.
  EXPECT_EQ(Title(ReadXmpSidecar(fs, picture, cp)), "short form");
  // A listing decides which exist; names it lacks are not opened.
  const std::vector<std::string> both = {"a.jpg", "a.jpg.xmp", "a.xmp"};
  const std::vector<std::string> long_only = {"a.jpg", "a.jpg.xmp"};
  const std::vector<std::string> none = {"a.jpg", "b.xmp"};
  EXPECT_EQ(Title(ReadXmpSidecar(fs, picture, cp, &both)), "short form");
  EXPECT_EQ(Title(ReadXmpSidecar(fs, picture, cp, &long_only)), "long form");
  EXPECT_TRUE(ReadXmpSidecar(fs, picture, cp, &none).datasets.empty());

  // A listed short form that cannot be read (a link, never followed) still
  // passes on to the long form, as without a listing.
  ASSERT_EQ(std::remove(dir.Path("a.xmp").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path("a.jpg.xmp").c_str(), dir.Path("a.xmp").c_str()), 0);
  ASSERT_TRUE(dir.WriteFile("a.jpg.xmp", Sidecar("beside the link")));
  EXPECT_EQ(Title(ReadXmpSidecar(fs, picture, cp, &both)), "beside the link");
  EXPECT_EQ(Title(ReadXmpSidecar(fs, picture, cp)), "beside the link");
}

}  // namespace
}  // namespace vantrel
