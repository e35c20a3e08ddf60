#include <string>

#include "ctl_test_util.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

class CtlInspectTest : public CtlTest {};

TEST_F(CtlInspectTest, ShowsTheReaderAndEveryDataset) {
  ASSERT_TRUE(dir_.WriteFile("pic.jpg", MakeJpegWithIptc({{2, 105, "Harbour fire"},
                                                          {2, 25, "fire"},
                                                          {2, 25, "harbour"},
                                                          {2, 90, "Z\xFCrich"}})));
  ASSERT_EQ(Run({"inspect", "pic.jpg"}), kCtlOk) << err_.str();
  const std::string text = out_.str();
  EXPECT_NE(text.find("Type: JPEG"), std::string::npos) << text;
  EXPECT_NE(text.find("Caption source: Photoshop"), std::string::npos) << text;
  EXPECT_NE(text.find("2:105 Headline = \"Harbour fire\""), std::string::npos) << text;
  EXPECT_LT(text.find("Keywords = \"fire\""), text.find("Keywords = \"harbour\""));
  // Latin-1 bytes are shown as the characters they stand for.
  EXPECT_NE(text.find("City = \"Z\xC3\xBCrich\""), std::string::npos) << text;

  ASSERT_TRUE(dir_.WriteFile("plain.jpg", MakeJpeg()));
  ASSERT_EQ(Run({"inspect", "plain.jpg"}), kCtlOk);
  EXPECT_NE(out_.str().find("Caption source: none"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Image info: width 8, height 8, channels 1, resolution 72.000 dpi (header)"),
            std::string::npos)
      << out_.str();

  EXPECT_EQ(Run({"inspect", "missing.jpg"}), kCtlFailed);
  EXPECT_EQ(Run({"inspect"}), kCtlUsage);
}

TEST_F(CtlInspectTest, PrintsTheImageDocument) {
  ASSERT_TRUE(dir_.WriteFile("Sport/pic.jpg", MakeJpegWithIptc({{2, 105, "Harbour fire"}})));
  const std::string tail_root = " QxQJ5010 pic.jpg ZqZ  QxQL5012 " + dir_.Path("Sport") +
                                " ZqZ  QxQK5011 Sport ZqZ \n";
  ASSERT_EQ(Run({"inspect", "Sport/pic.jpg"}), kCtlOk) << err_.str();
  std::string text = out_.str();
  EXPECT_NE(text.find("\nImage document (file key 00pic.jpg):\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" QxQB5002 JPEG ZqZ "), std::string::npos) << text;
  // The 8x8 grey picture's header gives the image-info groups.
  EXPECT_NE(text.find(" QxQN5014 OFFLINE ZqZ  QxQA5001 BW B/W ZqZ  QxQC5003 0020 ZqZ "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" QxQM5013 LANDSCAPE PORTRAIT ZqZ  xsmallcap QxQ005 xnoword ZqZ "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("QxQ105 Harbour fire ZqZ "), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - tail_root.size()), tail_root);

  ASSERT_EQ(Run({"inspect", "Sport/pic.jpg", "--root", dir_.path(), "--empty-fields", "0"}),
            kCtlOk);
  text = out_.str();
  EXPECT_NE(text.find("(file key 01Sport\\pic.jpg)"), std::string::npos) << text;
  EXPECT_NE(text.find(" QxQM5013 LANDSCAPE PORTRAIT ZqZ  xsmallcap QxQ105 Harbour fire ZqZ "),
            std::string::npos)
      << text;

  ASSERT_EQ(Run({"inspect", "Sport/pic.jpg", "--key", "03x.jpg", "--no-docinfo"}), kCtlOk);
  EXPECT_NE(out_.str().find("(file key 03x.jpg)"), std::string::npos);
  EXPECT_NE(out_.str().find(" QxQM5013 LANDSCAPE PORTRAIT ZqZ  xnocap "), std::string::npos)
      << out_.str();

  EXPECT_EQ(Run({"inspect", "Sport/pic.jpg", "--root", dir_.Path("Other")}), kCtlUsage);
  EXPECT_EQ(Run({"inspect", "Sport/pic.jpg", "--key", "03x", "--root", dir_.path()}), kCtlUsage);
  EXPECT_EQ(Run({"inspect", "Sport/pic.jpg", "--empty-fields", "3"}), kCtlUsage);
}

}  // namespace
}  // namespace vantrel
