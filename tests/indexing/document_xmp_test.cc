// Whole documents of pictures whose captions stand in XMP (embedded or in a
// sidecar) or in UTF-8 IIM, written by exiftool: they read as the same
// picture with a Windows-1252 IIM caption does, and with the index's XMP and
// character set switches off, as before. Skipped when exiftool is absent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "indexing/document_builder.h"
#include "support/document_fixtures.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

constexpr const char* kExiftool = "/usr/bin/exiftool";

class DocumentXmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kExiftool, X_OK) != 0) GTEST_SKIP() << "exiftool is not installed";
    options_.streams = &streams_;
    options_.empty_fields = EmptyFieldMode::kCommon;
    options_.open_attempts = 2;
    options_.open_pause = std::chrono::milliseconds(1);
  }

  // Writes a plain JPEG as `folder`/pic.jpg and lets exiftool write `args`
  // into `target` there (the picture, or a sidecar made new).
  std::string Make(const std::string& folder, const std::vector<std::string>& args,
                   const std::string& target = "pic.jpg") {
    EXPECT_TRUE(dir_.MakeFolder(folder));
    EXPECT_TRUE(dir_.WriteFile(folder + "/pic.jpg", MakeJpeg()));
    std::string argfile = "-q\n-overwrite_original\n";
    for (const std::string& a : args) argfile += a + "\n";
    argfile += dir_.Path(folder + "/" + target) + "\n";
    EXPECT_TRUE(dir_.WriteFile("args.txt", argfile));
    FILE* p = popen((std::string(kExiftool) + " -@ '" + dir_.Path("args.txt") + "' 2>&1").c_str(), "r");
    if (p != nullptr) {
      char buf[512];
      while (fread(buf, 1, sizeof(buf), p) > 0) {
      }
      pclose(p);
    }
    const std::string picture = dir_.Path(folder + "/pic.jpg");
    EXPECT_TRUE(SetFileTimeUtc(picture, UtcSeconds(1999, 3, 2)));
    return picture;
  }

  // The document, with the folder part of the tail cut off so that pictures
  // in different folders compare.
  std::string Document(const std::string& picture) {
    DocumentFile file;
    file.native_path = picture;
    file.file_key = "01pic.jpg";
    std::string text = ComposeImageDocument(file, options_).text;
    return text.substr(0, text.find(" QxQJ5010"));
  }

  TempDir dir_;
  mac_test::FakeFileStreams streams_;
  DocumentOptions options_;
};

const std::vector<std::string> kXmpArgs = {
    "-XMP-dc:Description=Caf\xC3\xA9 am Hafen", "-XMP-dc:Subject=Boote", "-XMP-dc:Subject=Z\xC3\xBCrich",
    "-XMP-photoshop:City=Z\xC3\xBCrich", "-XMP-photoshop:DateCreated=2021:06:30"};
const std::vector<std::string> kIimArgs = {
    "-charset", "iptc=Latin", "-IPTC:Caption-Abstract=Caf\xC3\xA9 am Hafen", "-IPTC:Keywords=Boote",
    "-IPTC:Keywords=Z\xC3\xBCrich", "-IPTC:City=Z\xC3\xBCrich", "-IPTC:DateCreated=2021:06:30"};

TEST_F(DocumentXmpTest, XmpSidecarAndUtf8IimReadAsLatinIim) {
  const std::string latin = Document(Make("latin", kIimArgs));
  ASSERT_NE(latin.find("QxQ120 Caf\xE9 am Hafen ZqZ"), std::string::npos) << latin;
  ASSERT_NE(latin.find("20210630"), std::string::npos) << latin;
  std::vector<std::string> utf8_args = kIimArgs;
  utf8_args[1] = "iptc=UTF8";
  EXPECT_EQ(Document(Make("xmp", kXmpArgs)), latin);
  EXPECT_EQ(Document(Make("sidecar", kXmpArgs, "pic.xmp")), latin);
  EXPECT_EQ(Document(Make("utf8", utf8_args)), latin);
}

TEST_F(DocumentXmpTest, SwitchesOffReadAsBefore) {
  options_.switches = MetadataSwitches::AllOff();
  const std::string bare = Document(Make("bare", {}));
  ASSERT_NE(bare.find(" xnocap "), std::string::npos) << bare;
  EXPECT_EQ(Document(Make("xmp", kXmpArgs)), bare);
  EXPECT_EQ(Document(Make("sidecar", kXmpArgs, "pic.xmp")), bare);
  std::vector<std::string> utf8_args = kIimArgs;
  utf8_args[1] = "iptc=UTF8";
  EXPECT_NE(Document(Make("utf8", utf8_args)).find("QxQ090 Z\xC3\xBCrich ZqZ"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
