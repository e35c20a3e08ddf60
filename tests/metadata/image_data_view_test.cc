#include "metadata/image_data_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "metadata/photoshop_reader.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const ImageDataOptions kNoWait{.attempts = 1, .pause = std::chrono::milliseconds(0)};

std::string Filler(size_t n, char c = 'x') { return std::string(n, c); }

struct OffsetCase {
  const char* name;
  std::string head;
  size_t offset;
};

class ContentOffsetTest : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(ContentOffsetTest, Decides) { EXPECT_EQ(ContentOffset(GetParam().head), GetParam().offset); }

std::string Foreign(std::string_view magic, size_t jpeg_at) {
  std::string s(magic);
  s += Filler(jpeg_at - s.size(), 'a');
  s += MakeJpeg();
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ContentOffsetTest,
    ::testing::Values(OffsetCase{"MacBinary", WrapMacBinary(MakeJpeg()), 128},
                      OffsetCase{"MacBinaryLongName",
                                 WrapMacBinary(MakeJpeg(), std::string(63, 'n')), 128},
                      OffsetCase{"PlainJpeg", MakeJpeg(), 0},
                      OffsetCase{"ForeignHeader", Foreign("HDR", 300), 300},
                      OffsetCase{"JpegBeyond1024", Foreign("HDR", 1100), 0},
                      OffsetCase{"PhotoshopDocument", Foreign("8BPS", 300), 0},
                      OffsetCase{"BareIptc", Foreign("\x1C", 300), 0},
                      OffsetCase{"PostScript", Foreign("%!PS", 300), 0},
                      OffsetCase{"Tiff", Foreign("MM", 300), 0},
                      OffsetCase{"Small", std::string("HDR\xFF\xD8\xFF", 6), 0}),
    [](const ::testing::TestParamInfo<OffsetCase>& info) { return std::string(info.param.name); });

TEST(ImageDataView, OpensMapsAndMovesByTheContentOffset) {
  TempDir dir;
  std::string jpeg = MakeJpegWithIptc({{2, 120, "c"}});
  // Large enough to be mapped; smaller files are read either way.
  ASSERT_TRUE(dir.WriteFile("a.jpg", WrapMacBinary(jpeg + std::string(kReadRatherThanMap, '\0'))));
  for (MappedFile::Mode mode : {MappedFile::Mode::kMapOrRead, MappedFile::Mode::kRead}) {
    ImageDataView view;
    ImageDataOptions options = kNoWait;
    options.mode = mode;
    ASSERT_TRUE(OpenImageData(view, dir.Path("a.jpg"), options));
    EXPECT_EQ(view.content_offset(), 128u);
    EXPECT_EQ(view.data().substr(0, jpeg.size()), jpeg);
    EXPECT_EQ(view.name(), dir.Path("a.jpg"));
    EXPECT_EQ(view.file(0).contents->mapped(), mode == MappedFile::Mode::kMapOrRead);
    CaptionRecord r;
    EXPECT_TRUE(ReadPhotoshopCaption(r, view.data(), view.name()));
    CloseImageData(view);
    EXPECT_FALSE(view.is_open());
    EXPECT_TRUE(view.data().empty());
  }
}

TEST(ImageDataView, RefusesSmallMissingAndFolders) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("small.jpg", Filler(255)));
  ASSERT_TRUE(dir.WriteFile("ok.jpg", Filler(256)));
  ASSERT_TRUE(dir.MakeFolder("folder"));
  ImageDataView view;
  EXPECT_FALSE(OpenImageData(view, dir.Path("small.jpg"), kNoWait));
  EXPECT_FALSE(OpenImageData(view, dir.Path("missing.jpg"), kNoWait));
  EXPECT_FALSE(OpenImageData(view, dir.Path("folder"), ImageDataOptions{}));  // no retries
  EXPECT_TRUE(OpenImageData(view, dir.Path("ok.jpg"), kNoWait));
  // A set opens all or none, and the locks of a failed open are released.
  EXPECT_FALSE(OpenImageData(view, {dir.Path("ok.jpg"), dir.Path("small.jpg")}, kNoWait));
  EXPECT_FALSE(view.is_open());
  FileViewLock probe;
  EXPECT_TRUE(FileViewLock::TryLock(dir.Path("ok.jpg"), &probe));
}

// A view over bytes already read sees what a view of the file would, and
// holds the file's view lock while open.
TEST(ImageDataView, ViewOverBytesMatchesTheFileView) {
  TempDir dir;
  const std::string wrapped = WrapMacBinary(MakeJpegWithIptc({{2, 120, "c"}}));
  ASSERT_TRUE(dir.WriteFile("a.jpg", wrapped));
  ImageDataView from_file;
  ASSERT_TRUE(OpenImageData(from_file, dir.Path("a.jpg"), kNoWait));
  const std::string from_file_data(from_file.data());
  CloseImageData(from_file);

  ImageDataView over;
  ASSERT_TRUE(OpenImageDataOver(over, dir.Path("a.jpg"), wrapped));
  EXPECT_EQ(over.content_offset(), 128u);
  EXPECT_EQ(over.data(), from_file_data);
  EXPECT_EQ(over.name(), dir.Path("a.jpg"));
  FileViewLock probe;
  EXPECT_FALSE(FileViewLock::TryLock(dir.Path("a.jpg"), &probe));
  CloseImageData(over);
  EXPECT_TRUE(FileViewLock::TryLock(dir.Path("a.jpg"), &probe));
  probe.Release();
  EXPECT_FALSE(OpenImageDataOver(over, dir.Path("a.jpg"), Filler(255)));
  EXPECT_TRUE(OpenImageDataOver(over, dir.Path("a.jpg"), Filler(256)));
}

TEST(ImageDataView, RetriesUntilTheFileAppears) {
  TempDir dir;
  std::string path = dir.Path("late.jpg");
  // The file appears whole: written under another name, then renamed into
  // place. A file caught half-written is too small and refused at once.
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(dir.WriteFile("late.tmp", MakeJpeg()));
    std::filesystem::rename(dir.Path("late.tmp"), path);
  });
  ImageDataView view;
  // Up to 200 attempts 10 ms apart: far more than the writer needs.
  bool opened =
      OpenImageData(view, path, {.attempts = 200, .pause = std::chrono::milliseconds(10)});
  writer.join();
  EXPECT_TRUE(opened);
}

// An open view holds the file's view lock until it is closed (how the lock
// makes a second opener wait is checked with the lock itself).
TEST(ImageDataView, HoldsTheFileViewLockWhileOpen) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("a.jpg", MakeJpeg()));
  ImageDataView first;
  ASSERT_TRUE(OpenImageData(first, dir.Path("a.jpg"), kNoWait));
  FileViewLock probe;
  EXPECT_FALSE(FileViewLock::TryLock(dir.Path("a.jpg"), &probe));
  CloseImageData(first);
  EXPECT_TRUE(FileViewLock::TryLock(dir.Path("a.jpg"), &probe));
}

}  // namespace
}  // namespace vantrel
