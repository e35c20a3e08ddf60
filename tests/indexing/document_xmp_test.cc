// Whole documents of pictures whose captions stand in XMP (embedded or in a
// sidecar) or in UTF-8 IIM, written by exiftool: they read as the same
// picture with a Windows-1252 IIM caption does, and with the index's XMP and
// character set switches off, as before; TIFF files declare their IIM
// character set as JPEG files do. Skipped when exiftool is absent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "indexing/document_builder.h"
#include "support/document_fixtures.h"
#include "support/external_tools.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

using tool_test::Installed;
using tool_test::kExiftool;
using tool_test::RunExiftool;

class DocumentXmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed(kExiftool)) GTEST_SKIP() << "exiftool is not installed";
    options_.streams = &streams_;
    options_.empty_fields = EmptyFieldMode::kCommon;
    options_.open_attempts = 2;
    options_.open_pause = std::chrono::milliseconds(1);
  }

  // Writes a plain picture as `folder`/`name` (a JPEG unless `bytes` are
  // given) and lets exiftool write `args` into `target` there (the picture,
  // or a sidecar made new).
  std::string Make(const std::string& folder, const std::vector<std::string>& args,
                   const std::string& target = "pic.jpg", const std::string& name = "pic.jpg",
                   const std::string& bytes = MakeJpeg()) {
    EXPECT_TRUE(dir_.MakeFolder(folder));
    EXPECT_TRUE(dir_.WriteFile(folder + "/" + name, bytes));
    EXPECT_TRUE(RunExiftool(dir_.Path(folder + "/" + target), args)) << folder;
    const std::string picture = dir_.Path(folder + "/" + name);
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

// Dataset 1:90 counts in a TIFF file's tag 33723 as in a JPEG file's IPTC
// resource: a Latin-1 declaration keeps bytes that would also read as UTF-8
// ("\xC3\xA9" stays two characters), a UTF-8 declaration converts.
TEST_F(DocumentXmpTest, TiffIimCharacterSetAsInJpeg) {
  const std::vector<std::string> latin = {"-charset", "iptc=Latin", "-IPTC:CodedCharacterSet#=\x1b.A",
                                          "-IPTC:Caption-Abstract=\xC3\x83\xC2\xA9 Hafen"};
  const std::vector<std::string> utf8 = {"-IPTC:CodedCharacterSet=UTF8",
                                         "-IPTC:Caption-Abstract=Z\xC3\xBCrich"};
  const std::string tiff = MakeTiffWithIptc({}, {.iptc_type = TiffIptcType::kNone});
  for (const char* name : {"pic.jpg", "pic.tif"}) {
    SCOPED_TRACE(name);
    const std::string bytes = std::string(name) == "pic.tif" ? tiff : MakeJpeg();
    const std::string latin_doc = Document(Make(std::string("latin_") + name, latin, name, name, bytes));
    EXPECT_NE(latin_doc.find("QxQ120 \xC3\xA9 Hafen ZqZ"), std::string::npos) << latin_doc;
    const std::string utf8_doc = Document(Make(std::string("utf8_") + name, utf8, name, name, bytes));
    EXPECT_NE(utf8_doc.find("QxQ120 Z\xFCrich ZqZ"), std::string::npos) << utf8_doc;
  }
}

}  // namespace
}  // namespace vantrel
