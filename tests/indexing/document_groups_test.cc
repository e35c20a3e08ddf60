#include "indexing/document_groups.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/file_time.h"
#include "support/document_fixtures.h"

namespace vantrel {
namespace {

TEST(DocumentGroupsTest, GroupFormats) {
  EXPECT_EQ(TextGroup(kMarkerFileType, "JPEG"), " QxQB5002 JPEG ZqZ ");
  // A value ends at its first zero byte, as a C string does.
  EXPECT_EQ(TextGroup(kMarkerFileType, std::string("AB\0D", 4)), " QxQB5002 AB ZqZ ");
  EXPECT_EQ(Number4Group(kMarkerResolution, 110), " QxQC5003 0110 ZqZ ");
  EXPECT_EQ(Number4Group(kMarkerPixelWidth, -100), " QxQF5006 -100 ZqZ ");
  EXPECT_EQ(Number4Group(kMarkerWidthCm, -5), " QxQD5004 -005 ZqZ ");
  EXPECT_EQ(Number4Group(kMarkerPixelWidth, 123400), " QxQF5006 123400 ZqZ ");
  EXPECT_EQ(Number6Group(kMarkerFileSize, 1000), " QxQH5008 001000 ZqZ ");
  EXPECT_EQ(OnlineGroup(false), " QxQN5014 ONLINE ZqZ ");
  EXPECT_EQ(OnlineGroup(true), " QxQN5014 OFFLINE ZqZ ");
  EXPECT_EQ(OrientationGroup(3, 2), " QxQM5013 LANDSCAPE ZqZ ");
  EXPECT_EQ(OrientationGroup(2, 3), " QxQM5013 PORTRAIT ZqZ ");
  EXPECT_EQ(OrientationGroup(5, 5), " QxQM5013 LANDSCAPE PORTRAIT ZqZ ");
}

TEST(DocumentGroupsTest, FileSizeValue) {
  EXPECT_EQ(FileSizeValue(0), 0);
  EXPECT_EQ(FileSizeValue(52399), 0);
  EXPECT_EQ(FileSizeValue(52400), 100);
  EXPECT_EQ(FileSizeValue(1000000), 1000);
  EXPECT_EQ(FileSizeValue(4294967295ULL - 50000), 4194300);
  // Beyond 4 GiB the size class keeps growing instead of wrapping around.
  EXPECT_EQ(FileSizeValue(5ULL << 30), 5242900);
  EXPECT_EQ(FileSizeValue(UINT64_MAX), INT32_MAX);
}

struct InfoCase {
  uint32_t width, height, channels;
  int32_t resolution_milli;
  const char* groups;
};

TEST(DocumentGroupsTest, ImageInfoGroups) {
  const InfoCase cases[] = {
      {3000, 2000, 3, 300000,
       " QxQA5001 RGB Lab ZqZ  QxQC5003 0110 ZqZ  QxQD5004 0025 ZqZ  QxQE5005 0016 ZqZ "
       " QxQF5006 3000 ZqZ  QxQG5007 2000 ZqZ  QxQI5009 017500 ZqZ  QxQM5013 LANDSCAPE ZqZ "},
      // Resolution 0 counts as 72 dpi (2.83 dots per millimetre).
      {720, 720, 7, 0,
       " QxQA5001 CMYK ZqZ  QxQC5003 0020 ZqZ  QxQD5004 0025 ZqZ  QxQE5005 0025 ZqZ "
       " QxQF5006 0700 ZqZ  QxQG5007 0700 ZqZ  QxQI5009 003500 ZqZ "
       " QxQM5013 LANDSCAPE PORTRAIT ZqZ "},
      // 9.999 dpi is below 10 and counts as 72 too; -1 channels give NONE.
      {150, 720, 0xFFFFFFFF, 9999,
       " QxQA5001 NONE ZqZ  QxQC5003 0020 ZqZ  QxQD5004 0005 ZqZ  QxQE5005 0025 ZqZ "
       " QxQF5006 0100 ZqZ  QxQG5007 0700 ZqZ  QxQI5009 -00100 ZqZ  QxQM5013 PORTRAIT ZqZ "},
      {10, 10, 1, 10000,
       " QxQA5001 BW B/W ZqZ  QxQC5003 0000 ZqZ  QxQD5004 0002 ZqZ  QxQE5005 0002 ZqZ "
       " QxQF5006 0000 ZqZ  QxQG5007 0000 ZqZ  QxQI5009 000000 ZqZ "
       " QxQM5013 LANDSCAPE PORTRAIT ZqZ "},
      {100, 200, 2, 72000,
       " QxQA5001 DUO ZqZ  QxQC5003 0020 ZqZ  QxQD5004 0003 ZqZ  QxQE5005 0007 ZqZ "
       " QxQF5006 0100 ZqZ  QxQG5007 0200 ZqZ  QxQI5009 000000 ZqZ  QxQM5013 PORTRAIT ZqZ "},
  };
  for (const InfoCase& c : cases) {
    ImageInfo info;
    info.width = c.width;
    info.height = c.height;
    info.channels = c.channels;
    info.resolution_milli = c.resolution_milli;
    EXPECT_EQ(ImageInfoGroups(info), c.groups) << c.width << "x" << c.height;
  }
}

TEST(DocumentGroupsTest, ImageInfoValuesWrapLikeSigned32BitArithmetic) {
  ImageInfo info;
  info.width = 70000;
  info.height = 70000;
  info.channels = 4;
  info.resolution_milli = 300000;
  ImageInfoValues v = ComputeImageInfoValues(info);
  // 70000 * 70000 * 4 = 19,600,000,000 wraps to -1,874,836,480.
  EXPECT_EQ(v.image_size, -1874836480 / 102400 * 100);
  EXPECT_EQ(v.pixel_width, 70000);

  // Numbers stored beyond the signed range are read as negative values.
  info.width = 0x80000000u;
  info.height = 0xFFFFFF9Cu;  // -100
  info.channels = 0x7FFFFFFF;
  info.resolution_milli = INT32_MIN;
  v = ComputeImageInfoValues(info);
  EXPECT_EQ(v.pixel_width, INT32_MIN / 100 * 100);
  EXPECT_EQ(v.pixel_height, -100);
  EXPECT_EQ(v.resolution, 20);
  EXPECT_EQ(std::string(v.colour_mode), "CMYK");
  EXPECT_EQ(v.height_cm, -3);
}

TEST(DocumentGroupsTest, Dates) {
  using document_test::UtcSeconds;
  EXPECT_EQ(StampDate(FileTimeStampFromUnix(UtcSeconds(1999, 3, 2, 0, 0, 0))), "19990302");
  EXPECT_EQ(StampDate(FileTimeStampFromUnix(UtcSeconds(1999, 3, 2, 23, 59, 59))), "19990302");
  EXPECT_EQ(StampDate(FileTimeStampFromUnix(UtcSeconds(2024, 2, 29))), "20240229");

  const struct {
    const char* value;
    const char* date;
  } cases[] = {
      {"20010915", "20010915"}, {"20010915T1200", "20010915"},
      {"20000229", "20000229"}, {"19000229", ""},
      {"20011301", ""},         {"20010900", ""},
      {"2001091", ""},          {"2001-09-15", ""},
      {"00000101", ""},         {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CaptionDate(c.value), c.date) << c.value;
}

TEST(DocumentGroupsTest, PathGroups) {
  EXPECT_EQ(PathGroups("/srv/Pictures/Sport/img.jpg"),
            " QxQJ5010 img.jpg ZqZ  QxQL5012 /srv/Pictures/Sport ZqZ  QxQK5011 Sport ZqZ ");
  EXPECT_EQ(PathGroups("/img.jpg"), " QxQJ5010 img.jpg ZqZ  QxQL5012  ZqZ  QxQK5011  ZqZ ");
}

TEST(DocumentGroupsTest, DocumentTextNeverPassesItsLimit) {
  DocumentText doc(10);
  doc.set_limit(6);
  doc.Append("abcd");
  doc.Append("efgh");
  EXPECT_EQ(doc.text(), "abcdef");
  EXPECT_EQ(doc.room(), 0u);
  doc.set_limit(100);  // never beyond the capacity
  EXPECT_EQ(doc.limit(), 10u);
  doc.Append("ghijkl");
  EXPECT_EQ(doc.text(), "abcdefghij");
}

}  // namespace
}  // namespace vantrel
