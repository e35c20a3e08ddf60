#include "platform/file_streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using mac_test::AfpInfoStream;
using mac_test::AppleDouble;
using mac_test::Be16;
using mac_test::Be32;
using mac_test::FinderInfo;

std::string Type(const StreamContents& c) { return c.bytes.substr(kAfpInfoFinderInfoOffset, 4); }

TEST(AppleDoubleTest, FindsEntriesThroughTheTableWhateverTheirOrder) {
  std::string fork = "resource fork bytes";
  for (bool reverse : {false, true}) {
    std::string blob = AppleDouble({{9, FinderInfo("JPEG", "8BIM")}, {2, fork}}, reverse);
    auto entry = FindAppleDoubleEntry(blob, kAppleDoubleResourceFork);
    ASSERT_TRUE(entry.has_value()) << reverse;
    EXPECT_EQ(*entry, fork);
    auto info = FindAppleDoubleEntry(blob, kAppleDoubleFinderInfo);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->substr(0, 4), "JPEG");
    EXPECT_FALSE(FindAppleDoubleEntry(blob, 3).has_value());
  }
}

TEST(AppleDoubleTest, RefusesBlobsThatDoNotHoldWhatTheyClaim) {
  std::string good = AppleDouble({{2, "fork"}});
  struct Case {
    const char* name;
    std::string blob;
  };
  std::string wrong_magic = good;
  wrong_magic[3] = 0x08;
  std::string count_too_large = good;
  count_too_large.replace(24, 2, Be16(2));  // table claims a second entry beyond the blob
  std::string entry_beyond = good.substr(0, 26) + Be32(2) + Be32(30) + Be32(0xFFFFFFF0u);
  std::string offset_beyond = good.substr(0, 26) + Be32(2) + Be32(0xFFFFFFFFu) + Be32(1);
  const Case cases[] = {
      {"empty", ""},
      {"header cut", good.substr(0, 25)},
      {"wrong magic", wrong_magic},
      {"count beyond blob", count_too_large.substr(0, 26 + 12)},
      {"entry length beyond blob", entry_beyond},
      {"entry offset beyond blob", offset_beyond},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(FindAppleDoubleEntry(c.blob, 2).has_value()) << c.name;
  }
  // AppleSingle carries the same table.
  std::string single = good;
  single.replace(0, 4, Be32(kAppleSingleMagic));
  EXPECT_TRUE(FindAppleDoubleEntry(single, 2).has_value());
  // An entry that ends exactly at the end of the blob is whole.
  EXPECT_EQ(FindAppleDoubleEntry(good, 2).value(), "fork");
}

TEST(AfpInfoTest, RecordCarriesFinderInfoAtOffsetSixteen) {
  std::string record = MakeAfpInfo(FinderInfo("TIFF", "8BIM"));
  EXPECT_EQ(record, std::string("AFP\0", 4) + Be32(kAfpInfoVersion) + std::string(8, '\0') +
                        "TIFF8BIM" + std::string(kAfpInfoSize - 24, '\0'));
  EXPECT_EQ(MakeAfpInfo("EPS").substr(16, 5), std::string("EPS\0\0", 5));
}

TEST(FileStreamsTest, SidecarPathAndBlankFork) {
  EXPECT_EQ(AppleDoubleSidecarPath("/srv/images/a b.jpg"), "/srv/images/._a b.jpg");
  EXPECT_EQ(AppleDoubleSidecarPath("plain"), "._plain");
  EXPECT_TRUE(IsBlankResourceFork(mac_test::BlankResourceFork()));
  EXPECT_FALSE(IsBlankResourceFork(mac_test::BlankResourceFork() + "x"));
  EXPECT_FALSE(IsBlankResourceFork(std::string(286, 'a')));
}

class OpenStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.WriteFile("img.jpg", "data fork"));
    path_ = dir_.Path("img.jpg");
  }
  void RequireXattrs() {
    if (!mac_test::UserXattrsSupported(dir_.path())) {
      GTEST_SKIP() << "the file system of " << dir_.path() << " refuses user xattrs";
    }
  }
  StatusOr<StreamContents> Open(MacStream s) { return DefaultFileStreams()->OpenStream(path_, s); }
  void WriteSidecar(const std::string& blob) { ASSERT_TRUE(dir_.WriteFile("._img.jpg", blob)); }

  TempDir dir_;
  std::string path_;
};

TEST_F(OpenStreamTest, MissingOrBrokenEverywhereIsNotFound) {
  for (MacStream s : {MacStream::kResourceFork, MacStream::kAfpInfo, MacStream::kText}) {
    auto r = Open(s);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.status().IsNotFound()) << r.status().ToString();
  }
  auto r = DefaultFileStreams()->OpenStream(dir_.Path("no such file"), MacStream::kAfpInfo);
  EXPECT_TRUE(r.status().IsNotFound());
  // A broken sidecar, or one without the entry, counts as missing.
  WriteSidecar("not an AppleDouble file at all, just text");
  EXPECT_TRUE(Open(MacStream::kResourceFork).status().IsNotFound());
  WriteSidecar(AppleDouble({{9, "short"}}));  // Finder info shorter than 32 bytes
  EXPECT_TRUE(Open(MacStream::kAfpInfo).status().IsNotFound());
  EXPECT_TRUE(Open(MacStream::kResourceFork).status().IsNotFound());
}

TEST_F(OpenStreamTest, SidecarGivesForkAndFinderInfo) {
  std::string fork = mac_test::TextResourceFork("A caption in a text resource");
  WriteSidecar(mac_test::MacOsSidecar("JPEG", "8BIM", fork));
  auto r = Open(MacStream::kResourceFork);
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(r->place, StreamPlace::kAppleDouble);
  EXPECT_EQ(r->bytes, fork);
  auto info = Open(MacStream::kAfpInfo);
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->place, StreamPlace::kAppleDouble);
  ASSERT_EQ(info->bytes.size(), kAfpInfoSize);  // cut to 32 bytes of Finder info, not 3760
  EXPECT_EQ(Type(*info), "JPEG");
  // The sidecar holds no TEXT stream.
  EXPECT_TRUE(Open(MacStream::kText).status().IsNotFound());
}

// Image folders are written by clients: a sidecar that is a symbolic link
// to a file elsewhere is not read through.
TEST_F(OpenStreamTest, LinkedSidecarCountsAsMissing) {
  std::string fork = mac_test::TextResourceFork("A caption in a text resource");
  ASSERT_TRUE(dir_.WriteFile("outside/sidecar", mac_test::MacOsSidecar("JPEG", "8BIM", fork)));
  ASSERT_EQ(::symlink(dir_.Path("outside/sidecar").c_str(), dir_.Path("._img.jpg").c_str()), 0);
  EXPECT_TRUE(Open(MacStream::kResourceFork).status().IsNotFound());
  EXPECT_TRUE(Open(MacStream::kAfpInfo).status().IsNotFound());
}

TEST_F(OpenStreamTest, BlankForkIsAnEmptyFork) {
  WriteSidecar(AppleDouble({{9, FinderInfo("JPEG", "8BIM")}, {2, mac_test::BlankResourceFork()}}));
  auto r = Open(MacStream::kResourceFork);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r->bytes.empty());
  EXPECT_EQ(r->place, StreamPlace::kAppleDouble);
}

TEST_F(OpenStreamTest, DosStreamXattrs) {
  RequireXattrs();
  ASSERT_TRUE(mac_test::SetXattr(path_, "user.DosStream.AFP_Resource:$DATA", "fork bytes"));
  ASSERT_TRUE(mac_test::SetXattr(path_, "user.DosStream.TEXT:$DATA", "#CAP Storm"));
  ASSERT_TRUE(mac_test::SetXattr(path_, "user.DosStream.AFP_AfpInfo:$DATA",
                                 AfpInfoStream("EPSF", "ART5", /*trailing_nul=*/true)));
  auto fork = Open(MacStream::kResourceFork);
  ASSERT_TRUE(fork.ok());
  EXPECT_EQ(fork->place, StreamPlace::kDosStreamXattr);
  EXPECT_EQ(fork->bytes, "fork bytes");
  auto text = Open(MacStream::kText);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(text->bytes, "#CAP Storm");
  auto info = Open(MacStream::kAfpInfo);
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->bytes.size(), kAfpInfoSize);  // the 61st byte of Samba's NUL dropped
  EXPECT_EQ(Type(*info), "EPSF");

  // On another file: names match without regard to case; an empty TEXT
  // stream exists.
  ASSERT_TRUE(dir_.WriteFile("other.jpg", "data fork"));
  const std::string other = dir_.Path("other.jpg");
  ASSERT_TRUE(mac_test::SetXattr(other, "user.DosStream.text:$DATA", ""));
  ASSERT_TRUE(
      mac_test::SetXattr(other, "user.DosStream.AFP_AFPINFO:$DATA", AfpInfoStream("TIFF", "8BIM")));
  text = DefaultFileStreams()->OpenStream(other, MacStream::kText);
  ASSERT_TRUE(text.ok());
  EXPECT_TRUE(text->bytes.empty());
  info = DefaultFileStreams()->OpenStream(other, MacStream::kAfpInfo);
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(Type(*info), "TIFF");
}

TEST_F(OpenStreamTest, PlacesAreAskedInOrder) {
  RequireXattrs();
  WriteSidecar(AppleDouble({{9, FinderInfo("SIDE", "SIDE")}, {2, "sidecar fork"}}));
  auto r = Open(MacStream::kResourceFork);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->bytes, "sidecar fork");

  ASSERT_TRUE(mac_test::SetXattr(path_, kNetatalkResourceFork, "netatalk fork"));
  ASSERT_TRUE(
      mac_test::SetXattr(path_, kNetatalkMetadata, mac_test::NetatalkMetadata("NETA", "x")));
  r = Open(MacStream::kResourceFork);
  EXPECT_EQ(r->bytes, "netatalk fork");
  EXPECT_EQ(r->place, StreamPlace::kNetatalkXattr);
  auto info = Open(MacStream::kAfpInfo);
  EXPECT_EQ(Type(*info), "NETA");
  EXPECT_EQ(info->place, StreamPlace::kNetatalkXattr);

  ASSERT_TRUE(mac_test::SetXattr(path_, "user.DosStream.AFP_Resource:$DATA", "samba fork"));
  ASSERT_TRUE(
      mac_test::SetXattr(path_, "user.DosStream.AFP_AfpInfo:$DATA", AfpInfoStream("DOSS", "x")));
  r = Open(MacStream::kResourceFork);
  EXPECT_EQ(r->bytes, "samba fork");
  EXPECT_EQ(r->place, StreamPlace::kDosStreamXattr);
  info = Open(MacStream::kAfpInfo);
  EXPECT_EQ(Type(*info), "DOSS");
}

TEST_F(OpenStreamTest, MalformedAfpInfoFallsThroughToTheNextPlace) {
  RequireXattrs();
  WriteSidecar(AppleDouble({{9, FinderInfo("SIDE", "x")}}));
  const std::string bad[] = {
      AfpInfoStream("BAD1", "x").substr(0, 59),        // too short
      AfpInfoStream("BAD2", "x") + std::string(2, 0),  // 62 bytes
      "XFP" + AfpInfoStream("BAD3", "x").substr(3),    // wrong signature
  };
  for (const std::string& b : bad) {
    ASSERT_TRUE(mac_test::SetXattr(path_, "user.DosStream.AFP_AfpInfo:$DATA", b));
    ASSERT_TRUE(mac_test::SetXattr(path_, kNetatalkMetadata, "not AppleDouble"));
    auto info = Open(MacStream::kAfpInfo);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(Type(*info), "SIDE");
    EXPECT_EQ(info->place, StreamPlace::kAppleDouble);
  }
}

}  // namespace
}  // namespace vantrel
