// The XMP sidecar rule of the builder: a sidecar gets no document while the
// index reads XMP; its change composes its picture again with the sidecar's
// caption; with XMP off it is a file like any other.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/task_context.h"
#include "indexing/document_builder.h"
#include "platform/file_time.h"
#include "support/document_fixtures.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::RecordingNoticeSink;
using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

constexpr int kIndex = 1;

std::string Sidecar(const std::string& title) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt><rdf:li "
         "xml:lang='x-default'>" +
         title + "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
}

class DocumentSidecarTest : public ::testing::Test {
 protected:
  DocumentSidecarTest() {
    TaskEnvironment env;
    env.fs = DefaultFileSystem();
    env.notices = &notices_;
    env.list_locks = &locks_;
    task_ = std::make_unique<TaskContext>(env);
    task_->config.indexes.resize(kIndex + 1);
    task_->config.indexes[kIndex].empty_fields = 0;
    task_->log_flags = 0;
    services_.add_document = [this](int, std::string_view text, std::string_view key, uint32_t) {
      added_.push_back(std::string(key) + "|" + std::string(text));
    };
    options_.streams = &streams_;
    options_.open_attempts = 2;
    options_.open_pause = std::chrono::milliseconds(1);
    root_ = dir_.Path("P");
  }

  void Write(const std::string& relative, const std::string& bytes) {
    ASSERT_TRUE(dir_.WriteFile("P/" + relative, bytes));
    ASSERT_TRUE(SetFileTimeUtc(root_ + "/" + relative, UtcSeconds(2020, 5, 5)));
  }

  void Build(const std::string& relative, const std::string& key, bool change,
             std::shared_ptr<const std::vector<std::string>> folder_files = nullptr) {
    BuildRequest request;
    request.index = kIndex;
    request.native_path = root_ + "/" + relative;
    request.file_key = key;
    request.native_root = root_;
    request.change = change;
    request.folder_files = std::move(folder_files);
    BuildImageDocument(*task_, services_, options_, request);
  }

  TempDir dir_;
  ListLockTable locks_;
  RecordingNoticeSink notices_;
  std::unique_ptr<TaskContext> task_;
  mac_test::FakeFileStreams streams_;
  DocumentOptions options_;
  DocumentServices services_;
  std::vector<std::string> added_;
  std::string root_;
};

TEST_F(DocumentSidecarTest, ChangedSidecarComposesItsPictureAgain) {
  ASSERT_TRUE(dir_.MakeFolder("P/Sport"));
  Write("Sport/a.jpg", MakeJpeg());
  Write("Sport/b.jpg", MakeJpeg());
  Build("Sport/a.jpg", "01Sport\\a.jpg", false);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_NE(added_[0].find(" xnocap "), std::string::npos);

  Write("Sport/a.xmp", Sidecar("Regatta"));
  Build("Sport/a.xmp", "01Sport\\a.xmp", false);  // a scan: no document
  ASSERT_EQ(added_.size(), 1u);
  Build("Sport/a.xmp", "01Sport\\a.xmp", true);  // a change: the picture again
  ASSERT_EQ(added_.size(), 2u);
  EXPECT_EQ(added_[1].rfind("01Sport\\a.jpg|", 0), 0u) << added_[1];
  EXPECT_NE(added_[1].find("QxQ005 Regatta ZqZ"), std::string::npos) << added_[1];
  const uint32_t stamp = FileTimeStampFromUnix(UtcSeconds(2020, 5, 5));
  EXPECT_FALSE(task_->indexes[kIndex].timelist.Lookup("01Sport\\a.xmp", stamp));
  EXPECT_TRUE(task_->indexes[kIndex].indexed.Lookup("01Sport\\a.jpg", stamp));

  // Removing the sidecar composes the picture without its caption.
  ASSERT_EQ(std::remove((root_ + "/Sport/a.xmp").c_str()), 0);
  Build("Sport/a.xmp", "01Sport\\a.xmp", true);
  ASSERT_EQ(added_.size(), 3u);
  EXPECT_NE(added_[2].find(" xnocap "), std::string::npos) << added_[2];

  // The long form in the folder root.
  Write("c.tif", MakeJpeg());
  Write("c.tif.xmp", Sidecar("Root"));
  Build("c.tif.xmp", "01c.tif.xmp", true);
  ASSERT_EQ(added_.size(), 4u);
  EXPECT_EQ(added_[3].rfind("01c.tif|", 0), 0u) << added_[3];
}

// A scan hands over its listing of the folder: only the sidecar names it
// shows are read.
TEST_F(DocumentSidecarTest, AScanReadsTheSidecarsItsListingShows) {
  Write("a.jpg", MakeJpeg());
  Write("a.xmp", Sidecar("Regatta"));
  Write("b.jpg", MakeJpeg());
  Write("b.xmp", Sidecar("Regatta"));
  using Names = std::vector<std::string>;
  auto listing = std::make_shared<const Names>(Names{"a.jpg", "b.jpg", "b.xmp"});
  Build("a.jpg", "01a.jpg", false, listing);  // a.xmp came after the listing
  Build("b.jpg", "01b.jpg", false, listing);
  ASSERT_EQ(added_.size(), 2u);
  EXPECT_NE(added_[0].find(" xnocap "), std::string::npos) << added_[0];
  EXPECT_NE(added_[1].find("QxQ005 Regatta ZqZ"), std::string::npos) << added_[1];
}

TEST_F(DocumentSidecarTest, WithXmpOffASidecarIsAFileLikeAnyOther) {
  // The index's stored switch word decides, whatever the options say.
  task_->config.indexes[kIndex].metadata_switches = MetadataSwitches::AllOff().ToStoredBits();
  Write("a.jpg", MakeJpeg());
  Write("a.xmp", Sidecar("Regatta"));
  Build("a.xmp", "01a.xmp", true);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].rfind("01a.xmp|", 0), 0u);
}

}  // namespace
}  // namespace vantrel
