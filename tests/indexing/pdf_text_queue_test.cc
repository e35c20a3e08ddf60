// The PDF text worker on its own: the order it reads in, replaced requests,
// the bound on finished texts that wait, and stop while a file is read.
#include "indexing/pdf_text_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

// Gives "text of <path>" for every path, each once the gate is open.
class GatedSource {
 public:
  PdfTextQueue::ExtractFunction Function() {
    return [this](const std::string& path, const std::atomic<bool>* cancel) {
      {
        MutexLock lock(&mu_);
        read_.push_back(path);
      }
      while (!open_ && !cancel->load()) std::this_thread::sleep_for(milliseconds(2));
      return "text of " + path;
    };
  }
  void Open() { open_ = true; }
  std::vector<std::string> read() {
    MutexLock lock(&mu_);
    return read_;
  }
  bool WaitForReads(size_t n) {
    for (int i = 0; i < 6000 && read().size() < n; ++i) std::this_thread::sleep_for(milliseconds(10));
    return read().size() >= n;
  }

 private:
  std::atomic<bool> open_{false};
  Mutex mu_;
  std::vector<std::string> read_ GUARDED_BY(mu_);
};

std::vector<std::string> Keys(const std::vector<PdfTextResult>& results) {
  std::vector<std::string> keys;
  for (const PdfTextResult& r : results) keys.push_back(r.request.file_key + "=" + r.text);
  return keys;
}

TEST(PdfTextQueueTest, ReadsInOrderReplacesWaitingRequestsAndKeepsIndexesApart) {
  GatedSource source;
  PdfTextQueue queue(source.Function());
  queue.Queue({0, "/a/first.pdf", "01first.pdf", 1});
  ASSERT_TRUE(source.WaitForReads(1));  // the first one is being read
  queue.Queue({0, "/a/second.pdf", "01second.pdf", 1});
  queue.Queue({1, "/b/second.pdf", "01second.pdf", 1});
  queue.Queue({0, "/a/second v2.pdf", "01second.pdf", 2});  // replaces the waiting one
  source.Open();
  ASSERT_TRUE(queue.WaitUntilIdle(std::chrono::seconds(60)));

  EXPECT_EQ(source.read(),
            (std::vector<std::string>{"/a/first.pdf", "/a/second v2.pdf", "/b/second.pdf"}));
  std::vector<PdfTextResult> index0 = queue.TakeReady(0);
  EXPECT_EQ(Keys(index0), (std::vector<std::string>{"01first.pdf=text of /a/first.pdf",
                                                    "01second.pdf=text of /a/second v2.pdf"}));
  EXPECT_EQ(index0[1].request.time, 2u);
  EXPECT_TRUE(queue.TakeReady(0).empty());
  EXPECT_EQ(Keys(queue.TakeReady(1)),
            std::vector<std::string>{"01second.pdf=text of /b/second.pdf"});
}

TEST(PdfTextQueueTest, PausesWhileTheFinishedTextsWaitToBeTaken) {
  GatedSource source;
  source.Open();
  PdfTextQueue queue(source.Function(), /*max_ready=*/2);
  for (int i = 0; i < 5; ++i) {
    queue.Queue({0, "/a/" + std::to_string(i) + ".pdf", "01" + std::to_string(i), 1});
  }
  ASSERT_TRUE(source.WaitForReads(2));
  EXPECT_FALSE(queue.WaitUntilIdle(milliseconds(300)));
  EXPECT_EQ(source.read().size(), 2u);
  // Taken one now and then: never more than two ahead of the taker.
  size_t taken = 0;
  for (int i = 0; i < 12000 && taken < 5; ++i) {
    EXPECT_LE(source.read().size(), taken + 2);
    if (i % 10 == 0) taken += queue.TakeReady(0).size();
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(taken, 5u);
}

TEST(PdfTextQueueTest, StopCancelsTheFileBeingRead) {
  GatedSource source;  // never opened: only the cancel flag ends a read
  auto queue = std::make_unique<PdfTextQueue>(source.Function());
  queue->Queue({0, "/a/stuck.pdf", "01stuck.pdf", 1});
  queue->Queue({0, "/a/next.pdf", "01next.pdf", 1});
  ASSERT_TRUE(source.WaitForReads(1));
  queue.reset();
  EXPECT_EQ(source.read(), std::vector<std::string>{"/a/stuck.pdf"});
}

}  // namespace
}  // namespace vantrel
