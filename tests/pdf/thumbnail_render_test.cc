// Making the pictures of a thumbnail job, decoded back and looked at.
#include "pdf/thumbnail_render.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <unistd.h>

#include <csetjmp>
#include <map>

#include "support/fault_file_system.h"
#include "support/file_times.h"
#include "support/pdf_builder.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

struct JpegFailure {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// The JPEG file at `path` as RGB; width 0 when it is no JPEG.
RgbPicture DecodeJpegFile(const std::string& path) {
  RgbPicture out;
  StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(path);
  if (!bytes.ok()) return out;
  jpeg_decompress_struct info;
  JpegFailure err;
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = [](j_common_ptr i) {
    std::longjmp(reinterpret_cast<JpegFailure*>(i->err)->jump, 1);
  };
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return RgbPicture{};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out.pixels.data() +
                                              static_cast<size_t>(info.output_scanline) * out.width * 3);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return out;
}

// Mean brightness of the columns [x0, x1) of `p`.
double MeanBrightness(const RgbPicture& p, int x0, int x1) {
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = x0; x < x1; ++x) {
      for (int c = 0; c < 3; ++c) sum += static_cast<unsigned char>(p.pixels[(static_cast<size_t>(y) * p.width + x) * 3 + c]);
      n += 3;
    }
  }
  return n == 0 ? 0 : sum / n;
}

// A page black on its left half.
PdfDrawnPage HalfBlack(double w, double h) {
  return PdfDrawnPage{w, h, "0 g 0 0 " + std::to_string(w / 2) + " " + std::to_string(h) + " re f"};
}

// Notes the last-write time of every picture at the moment its write ends,
// before anything else happens to it.
class TimeAtWriteFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  std::map<std::string, WinFileTime> times;

  Status WriteFileAtomic(const std::string& path, std::string_view data, int mode) override {
    return Noted(path, FaultFileSystem::WriteFileAtomic(path, data, mode));
  }
  Status WriteFileAtomicDated(const std::string& path, std::string_view data, int mode,
                              WinFileTime modified) override {
    return Noted(path, FaultFileSystem::WriteFileAtomicDated(path, data, mode, modified));
  }

 private:
  Status Noted(const std::string& path, Status written) {
    StatusOr<FileInfo> info = Stat(path);
    if (info.ok()) times[path] = info->modified;
    return written;
  }
};

class ThumbnailRenderTest : public ::testing::Test {
 protected:
  ThumbnailRenderTest() { dir_.MakeFolder("pics"); }

  // Writes `pdf` as images/<name> and returns the job for it.
  ThumbnailJob Job(const std::string& name, const std::string& pdf, uint32_t pages = 3) {
    EXPECT_TRUE(dir_.WriteFile("images/" + name, pdf));
    ThumbnailJob job;
    job.pdf_path = dir_.Path("images/" + name);
    const PicturePaths p = MakePicturePaths(dir_.Path("pics"), dir_.Path("images"), name);
    job.thumbnail_path = p.thumbnail;
    job.preview_paths = p.previews;
    job.thumbnail_size = 150;
    job.preview_size = 500;
    job.preview_pages = pages;
    return job;
  }

  StatusOr<std::vector<std::string>> Render(const ThumbnailJob& job) {
    return RenderThumbnailJob(job, CodePage::Default(), &fs_);
  }

  bool Exists(const std::string& path) { return DefaultFileSystem()->Exists(path); }

  TempDir dir_;
  TimeAtWriteFileSystem fs_{DefaultFileSystem()};
};

TEST_F(ThumbnailRenderTest, PicturesHaveTheSizesAskedThePagesContentAndThePdfTime) {
  ThumbnailJob job = Job("sport/report.pdf",
                         BuildDrawnPdf({HalfBlack(400, 600), HalfBlack(600, 400), {}, {}}));
  ASSERT_TRUE(SetModifiedTime(job.pdf_path, 1'600'000'000));
  StatusOr<std::vector<std::string>> written = Render(job);
  ASSERT_TRUE(written.ok()) << written.status().ToString();
  ASSERT_EQ(written->size(), 4u);
  EXPECT_EQ(written->back(), job.thumbnail_path);

  const RgbPicture thumb = DecodeJpegFile(job.thumbnail_path);
  EXPECT_EQ(thumb.height, 150);
  EXPECT_NEAR(thumb.width, 100, 1);
  EXPECT_LT(MeanBrightness(thumb, 0, thumb.width / 2 - 2), 60);
  EXPECT_GT(MeanBrightness(thumb, thumb.width / 2 + 2, thumb.width), 200);
  const RgbPicture pv1 = DecodeJpegFile(job.preview_paths[0]);
  EXPECT_EQ(pv1.height, 500);
  EXPECT_NEAR(pv1.width, 333, 1);
  const RgbPicture pv2 = DecodeJpegFile(job.preview_paths[1]);  // a landscape page
  EXPECT_EQ(pv2.width, 500);
  EXPECT_NEAR(pv2.height, 333, 1);
  EXPECT_EQ(DecodeJpegFile(job.preview_paths[2]).height, 500);

  // The thumbnail's time says it is up to date; it has it from the moment it
  // appears, so no client or restart sees it with another.
  StatusOr<FileInfo> pdf = DefaultFileSystem()->Stat(job.pdf_path);
  StatusOr<FileInfo> tn1 = DefaultFileSystem()->Stat(job.thumbnail_path);
  ASSERT_TRUE(pdf.ok() && tn1.ok());
  EXPECT_EQ(tn1->modified, pdf->modified);
  ASSERT_EQ(fs_.times.count(job.thumbnail_path), 1u);
  EXPECT_EQ(fs_.times[job.thumbnail_path], pdf->modified);
}

TEST_F(ThumbnailRenderTest, PreviewsOnlyForPagesThePdfHasAndThePageCountAsks) {
  ThumbnailJob two = Job("two.pdf", BuildDrawnPdf({{}, {}}));
  ASSERT_TRUE(Render(two).ok());
  EXPECT_TRUE(Exists(two.preview_paths[1]));
  EXPECT_FALSE(Exists(two.preview_paths[2]));
  ThumbnailJob one = Job("one.pdf", BuildDrawnPdf({{}, {}, {}}), /*pages=*/1);
  ASSERT_TRUE(Render(one).ok());
  EXPECT_TRUE(Exists(one.thumbnail_path));
  EXPECT_TRUE(Exists(one.preview_paths[0]));
  EXPECT_FALSE(Exists(one.preview_paths[1]));
}

TEST_F(ThumbnailRenderTest, UnreadablePdfsFailWithoutWritingAnything) {
  const std::string encrypted = BuildPdfFromObjects(
      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
       "<< /Filter /Standard /V 1 /R 2 /P -4 /O (" + std::string(32, 'o') + ") /U (" +
           std::string(32, 'u') + ") >>"},
      "/Root 1 0 R /Encrypt 3 0 R /ID [(0123456789abcdef) (0123456789abcdef)]");
  const std::string damaged = BuildDrawnPdf({HalfBlack(400, 600)}).substr(0, 60);
  const std::pair<const char*, std::string> cases[] = {
      {"damaged.pdf", damaged}, {"empty.pdf", BuildDrawnPdf({})},
      {"encrypted.pdf", encrypted}, {"huge.pdf", BuildDrawnPdf({{1e8, 1e8, ""}})}};
  for (const auto& [name, bytes] : cases) {
    StatusOr<std::vector<std::string>> written = Render(Job(name, bytes));
    EXPECT_FALSE(written.ok()) << name;
  }
  StatusOr<std::vector<FolderEntry>> left = DefaultFileSystem()->ListFolder(dir_.Path("pics"));
  ASSERT_TRUE(left.ok());
  EXPECT_TRUE(left->empty());
}

TEST_F(ThumbnailRenderTest, HostilePathsAreRefusedAndLinksNeverFollowed) {
  const std::string pdf = BuildDrawnPdf({{}});
  ThumbnailJob mixed = Job("a.pdf", pdf);
  mixed.preview_paths[1] = dir_.Path("elsewhere/a.pdf");
  ThumbnailJob climbing = Job("a.pdf", pdf);
  const PicturePaths up = MakePicturePaths(dir_.Path("pics"), "/x/..", "../../escaped.pdf");
  climbing.thumbnail_path = up.thumbnail;
  climbing.preview_paths = up.previews;
  EXPECT_FALSE(Render(mixed).ok());
  EXPECT_FALSE(Render(climbing).ok());

  // A client planted a link where a picture folder goes.
  ASSERT_TRUE(dir_.MakeFolder("outside"));
  ASSERT_EQ(symlink(dir_.Path("outside").c_str(), dir_.Path("pics/TN1").c_str()), 0);
  EXPECT_FALSE(Render(Job("b.pdf", pdf)).ok());
  StatusOr<std::vector<FolderEntry>> outside = DefaultFileSystem()->ListFolder(dir_.Path("outside"));
  ASSERT_TRUE(outside.ok());
  EXPECT_TRUE(outside->empty());
  EXPECT_FALSE(Exists(dir_.Path("escaped.pdf")));
}

}  // namespace
}  // namespace vantrel
