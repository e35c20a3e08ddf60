// vantrelctl pdf render: one PDF's pictures through the renderer program.
#include <stdlib.h>

#include "support/pdf_builder.h"
#include "tools/ctl_test_util.h"

namespace vantrel {
namespace {

class CtlPdfRenderTest : public CtlTest {
 protected:
  CtlPdfRenderTest() {
    setenv("VANTREL_RENDER", (std::string(VANTREL_BINARY_DIR) + "/src/tools/vantrel-render").c_str(),
           1);
  }
  ~CtlPdfRenderTest() override { unsetenv("VANTREL_RENDER"); }
};

TEST_F(CtlPdfRenderTest, MakesThePicturesAndSaysWhereTheyWent) {
  const std::string images = Folder("images");
  ASSERT_EQ(Run({"index", "add", "Main", Folder("index")}), kCtlOk) << err_.str();
  ASSERT_EQ(Run({"folder", "add", "0", images}), kCtlOk) << err_.str();
  ASSERT_TRUE(dir_.WriteFile("images/sport/r.pdf", BuildDrawnPdf({{}, {}})));
  ASSERT_TRUE(dir_.WriteFile("images/bad.pdf", "%PDF-1.4 damaged"));
  ASSERT_TRUE(dir_.WriteFile("elsewhere.pdf", BuildDrawnPdf({{}})));

  // No PDF folder yet.
  EXPECT_EQ(Run({"pdf", "render", images + "/sport/r.pdf"}), kCtlFailed);
  ASSERT_EQ(Run({"pdf", "set", "--folder", Folder("pics")}), kCtlOk) << err_.str();

  ASSERT_EQ(Run({"pdf", "render", images + "/sport/r.pdf"}), kCtlOk) << err_.str();
  const std::string tail = images + "/sport/r.pdf";
  EXPECT_EQ(out_.str(), dir_.Path("pics/PV1") + tail + "\n" + dir_.Path("pics/PV2") + tail +
                            "\n" + dir_.Path("pics/TN1") + tail + "\n");
  EXPECT_TRUE(env_.fs->Exists(dir_.Path("pics/TN1") + tail));

  EXPECT_EQ(Run({"pdf", "render", images + "/bad.pdf"}), kCtlFailed);
  EXPECT_NE(err_.str().find("bad.pdf"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"pdf", "render", dir_.Path("elsewhere.pdf")}), kCtlFailed);
  EXPECT_NE(err_.str().find("no image folder"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace vantrel
