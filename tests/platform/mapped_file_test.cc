#include "platform/mapped_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Above the threshold a file is mapped unless reading is asked for; at or
// below it, it is read either way. The bytes are the same in every case.
TEST(MappedFile, MapsLargeFilesReadsSmallOnesSameBytes) {
  TempDir dir;
  struct Case {
    size_t size;
    bool mapped_by_default;
  };
  for (const Case c : {Case{kReadRatherThanMap + 1, true}, Case{kReadRatherThanMap, false},
                       Case{10000, false}}) {
    std::string bytes(c.size, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(dir.WriteFile("a.bin", bytes));
    auto by_default = MappedFile::Open(dir.Path("a.bin"));
    ASSERT_TRUE(by_default.ok()) << by_default.status().ToString();
    EXPECT_EQ((*by_default)->mapped(), c.mapped_by_default) << c.size;
    EXPECT_EQ((*by_default)->data(), bytes) << c.size;
    auto read = MappedFile::Open(dir.Path("a.bin"), MappedFile::Mode::kRead);
    ASSERT_TRUE(read.ok());
    EXPECT_FALSE((*read)->mapped());
    EXPECT_EQ((*read)->data(), bytes) << c.size;
  }
}

TEST(MappedFile, EmptyMissingAndFolders) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("empty", ""));
  auto empty = MappedFile::Open(dir.Path("empty"));
  ASSERT_TRUE(empty.ok());  // an empty file cannot be mapped: read, zero bytes
  EXPECT_FALSE((*empty)->mapped());
  EXPECT_EQ((*empty)->size(), 0u);
  EXPECT_EQ(MappedFile::Open(dir.Path("missing")).status().code(), StatusCode::kNotFound);
  ASSERT_TRUE(dir.MakeFolder("sub"));
  EXPECT_EQ(MappedFile::Open(dir.Path("sub")).status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(MappedFile::Open("").status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(MappedFile::Open(std::string("a\0b", 3)).status().code(), StatusCode::kInvalidArgument);
}

// Image folders are written by clients: a pipe put in place of a picture
// is refused at once, never waited on.
TEST(MappedFile, APipeIsRefusedWithoutWaitingForAWriter) {
  TempDir dir;
  const std::string pipe = dir.Path("picture.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  StatusCode code = StatusCode::kOk;
  std::thread reader([&] {
    code = MappedFile::Open(pipe).status().code();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool waited = !done;
  if (waited) {
    // Free the reader held in its open: a writer comes and goes at once.
    const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  reader.join();
  EXPECT_FALSE(waited) << "the open waited for a writer";
  EXPECT_EQ(code, StatusCode::kInvalidArgument);
}

TEST(FileViewLock, OneHolderPerPath) {
  FileViewLock a("/images/one.jpg");
  EXPECT_TRUE(a.held());
  FileViewLock probe;
  EXPECT_FALSE(FileViewLock::TryLock("/images/one.jpg", &probe));
  EXPECT_TRUE(FileViewLock::TryLock("/images/two.jpg", &probe));  // other paths are free
  FileViewLock moved(std::move(a));
  EXPECT_FALSE(a.held());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_TRUE(moved.held());
  std::thread waiter([] { FileViewLock b("/images/one.jpg"); });
  moved.Release();
  waiter.join();  // the waiter got the lock once it was released
  FileViewLock again;
  EXPECT_TRUE(FileViewLock::TryLock("/images/one.jpg", &again));
}

// A picture that is cut short while the server reads it (a client saving over
// it) must not end the process.
TEST(MappedFile, FileTruncatedWhileMappedReadsAsZerosAndIsMarkedDamaged) {
  TempDir dir;
  const size_t size = 256 * 1024;
  ASSERT_TRUE(dir.WriteFile("pic.jpg", std::string(size, '\x5a')));
  StatusOr<std::unique_ptr<MappedFile>> file = MappedFile::Open(dir.Path("pic.jpg"));
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE((*file)->mapped());
  EXPECT_FALSE((*file)->damaged());
  // Truncated in place, as a writer that replaces the content does.
  ASSERT_TRUE(DefaultFileSystem()->WriteFile(dir.Path("pic.jpg"), "short").ok());
  std::string_view data = (*file)->data();
  size_t nonzero_tail = 0;
  for (size_t i = 8192; i < data.size(); ++i) nonzero_tail += data[i] != 0;
  EXPECT_EQ(nonzero_tail, 0u);
  EXPECT_TRUE((*file)->damaged());

  // A later mapping of the new content is clean.
  StatusOr<std::unique_ptr<MappedFile>> again = MappedFile::Open(dir.Path("pic.jpg"));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ((*again)->data(), "short");
  EXPECT_FALSE((*again)->damaged());
}

}  // namespace
}  // namespace vantrel
