#include "console/preview_maker.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "preview_test_util.h"
#include "support/file_times.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

class PreviewMakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("index/VT_DATA/VT_INDEX"));
    ASSERT_TRUE(dir_.MakeFolder("images/sport"));
    ASSERT_TRUE(dir_.MakeFolder("pdf/TN1"));
    ASSERT_TRUE(dir_.MakeFolder("outside"));
  }

  PreviewMaker Maker(size_t max_cache_entries = 20000) {
    PreviewMaker::Options options;
    options.fs = DefaultFileSystem();
    options.max_cache_entries = max_cache_entries;
    options.shrink = [this](const JpegByteReader& read, const JpegShrinkLimits& limits) {
      ++shrinks_;
      return ShrinkJpeg(read, limits);
    };
    return PreviewMaker(std::move(options));
  }

  PreviewRequest Request(const std::string& relative) {
    PreviewRequest r;
    r.engine_folder = dir_.Path("index/VT_DATA/VT_INDEX");
    r.image_folder = dir_.Path("images");
    r.image_path = dir_.Path("images/" + relative);
    r.key = "01" + relative;
    r.pdf_folder = dir_.Path("pdf");
    return r;
  }

  std::vector<std::string> Names(const std::string& relative) {
    std::vector<std::string> names;
    StatusOr<std::vector<FolderEntry>> listed = DefaultFileSystem()->ListFolder(dir_.Path(relative));
    if (!listed.ok()) return names;
    for (const FolderEntry& e : *listed) names.push_back(e.name);
    return names;
  }

  TempDir dir_;
  std::atomic<int> shrinks_{0};
};

TEST_F(PreviewMakerTest, MakesAJpegPreviewOnceAndAgainWhenThePictureChanges) {
  ASSERT_TRUE(dir_.WriteFile("images/sport/goal.jpg", TestJpeg(800, 600, 3, false)));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/sport/goal.jpg"), 1700000000));
  PreviewMaker maker = Maker();

  StatusOr<Preview> first = maker.Make(Request("sport/goal.jpg"));
  ASSERT_TRUE(first.ok()) << first.status().ToString();
  EXPECT_FALSE(first->from_cache);
  std::optional<JpegFrame> frame = ReadJpegFrame(first->jpeg);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->width, 160);
  EXPECT_EQ(frame->height, 120);

  // Kept beside the engine folder, nothing written into the image folder.
  EXPECT_EQ(Names("index/VT_DATA/VT_INDEX.previews").size(), 1u);
  EXPECT_EQ(Names("images/sport"), std::vector<std::string>{"goal.jpg"});

  StatusOr<Preview> again = Maker().Make(Request("sport/goal.jpg"));  // a new maker: from disk
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again->from_cache);
  EXPECT_EQ(again->jpeg, first->jpeg);
  EXPECT_EQ(shrinks_, 1);

  // Same size, another picture, a later time: a new preview.
  ASSERT_TRUE(dir_.WriteFile("images/sport/goal.jpg", TestJpeg(800, 600, 3, false, 99)));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/sport/goal.jpg"), 1700000060));
  StatusOr<Preview> changed = maker.Make(Request("sport/goal.jpg"));
  ASSERT_TRUE(changed.ok());
  EXPECT_FALSE(changed->from_cache);
  EXPECT_NE(changed->jpeg, first->jpeg);
  EXPECT_EQ(shrinks_, 2);
}

TEST_F(PreviewMakerTest, RefusesLinksInImageFoldersAndAroundTheCache) {
  ASSERT_TRUE(dir_.WriteFile("outside/secret.jpg", TestJpeg(300, 200, 3, false)));
  ASSERT_EQ(::symlink(dir_.Path("outside/secret.jpg").c_str(),
                      dir_.Path("images/sport/link.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("images/linked").c_str()), 0);
  PreviewMaker maker = Maker();

  EXPECT_FALSE(maker.Make(Request("sport/link.jpg")).ok());
  StatusOr<Preview> through = maker.Make(Request("linked/secret.jpg"));
  ASSERT_FALSE(through.ok());
  EXPECT_EQ(through.status().code(), StatusCode::kInvalidArgument);
  PreviewRequest elsewhere = Request("sport/x.jpg");
  elsewhere.image_path = dir_.Path("outside/secret.jpg");
  EXPECT_FALSE(maker.Make(elsewhere).ok());
  EXPECT_EQ(shrinks_, 0);

  // A link in the cache folder's place is never written through; the
  // preview is still made.
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(),
                      dir_.Path("index/VT_DATA/VT_INDEX.previews").c_str()), 0);
  ASSERT_TRUE(dir_.WriteFile("images/sport/real.jpg", TestJpeg(300, 200, 3, false)));
  StatusOr<Preview> made = maker.Make(Request("sport/real.jpg"));
  ASSERT_TRUE(made.ok()) << made.status().ToString();
  EXPECT_FALSE(made->jpeg.empty());
  EXPECT_EQ(Names("outside"), std::vector<std::string>{"secret.jpg"});
}

TEST_F(PreviewMakerTest, OtherTypesGiveIconsAndPdfsTheirThumbnail) {
  ASSERT_TRUE(dir_.WriteFile("images/a.tif", std::string("II*\0", 4) + "rest"));
  ASSERT_TRUE(dir_.WriteFile("images/a.png", "\x89PNG\r\n\x1A\n rest"));
  ASSERT_TRUE(dir_.WriteFile("images/a.eps", "%!PS-Adobe-3.0 EPSF-3.0"));
  ASSERT_TRUE(dir_.WriteFile("images/noext", std::string("MM\0*", 4)));
  ASSERT_TRUE(dir_.WriteFile("images/a.psd", "8BPS"));
  ASSERT_TRUE(dir_.WriteFile("images/a.pdf", "%PDF-1.4 body"));
  ASSERT_TRUE(dir_.WriteFile("pdf/TN1/a.jpg", TestJpeg(300, 400, 3, false)));
  ASSERT_TRUE(dir_.WriteFile("pdf/TN1/bad.jpg", "\xFF\xD8\xFF broken"));
  ASSERT_EQ(::symlink(dir_.Path("pdf/TN1/a.jpg").c_str(), dir_.Path("pdf/TN1/link.jpg").c_str()),
            0);
  PreviewMaker maker = Maker();

  struct Case {
    const char* image;
    const char* thumbnail;  // below pdf/, "" for none
    PreviewIcon icon;
  };
  for (const Case& c : std::vector<Case>{{"a.tif", "", PreviewIcon::kTiff},
                                         {"a.png", "", PreviewIcon::kPng},
                                         {"a.eps", "", PreviewIcon::kEps},
                                         {"noext", "", PreviewIcon::kTiff},
                                         {"a.psd", "", PreviewIcon::kOther},
                                         {"a.pdf", "", PreviewIcon::kPdf},
                                         {"a.pdf", "TN1/missing.jpg", PreviewIcon::kPdf},
                                         {"a.pdf", "TN1/bad.jpg", PreviewIcon::kPdf},
                                         {"a.pdf", "TN1/link.jpg", PreviewIcon::kPdf},
                                         {"a.pdf", "TN1/a.jpg", PreviewIcon::kNone}}) {
    SCOPED_TRACE(std::string(c.image) + " " + c.thumbnail);
    PreviewRequest r = Request(c.image);
    if (*c.thumbnail) r.pdf_thumbnail = dir_.Path(std::string("pdf/") + c.thumbnail);
    StatusOr<Preview> p = maker.Make(r);
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    EXPECT_EQ(p->icon, c.icon);
    EXPECT_EQ(p->jpeg.empty(), c.icon != PreviewIcon::kNone);
  }
  std::optional<JpegFrame> thumb =
      ReadJpegFrame(maker.Make([&] {
                      PreviewRequest r = Request("a.pdf");
                      r.pdf_thumbnail = dir_.Path("pdf/TN1/a.jpg");
                      return r;
                    }()).value().jpeg);
  ASSERT_TRUE(thumb.has_value());
  EXPECT_EQ(thumb->height, 160);
}

TEST_F(PreviewMakerTest, KeepsTheCacheBelowItsLimit) {
  PreviewMaker::Options options;
  options.fs = DefaultFileSystem();
  options.max_cache_entries = 10;
  options.shrink = [](const JpegByteReader&, const JpegShrinkLimits&) -> StatusOr<std::string> {
    return std::string("preview bytes");
  };
  PreviewMaker maker(std::move(options));
  for (int i = 0; i < 70; ++i) {
    const std::string name = "p" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(dir_.WriteFile("images/" + name, "\xFF\xD8\xFF"));
    ASSERT_TRUE(maker.Make(Request(name)).ok());
    ASSERT_LE(Names("index/VT_DATA/VT_INDEX.previews").size(), 10u) << i;
  }
  // Trimmed to the newest 7 at the 67th preview, 3 more since.
  std::vector<std::string> kept = Names("index/VT_DATA/VT_INDEX.previews");
  EXPECT_EQ(kept.size(), 10u);
}

}  // namespace
}  // namespace vantrel
