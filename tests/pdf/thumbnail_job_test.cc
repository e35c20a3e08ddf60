// The thumbnail job record and its picture paths.
#include "pdf/thumbnail_job.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// The 1300 bytes written field by field, as a client of the record reads them.
std::string ExpectedRecord(const std::string (&paths)[5], uint32_t thumb, uint32_t preview,
                           uint32_t pages, uint32_t mac_text) {
  std::string out(1300, '\0');
  for (int i = 0; i < 5; ++i) out.replace(static_cast<size_t>(i) * 256, paths[i].size(), paths[i]);
  const uint32_t ints[5] = {0, thumb, preview, pages, mac_text};
  for (int i = 0; i < 5; ++i) {
    for (int b = 0; b < 4; ++b) out[1280 + 4 * i + b] = static_cast<char>(ints[i] >> (8 * b));
  }
  return out;
}

ThumbnailJob JobFor(const PicturePaths& p, const std::string& pdf) {
  ThumbnailJob job;
  job.pdf_path = pdf;
  job.thumbnail_path = p.thumbnail;
  job.preview_paths = p.previews;
  return job;
}

TEST(ThumbnailJobTest, RecordsAreByteExactForNestedFoldersAndImageFolderRoots) {
  struct Case {
    std::string image_folder, relative, pdf;
    std::string expected[5];
  };
  const Case cases[] = {
      {"/srv/images", "sport/2024/report.pdf", "/srv/images/sport/2024/report.pdf",
       {"/srv/images/sport/2024/report.pdf", "/pics/TN1/srv/images/sport/2024/report.pdf",
        "/pics/PV1/srv/images/sport/2024/report.pdf", "/pics/PV2/srv/images/sport/2024/report.pdf",
        "/pics/PV3/srv/images/sport/2024/report.pdf"}},
      // A PDF directly in its image folder; a trailing separator is ignored.
      {"/srv/images/", "a.pdf", "/srv/images/a.pdf",
       {"/srv/images/a.pdf", "/pics/TN1/srv/images/a.pdf", "/pics/PV1/srv/images/a.pdf",
        "/pics/PV2/srv/images/a.pdf", "/pics/PV3/srv/images/a.pdf"}},
      // An image folder at the file system root has no folder part.
      {"/", "x/b.pdf", "/x/b.pdf",
       {"/x/b.pdf", "/pics/TN1/x/b.pdf", "/pics/PV1/x/b.pdf", "/pics/PV2/x/b.pdf",
        "/pics/PV3/x/b.pdf"}},
  };
  for (const Case& c : cases) {
    ThumbnailJob job = JobFor(MakePicturePaths("/pics/", c.image_folder, c.relative), c.pdf);
    job.thumbnail_size = 250;
    job.preview_size = 1024;
    job.preview_pages = 1;  // all three preview paths are still filled
    job.mac_text = 1;
    StatusOr<std::string> record = EncodeThumbnailJob(job);
    ASSERT_TRUE(record.ok()) << record.status().ToString();
    EXPECT_EQ(*record, ExpectedRecord(c.expected, 250, 1024, 1, 1)) << c.pdf;
    StatusOr<ThumbnailJob> back = DecodeThumbnailJob(*record);
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    EXPECT_EQ(*back, job);
  }
}

TEST(ThumbnailJobTest, PathsMustFitTheirFields) {
  const PicturePaths p = MakePicturePaths("/pics", "/srv", std::string(244, 'n'));
  // "/pics/TN1/srv/" is 14 bytes: 258 bytes leave no room for the NUL.
  EXPECT_FALSE(EncodeThumbnailJob(JobFor(p, "/srv/a.pdf")).ok());
  const PicturePaths fits = MakePicturePaths("/pics", "/srv", std::string(241, 'n'));
  EXPECT_EQ(fits.thumbnail.size(), 255u);
  EXPECT_TRUE(EncodeThumbnailJob(JobFor(fits, "/srv/a.pdf")).ok());
}

TEST(ThumbnailJobTest, DamagedRecordsAreRefused) {
  ThumbnailJob job = JobFor(MakePicturePaths("/p", "/i", "a.pdf"), "/i/a.pdf");
  const std::string good = *EncodeThumbnailJob(job);
  std::string unterminated = good;
  unterminated.replace(256, 256, std::string(256, 'x'));
  std::string empty_pdf = good;
  empty_pdf[0] = '\0';
  std::string reserved = good;
  reserved[1280] = 1;
  std::string pages = good;
  pages[1292] = 2;
  for (const std::string& bad : {good.substr(0, 1299), good + "x", unterminated, empty_pdf,
                                 reserved, pages}) {
    EXPECT_EQ(DecodeThumbnailJob(bad).status().code(), StatusCode::kCorruption);
  }
}

}  // namespace
}  // namespace vantrel
