#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/mapped_file.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using ::testing::Test;

class PosixFileSystemTest : public Test {
 protected:
  FileSystem* fs_ = DefaultFileSystem();
  TempDir dir_;

  std::vector<std::string> Names(const std::string& folder) {
    auto list = fs_->ListFolder(folder);
    EXPECT_TRUE(list.ok()) << list.status().ToString();
    std::vector<std::string> names;
    if (list.ok()) {
      for (const auto& e : *list) names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  int ModeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
  }
};

TEST_F(PosixFileSystemTest, ReadsWhatWasWritten) {
  const std::string path = dir_.Path("a.bin");
  std::string data("x\0y\r\n", 5);
  data += std::string(3 << 20, 'z');  // more than one read chunk
  ASSERT_TRUE(fs_->WriteFile(path, data).ok());
  auto read = fs_->ReadFile(path);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(*read, data);

  auto limited = fs_->ReadFile(path, data.size() - 1);
  EXPECT_EQ(limited.status().code(), StatusCode::kResourceExhausted);
  EXPECT_TRUE(fs_->ReadFile(path, data.size()).ok());

  auto range = fs_->ReadFileRange(path, 1, 3);
  ASSERT_TRUE(range.ok());
  EXPECT_EQ(*range, std::string("\0y\r", 3));
  // Past the end: short or empty results, never an error or a huge buffer.
  EXPECT_EQ(fs_->ReadFileRange(path, data.size() - 2, 100)->size(), 2u);
  EXPECT_EQ(fs_->ReadFileRange(path, data.size() + 5, 100)->size(), 0u);
  EXPECT_EQ(fs_->ReadFileRange(path, UINT64_MAX, SIZE_MAX)->size(), 0u);
}

TEST_F(PosixFileSystemTest, MissingAndUnusablePaths) {
  EXPECT_TRUE(fs_->ReadFile(dir_.Path("none")).status().IsNotFound());
  EXPECT_TRUE(fs_->ReadFileRange(dir_.Path("none"), 0, 1).status().IsNotFound());
  EXPECT_TRUE(fs_->Stat(dir_.Path("none")).status().IsNotFound());
  EXPECT_TRUE(fs_->DeleteFile(dir_.Path("none")).IsNotFound());
  EXPECT_FALSE(fs_->Exists(dir_.Path("none")));
  ASSERT_TRUE(dir_.WriteFile("file", "1"));
  // Below a file.
  EXPECT_TRUE(fs_->Stat(dir_.Path("file/x")).status().IsNotFound());
  // A NUL byte would cut the path short in the C library: refused.
  std::string with_nul = dir_.Path("file");
  with_nul += std::string("\0ignored", 8);
  EXPECT_EQ(fs_->ReadFile(with_nul).status().code(), StatusCode::kInvalidArgument);
  EXPECT_FALSE(fs_->Exists(with_nul));
  EXPECT_EQ(fs_->WriteFile(with_nul, "x").code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(fs_->ReadFile("").status().code(), StatusCode::kInvalidArgument);
  // A folder is not a file; neither is a pipe (reading it would block).
  EXPECT_FALSE(fs_->ReadFile(dir_.path()).ok());
  ASSERT_EQ(::mkfifo(dir_.Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(fs_->ReadFile(dir_.Path("pipe")).status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(fs_->ReadFileRange(dir_.Path("pipe"), 0, 10).status().code(),
            StatusCode::kInvalidArgument);
  EXPECT_FALSE(fs_->CopyFile(dir_.Path("pipe"), dir_.Path("copy")).ok());
  EXPECT_FALSE(fs_->Exists(dir_.Path("copy")));
}

TEST_F(PosixFileSystemTest, WritableFileAppendsAndPatchesHeader) {
  const std::string path = dir_.Path("list");
  auto file = fs_->OpenForWrite(path, 0600);
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE((*file)->Append("0000").ok());
  ASSERT_TRUE((*file)->Append("body").ok());
  ASSERT_TRUE((*file)->WriteAt(0, "HEAD").ok());
  ASSERT_TRUE((*file)->Append("!").ok());  // appends after the body, not the header
  ASSERT_TRUE((*file)->Sync().ok());
  ASSERT_TRUE((*file)->Close().ok());
  EXPECT_FALSE((*file)->Append("late").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "HEADbody!");
}

TEST_F(PosixFileSystemTest, AtomicWriteSetsExactModeWhateverTheUmaskButNeverWidens) {
  struct Case {
    mode_t umask;
    int mode;
  };
  const std::string path = dir_.Path("config");
  for (const Case& c : {Case{022, 0600}, Case{077, 0644}, Case{0, 0600}, Case{027, 0640}}) {
    ::unlink(path.c_str());
    mode_t old = ::umask(c.umask);
    Status s = fs_->WriteFileAtomic(path, "secret", c.mode);
    ::umask(old);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(ModeOf(path), c.mode) << std::oct << c.umask << " " << c.mode;
    EXPECT_EQ(*fs_->ReadFile(path), "secret");
  }
  // Only the target is left: no temporary files.
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"config"});
  // A rewrite keeps the narrower mode of the file it replaces.
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(fs_->WriteFileAtomic(path, "again", 0664).ok());
  EXPECT_EQ(ModeOf(path), 0600);
  // A shorter or empty content replaces a longer one whole.
  ASSERT_TRUE(fs_->WriteFileAtomic(path, std::string(10000, 'a')).ok());
  ASSERT_TRUE(fs_->WriteFileAtomic(path, "").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"config"});
}

TEST_F(PosixFileSystemTest, FailedAtomicWriteLeavesOldFileAndNoLeftovers) {
  const std::string path = dir_.Path("TIMELIST");
  ASSERT_TRUE(fs_->WriteFileAtomic(path, "old content").ok());

  // The kernel refuses writes beyond RLIMIT_FSIZE with EFBIG part-way through
  // the new file, which is a real mid-write failure.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Status s = fs_->WriteFileAtomic(path, std::string(100000, 'n'));
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old_limit), 0);
  ::sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_FALSE(s.ok());
  EXPECT_EQ(*fs_->ReadFile(path), "old content");
  EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"TIMELIST"});

  // A target that is a folder: refused, folder untouched, nothing left over.
  ASSERT_TRUE(dir_.MakeFolder("sub"));
  ASSERT_TRUE(dir_.WriteFile("sub/keep", "k"));
  EXPECT_FALSE(fs_->WriteFileAtomic(dir_.Path("sub"), "x").ok());
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"TIMELIST", "sub"}));
  // A missing folder: nothing is created.
  EXPECT_TRUE(fs_->WriteFileAtomic(dir_.Path("missing/x"), "x").IsNotFound());
  EXPECT_FALSE(fs_->Exists(dir_.Path("missing")));
}

TEST_F(PosixFileSystemTest, StatAndListingReportWinFileTimes) {
  ASSERT_TRUE(dir_.WriteFile("img.jpg", "12345"));
  ASSERT_TRUE(dir_.MakeFolder("Sport"));
  // 1999-03-02 12:00:00.5 UTC.
  struct timespec times[2] = {{920376000, 500000000}, {920376000, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir_.Path("img.jpg").c_str(), times, 0), 0);
  auto info = fs_->Stat(dir_.Path("img.jpg"));
  ASSERT_TRUE(info.ok());
  EXPECT_FALSE(info->is_folder);
  EXPECT_EQ(info->size, 5u);
  EXPECT_EQ(info->modified, 125'648'496'005'000'000ULL);
  EXPECT_EQ(FileTimeStampFromWinFileTime(info->modified), 920'372'406u);
  EXPECT_TRUE(fs_->Stat(dir_.Path("Sport"))->is_folder);
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("Sport")));
  EXPECT_FALSE(fs_->IsFolder(dir_.Path("img.jpg")));
}

// Links are listed as links (never as the folder or file they point to),
// dot names as hidden.
TEST_F(PosixFileSystemTest, ListingMarksDotNamesHiddenAndLinksAsLinks) {
  ASSERT_TRUE(dir_.WriteFile("img.jpg", "123"));
  ASSERT_TRUE(dir_.WriteFile("._img.jpg", "appledouble"));
  ASSERT_TRUE(dir_.WriteFile(".DS_Store", ""));
  ASSERT_TRUE(dir_.MakeFolder(".hidden_folder"));
  ASSERT_TRUE(dir_.MakeFolder("Sport"));
  ASSERT_EQ(::symlink("/nonexistent/target", dir_.Path("dangling").c_str()), 0);
  ASSERT_EQ(::symlink(".", dir_.Path("self").c_str()), 0);
  ASSERT_EQ(::symlink("img.jpg", dir_.Path("alias.jpg").c_str()), 0);
  auto list = fs_->ListFolder(dir_.path());
  ASSERT_TRUE(list.ok());
  ASSERT_EQ(list->size(), 8u);
  for (const FolderEntry& e : *list) {
    EXPECT_EQ(e.hidden, e.name[0] == '.') << e.name;
    EXPECT_EQ(e.is_folder, e.name == "Sport" || e.name == ".hidden_folder") << e.name;
    EXPECT_EQ(e.is_link, e.name == "dangling" || e.name == "self" || e.name == "alias.jpg")
        << e.name;
    if (e.name == "img.jpg") {
      EXPECT_EQ(e.size, 3u);
    }
    EXPECT_GT(e.modified, 0u) << e.name;
  }
  EXPECT_TRUE(fs_->ListFolder(dir_.Path("none")).status().IsNotFound());
  EXPECT_FALSE(fs_->ListFolder(dir_.Path("img.jpg")).ok());
}

TEST_F(PosixFileSystemTest, ValidFolderTest) {
  ASSERT_TRUE(dir_.WriteFile("file", "x"));
  ASSERT_TRUE(dir_.MakeFolder("ok"));
  struct Case {
    std::string path;
    bool valid;
  };
  const Case cases[] = {
      {dir_.path(), true},
      {dir_.Path("ok"), true},
      {dir_.Path("ok/"), true},
      {"/", true},
      {dir_.Path("file"), false},
      {dir_.Path("missing"), false},
      {"relative/folder", false},
      {".", false},
      {"", false},
      {"C:\\Images", false},
      {dir_.path() + std::string("\0/x", 3), false},
  };
  char cwd_before[4096];
  ASSERT_NE(::getcwd(cwd_before, sizeof(cwd_before)), nullptr);
  for (const Case& c : cases) EXPECT_EQ(fs_->IsValidFolder(c.path), c.valid) << c.path;
  char cwd_after[4096];
  ASSERT_NE(::getcwd(cwd_after, sizeof(cwd_after)), nullptr);
  EXPECT_STREQ(cwd_before, cwd_after);
}

TEST_F(PosixFileSystemTest, EmptyFolderKeepsFolderAndSubfoldersUnlessRecursive) {
  ASSERT_TRUE(dir_.WriteFile("search/a.REQ", "1"));
  ASSERT_TRUE(dir_.WriteFile("search/.hidden", "1"));
  ASSERT_TRUE(dir_.WriteFile("search/sub/deep/b.HIT", "1"));
  ASSERT_TRUE(dir_.WriteFile("outside/precious", "1"));
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("search/link").c_str()), 0);

  ASSERT_TRUE(fs_->EmptyFolder(dir_.Path("search"), false).ok());
  EXPECT_EQ(Names(dir_.Path("search")), std::vector<std::string>{"sub"});
  EXPECT_TRUE(fs_->Exists(dir_.Path("search/sub/deep/b.HIT")));

  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("search/sub/link").c_str()), 0);
  ASSERT_TRUE(fs_->EmptyFolder(dir_.Path("search"), true).ok());
  EXPECT_TRUE(Names(dir_.Path("search")).empty());
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("search")));
  // Links are removed, never followed.
  EXPECT_TRUE(fs_->Exists(dir_.Path("outside/precious")));
}

TEST_F(PosixFileSystemTest, EmptyFolderRefusesInvalidFolders) {
  ASSERT_TRUE(dir_.WriteFile("file", "keep"));
  ASSERT_TRUE(dir_.WriteFile("data/x", "keep"));
  EXPECT_EQ(fs_->EmptyFolder(dir_.Path("file"), true).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(fs_->EmptyFolder(dir_.Path("missing"), true).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(fs_->EmptyFolder("", true).code(), StatusCode::kInvalidArgument);
  // A relative path is refused even when it would name an existing folder.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  Status relative = fs_->EmptyFolder("data", true);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(relative.code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("data/x")), "keep");
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("file")), "keep");
}

// A client may put a link where the server's own folder was: the folder's
// emptying never reaches through it, and the link alone can be removed.
TEST_F(PosixFileSystemTest, AFolderThatIsALinkIsNeitherEmptiedThroughNorFollowedWhenRemoved) {
  ASSERT_TRUE(dir_.WriteFile("elsewhere/sub/precious", "keep"));
  ASSERT_EQ(::symlink(dir_.Path("elsewhere").c_str(), dir_.Path("search").c_str()), 0);
  EXPECT_FALSE(fs_->EmptyFolder(dir_.Path("search"), true).ok());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("elsewhere/sub/precious")), "keep");

  EXPECT_FALSE(*fs_->RemoveLink(dir_.Path("elsewhere")));  // a folder stays
  EXPECT_TRUE(*fs_->RemoveLink(dir_.Path("search")));
  EXPECT_FALSE(fs_->Exists(dir_.Path("search")));
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("elsewhere/sub/precious")), "keep");
  EXPECT_FALSE(*fs_->RemoveLink(dir_.Path("search")));  // nothing there any more
}

TEST_F(PosixFileSystemTest, CreateFoldersMakesEveryLevel) {
  const std::string deep = dir_.Path("VT_DATA/VT_BACKUP/CURRENT/Tmp");
  ASSERT_TRUE(fs_->CreateFolders(deep).ok());
  EXPECT_TRUE(fs_->IsFolder(deep));
  EXPECT_TRUE(fs_->CreateFolders(deep).ok());        // exists: fine
  EXPECT_TRUE(fs_->CreateFolders(deep + "/").ok());  // trailing separator
  EXPECT_TRUE(fs_->CreateFolders(dir_.Path("a//b")).ok());
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("a/b")));
  ASSERT_TRUE(dir_.WriteFile("blocker", "x"));
  EXPECT_FALSE(fs_->CreateFolders(dir_.Path("blocker/sub")).ok());
  EXPECT_FALSE(fs_->CreateFolders(dir_.Path("blocker")).ok());

  EXPECT_TRUE(fs_->DeleteFolder(deep).ok());
  EXPECT_FALSE(fs_->Exists(deep));
  EXPECT_FALSE(fs_->DeleteFolder(dir_.Path("VT_DATA")).ok());  // not empty
}

TEST_F(PosixFileSystemTest, CopyAndRenameReplaceTargets) {
  ASSERT_TRUE(dir_.WriteFile("src", "new data"));
  ASSERT_TRUE(dir_.WriteFile("dst", "old data that is longer"));
  ASSERT_EQ(::chmod(dir_.Path("src").c_str(), 0640), 0);
  struct timespec times[2] = {{920376000, 0}, {920376000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir_.Path("src").c_str(), times, 0), 0);

  ASSERT_TRUE(fs_->CopyFile(dir_.Path("src"), dir_.Path("dst")).ok());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("dst")), "new data");
  EXPECT_EQ(ModeOf(dir_.Path("dst")), 0640);
  EXPECT_EQ(fs_->Stat(dir_.Path("dst"))->modified, fs_->Stat(dir_.Path("src"))->modified);
  EXPECT_TRUE(fs_->CopyFile(dir_.Path("none"), dir_.Path("dst")).IsNotFound());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("dst")), "new data");

  ASSERT_TRUE(dir_.WriteFile("other", "other"));
  ASSERT_TRUE(fs_->Rename(dir_.Path("other"), dir_.Path("dst")).ok());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("dst")), "other");
  EXPECT_FALSE(fs_->Exists(dir_.Path("other")));
  EXPECT_TRUE(fs_->Rename(dir_.Path("other"), dir_.Path("dst")).IsNotFound());
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"dst", "src"}));
}

// Clients write into the served folders and the server runs as root: a
// symbolic link, a hard link or a pipe planted under a name the server
// writes is replaced by a new regular file; what it points to stays as it was.
TEST_F(PosixFileSystemTest, WritersReplacePlantedLinksInsteadOfWritingThroughThem) {
  ASSERT_TRUE(dir_.WriteFile("outside/precious", "root only"));
  const std::string precious = dir_.Path("outside/precious");
  ASSERT_EQ(::chmod(precious.c_str(), 0600), 0);
  using Writer = std::function<Status(const std::string&)>;
  auto write_through_file = [this](bool in_place) {
    return [this, in_place](const std::string& path) -> Status {
      auto file = in_place ? fs_->OpenForOverwrite(path, 0664) : fs_->OpenForWrite(path, 0664);
      if (!file.ok()) return file.status();
      Status s = (*file)->WriteAt(0, "answer");
      return s.ok() ? (*file)->Close() : s;
    };
  };
  struct Case {
    const char* name;
    Writer write;
    std::string expected;
  };
  const Case cases[] = {
      {"OpenForWrite", write_through_file(false), "answer"},
      {"OpenForOverwrite", write_through_file(true), "answer"},
      {"WriteFile", [this](const std::string& p) { return fs_->WriteFile(p, "answer"); },
       "answer"},
      {"AppendToFile", [this](const std::string& p) { return fs_->AppendToFile(p, "answer"); },
       "answer"},
      {"WriteFileAtomic",
       [this](const std::string& p) { return fs_->WriteFileAtomic(p, "answer", 0644); }, "answer"},
      {"CopyFile",
       [this](const std::string& p) {
         EXPECT_TRUE(dir_.WriteFile("source", "answer"));
         return fs_->CopyFile(dir_.Path("source"), p);
       },
       "answer"},
  };
  enum class Plant { kSymbolicLink, kDanglingLink, kHardLink, kPipe };
  for (const Case& c : cases) {
    for (Plant plant : {Plant::kSymbolicLink, Plant::kDanglingLink, Plant::kHardLink, Plant::kPipe}) {
      SCOPED_TRACE(std::string(c.name) + " over plant " + std::to_string(static_cast<int>(plant)));
      ASSERT_TRUE(dir_.MakeFolder("search"));
      const std::string name = dir_.Path("search/A.HIT");
      const std::string missing = dir_.Path("outside/created");
      switch (plant) {
        case Plant::kSymbolicLink:
          ASSERT_EQ(::symlink(precious.c_str(), name.c_str()), 0);
          break;
        case Plant::kDanglingLink:
          ASSERT_EQ(::symlink(missing.c_str(), name.c_str()), 0);
          break;
        case Plant::kHardLink:
          ASSERT_EQ(::link(precious.c_str(), name.c_str()), 0);
          break;
        case Plant::kPipe:
          ASSERT_EQ(::mkfifo(name.c_str(), 0666), 0);
          break;
      }
      Status s = c.write(name);
      ASSERT_TRUE(s.ok()) << s.ToString();
      struct stat st;
      ASSERT_EQ(::lstat(name.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_nlink, 1u);
      EXPECT_EQ(*fs_->ReadFile(name), c.expected);
      EXPECT_EQ(*fs_->ReadFile(precious), "root only");
      EXPECT_EQ(ModeOf(precious), 0600);
      EXPECT_FALSE(fs_->Exists(missing));
      ASSERT_TRUE(fs_->EmptyFolder(dir_.Path("search"), true).ok());
    }
  }
  // A folder under the name is refused, not removed.
  ASSERT_TRUE(dir_.MakeFolder("search/B.HIT"));
  EXPECT_FALSE(fs_->OpenForOverwrite(dir_.Path("search/B.HIT")).ok());
  EXPECT_FALSE(fs_->WriteFile(dir_.Path("search/B.HIT"), "x").ok());
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("search/B.HIT")));
}

// Writing in place keeps an ordinary file's tail and mode: only a plant is
// replaced. New files get exactly the mode asked for, whatever the umask.
TEST_F(PosixFileSystemTest, InPlaceWritesKeepTailAndModeNewFilesGetExactMode) {
  const std::string path = dir_.Path("A.HIT");
  ASSERT_TRUE(dir_.WriteFile("A.HIT", "old and longer"));
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  auto file = fs_->OpenForOverwrite(path, 0664);
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE((*file)->WriteAt(0, "NEW").ok());
  ASSERT_TRUE((*file)->Close().ok());
  EXPECT_EQ(*fs_->ReadFile(path), "NEW and longer");
  EXPECT_EQ(ModeOf(path), 0600);
  ASSERT_TRUE(fs_->WriteFile(path, "x").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "x");
  EXPECT_EQ(ModeOf(path), 0600);

  mode_t old = ::umask(022);
  auto created = fs_->OpenForWrite(dir_.Path("A.PRG"), 0664);
  auto overwritten = fs_->OpenForOverwrite(dir_.Path("B.HIT"), 0664);
  Status appended = fs_->AppendToFile(dir_.Path("log"), "line\n");
  ::umask(old);
  ASSERT_TRUE(created.ok() && overwritten.ok() && appended.ok());
  EXPECT_EQ(ModeOf(dir_.Path("A.PRG")), 0664);
  EXPECT_EQ(ModeOf(dir_.Path("B.HIT")), 0664);
  EXPECT_EQ(ModeOf(dir_.Path("log")), 0644);
  ASSERT_TRUE(fs_->AppendToFile(dir_.Path("log"), "more\n").ok());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("log")), "line\nmore\n");
}

// Files larger than one step of the copy come over whole, byte for byte;
// SyncFile takes regular files only.
TEST_F(PosixFileSystemTest, LargeCopiesAreWholeAndSyncFileTakesRegularFiles) {
  std::string big(5u << 19, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 5);
  ASSERT_TRUE(dir_.WriteFile("big", big));
  ASSERT_TRUE(fs_->CopyFile(dir_.Path("big"), dir_.Path("big.copy")).ok());
  EXPECT_TRUE(*fs_->ReadFile(dir_.Path("big.copy")) == big);
  // From another file system, and from a file whose size says 0 although
  // it has contents: read, not copied inside the kernel.
  ASSERT_TRUE(fs_->CopyFile("/proc/self/status", dir_.Path("status")).ok());
  EXPECT_NE(fs_->ReadFile(dir_.Path("status"))->find("Name:"), std::string::npos);
  ASSERT_TRUE(dir_.WriteFile("empty", ""));
  ASSERT_TRUE(fs_->CopyFile(dir_.Path("empty"), dir_.Path("empty.copy")).ok());
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("empty.copy")), "");
  EXPECT_TRUE(fs_->SyncFile(dir_.Path("big.copy")).ok());
  EXPECT_EQ(fs_->SyncFile(dir_.Path("none")).code(), StatusCode::kNotFound);
  EXPECT_EQ(fs_->SyncFile(dir_.path()).code(), StatusCode::kInvalidArgument);
}

// A link in a served folder is never read through: it reads as no file.
TEST_F(PosixFileSystemTest, ReadersDoNotFollowLinks) {
  ASSERT_TRUE(dir_.WriteFile("outside/precious", "root only"));
  ASSERT_EQ(::symlink(dir_.Path("outside/precious").c_str(), dir_.Path("LINK.HIT").c_str()), 0);
  const std::string link = dir_.Path("LINK.HIT");
  EXPECT_TRUE(fs_->ReadFile(link).status().IsNotFound());
  EXPECT_TRUE(fs_->ReadFileRange(link, 0, 100).status().IsNotFound());
  EXPECT_TRUE(fs_->CopyFile(link, dir_.Path("copy")).IsNotFound());
  EXPECT_TRUE(fs_->SyncFile(link).IsNotFound());
  EXPECT_FALSE(fs_->Exists(dir_.Path("copy")));
  EXPECT_TRUE(MappedFile::Open(link).status().IsNotFound());
  // Links above the last component (the served folder's own path) still work.
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("via").c_str()), 0);
  EXPECT_EQ(*fs_->ReadFile(dir_.Path("via/precious")), "root only");
  EXPECT_TRUE(MappedFile::Open(dir_.Path("via/precious")).ok());
}

TEST_F(PosixFileSystemTest, SharedFolderIsGroupWritableWithTheGroupOfTheFolderAbove) {
  ASSERT_TRUE(dir_.MakeFolder("index"));
  const gid_t group = ::geteuid() == 0 ? 4242 : ::getegid();
  ASSERT_EQ(::chown(dir_.Path("index").c_str(), static_cast<uid_t>(-1), group), 0);
  mode_t old = ::umask(022);
  Status s = fs_->CreateSharedFolder(dir_.Path("index/VT_SEARCH"));
  ::umask(old);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(ModeOf(dir_.Path("index/VT_SEARCH")), 02775);
  struct stat st;
  ASSERT_EQ(::stat(dir_.Path("index/VT_SEARCH").c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, group);
  // Missing folders above are made; an existing folder keeps its mode.
  ASSERT_TRUE(fs_->CreateSharedFolder(dir_.Path("new/deep/VT_SEARCH")).ok());
  EXPECT_EQ(ModeOf(dir_.Path("new/deep/VT_SEARCH")), 02775);
  ASSERT_EQ(::chmod(dir_.Path("index/VT_SEARCH").c_str(), 0750), 0);
  ASSERT_TRUE(fs_->CreateSharedFolder(dir_.Path("index/VT_SEARCH")).ok());
  EXPECT_EQ(ModeOf(dir_.Path("index/VT_SEARCH")), 0750);
  ASSERT_TRUE(dir_.WriteFile("file", "x"));
  EXPECT_FALSE(fs_->CreateSharedFolder(dir_.Path("file")).ok());
}

}  // namespace
}  // namespace vantrel
