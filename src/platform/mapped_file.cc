#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "platform/mutex.h"
#include "platform/posix_error.h"

namespace vantrel {
namespace {

// Paths with a view in use, guarded by one mutex; waiters sleep on one
// condition variable (views are short-lived, contention is rare).
struct ViewTable {
  Mutex mu;
  CondVar released;
  std::set<std::string> held GUARDED_BY(mu);
};

ViewTable& Views() {
  static ViewTable* table = new ViewTable();
  return *table;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

StatusOr<std::unique_ptr<MappedFile>> MappedFile::Open(const std::string& path, Mode mode) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return Status::InvalidArgument("unusable path");
  }
  int raw;
  do {
    raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (raw < 0 && errno == EINTR);
  if (raw < 0) return ErrnoStatus("open", path, errno);
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrnoStatus("stat", path, errno);
  if (S_ISDIR(st.st_mode)) return Status::InvalidArgument("folder, not a file: " + path);
  std::unique_ptr<MappedFile> file(new MappedFile());
  size_t size = static_cast<size_t>(st.st_size);
  if (mode == Mode::kMapOrRead && S_ISREG(st.st_mode) && size > 0) {
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (p != MAP_FAILED) {
      file->data_ = static_cast<const char*>(p);
      file->size_ = size;
      file->mapped_ = true;
      return file;
    }
  }
  // Read into memory: the size may differ from what fstat said.
  std::string& copy = file->copy_;
  copy.resize(size > 0 ? size : 65536);
  size_t have = 0;
  for (;;) {
    if (have == copy.size()) copy.resize(copy.size() * 2);
    ssize_t n = ::read(fd.get(), copy.data() + have, copy.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoStatus("read", path, errno);
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  copy.resize(have);
  file->data_ = copy.data();
  file->size_ = copy.size();
  return file;
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

FileViewLock::FileViewLock(const std::string& path) {
  ViewTable& t = Views();
  MutexLock lock(&t.mu);
  while (t.held.count(path) != 0) t.released.Wait(&t.mu);
  t.held.insert(path);
  path_ = path;
}

bool FileViewLock::TryLock(const std::string& path, FileViewLock* out) {
  out->Release();
  ViewTable& t = Views();
  MutexLock lock(&t.mu);
  if (t.held.count(path) != 0) return false;
  t.held.insert(path);
  out->path_ = path;
  return true;
}

FileViewLock::FileViewLock(FileViewLock&& other) noexcept : path_(std::move(other.path_)) {
  other.path_.clear();
}

FileViewLock& FileViewLock::operator=(FileViewLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

void FileViewLock::Release() {
  if (path_.empty()) return;
  ViewTable& t = Views();
  {
    MutexLock lock(&t.mu);
    t.held.erase(path_);
  }
  t.released.SignalAll();
  path_.clear();
}

}  // namespace vantrel
