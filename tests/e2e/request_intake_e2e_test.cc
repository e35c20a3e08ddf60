// Whole-server tests of request files written the way clients write them: in
// several writes with pauses, through one open file that is closed at the
// end. The server must answer the whole request, never the part written so
// far.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/browse_list.h"
#include "search/hit_file.h"
#include "search/request_file.h"
#include "server_process.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

constexpr char kMergedKey[] = "01Photos\\merged.jpg";

uint32_t U32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

class RequestIntakeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeOneIndexStart(dir_));
    server_ = std::make_unique<ServerProcess>(
        dir_.Path("start"), std::vector<std::string>{"--no-console"}, dir_.Path("server.log"));
    ASSERT_TRUE(server_->WaitForOutput("Database Process Ready for Search", milliseconds(60000)))
        << server_->Output();
    // A merge list with one entry: an answer holds it only when the server
    // read the request's merge name, which lies beyond its first writes.
    BrowseList list;
    ASSERT_TRUE(list.Add(kMergedKey, 1000, 1, 0).ok());
    ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/MINE.HIT", EncodeHitFile(list, 1, 0)));
  }
  void TearDown() override {
    server_->Signal(SIGTERM);
    EXPECT_EQ(server_->WaitExit(), 0) << server_->Output();
  }

  // Writes `bytes` as request `name` in pieces of the given sizes (the last
  // piece takes the rest), `pause` apart, through one descriptor.
  void WriteInPieces(const std::string& name, const std::string& bytes,
                     const std::vector<size_t>& sizes, milliseconds pause) {
    const std::string path = dir_.Path("index/VT_SEARCH/") + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    size_t at = 0;
    for (size_t i = 0; i <= sizes.size() && at < bytes.size(); ++i) {
      if (i != 0) std::this_thread::sleep_for(pause);
      size_t n = i < sizes.size() ? std::min(sizes[i], bytes.size() - at) : bytes.size() - at;
      ASSERT_EQ(write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
      at += n;
    }
    close(fd);
  }

  // The count of the answer `hit_name` once it holds the merged entry, or
  // what it held when the patience ran out (-1: no answer).
  int64_t AnswerCount(const std::string& hit_name) {
    const std::string path = dir_.Path("index/VT_SEARCH/") + hit_name;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int64_t count = -1;
    while (std::chrono::steady_clock::now() < deadline) {
      StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(path);
      if (bytes.ok() && bytes->size() >= 408) {
        count = U32At(*bytes, 0);
        if (count == 1 && bytes->find(kMergedKey) != std::string::npos) return count;
      }
      std::this_thread::sleep_for(milliseconds(50));
    }
    return count;
  }

  TempDir dir_;
  std::unique_ptr<ServerProcess> server_;
};

LongSearchRequest LongMergeRequest() {
  LongSearchRequest l;
  l.query_text = "nothingfindsthisword";
  l.merge_file = "MINE.HIT";
  l.merge_flag = 1;
  return l;
}

TEST_F(RequestIntakeServerTest, EveryFormWrittenInPiecesIsAnsweredWhole) {
  ShortSearchRequest s;
  s.first_term = "nothingfindsthisword";
  s.list_file = "MINE.HIT";
  s.merge_flag = 1;
  QueryRequest q;
  q.query_text = "nothingfindsthisword";
  q.merge_file = "MINE.HIT";
  q.list_options = 1;
  struct Case {
    std::string name;
    std::string bytes;
    std::vector<size_t> sizes;
    int pause_ms;
  };
  const std::vector<Case> cases = {
      // The short form, its 520 bytes in two writes.
      {"SHORT.REQ", EncodeShortSearchRequest(s).value(), {300}, 500},
      // Long forms: cut inside the hit limit, exactly at the short form's
      // size (read early it is a short form), and in three writes.
      {"LONG540.REQ", EncodeLongSearchRequest(LongMergeRequest()).value(), {540}, 50},
      {"LONG520.REQ", EncodeLongSearchRequest(LongMergeRequest()).value(), {520}, 300},
      {"LONG3.REQ", EncodeLongSearchRequest(LongMergeRequest()).value(), {200, 400}, 200},
      {"QUERY.QRY", EncodeQueryRequest(q).value(), {1000, 1000}, 500},
  };
  // Written one after the other; answers are checked afterwards.
  for (const Case& c : cases) WriteInPieces(c.name, c.bytes, c.sizes, milliseconds(c.pause_ms));
  for (const Case& c : cases) {
    std::string hit = c.name.substr(0, c.name.size() - 3) + "HIT";
    EXPECT_EQ(AnswerCount(hit), 1) << c.name << "\n" << server_->Output();
    EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.Path("index/VT_SEARCH/") + c.name)) << c.name;
  }
}

}  // namespace
}  // namespace vantrel
