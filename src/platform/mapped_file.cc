#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

#include "platform/mutex.h"
#include "platform/posix_error.h"
#include "platform/served_folders.h"
#include "platform/unique_fd.h"

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

using Fd = UniqueFd;

// Guard against files that shrink while they are mapped. Touching a mapped
// page beyond the new end of the file raises SIGBUS, which would end the
// process. Every mapping is registered here; the SIGBUS handler puts a page
// of zeros in place of a lost page of a registered mapping and marks that
// mapping damaged, so the reader sees zeros instead of crashing and the
// caller can tell that the file changed under it. A SIGBUS anywhere else
// goes on to the handler that was there before (or ends the process).
constexpr int kGuardSlots = 256;

struct MappingGuard {
  std::atomic<uintptr_t> begin[kGuardSlots];
  std::atomic<uintptr_t> end[kGuardSlots];
  std::atomic<bool> damaged[kGuardSlots];
};

MappingGuard g_guard;  // zero-initialised: every slot free
struct sigaction g_previous_sigbus;

void OnSigbus(int sig, siginfo_t* info, void* context) {
  const uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
  for (int i = 0; i < kGuardSlots; ++i) {
    uintptr_t b = g_guard.begin[i].load(std::memory_order_acquire);
    if (b <= 1 || addr < b || addr >= g_guard.end[i].load(std::memory_order_acquire)) continue;
    const uintptr_t page = addr & ~(static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
    void* p = ::mmap(reinterpret_cast<void*>(page), static_cast<size_t>(::sysconf(_SC_PAGESIZE)),
                     PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (p != MAP_FAILED) {
      g_guard.damaged[i].store(true, std::memory_order_release);
      return;  // the faulting read is retried and now sees zeros
    }
    break;
  }
  // Not ours: what would have happened without the guard.
  if (g_previous_sigbus.sa_flags & SA_SIGINFO) {
    if (g_previous_sigbus.sa_sigaction != nullptr) {
      g_previous_sigbus.sa_sigaction(sig, info, context);
      return;
    }
  } else if (g_previous_sigbus.sa_handler != SIG_DFL && g_previous_sigbus.sa_handler != SIG_IGN) {
    g_previous_sigbus.sa_handler(sig);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);
  ::raise(SIGBUS);
}

void InstallSigbusGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnSigbus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous_sigbus);
  });
}

// A free slot for [data, data + size), or -1 when all are in use. A slot is
// first reserved (begin = 1, which no address matches), then filled.
int RegisterMapping(const char* data, size_t size) {
  const uintptr_t b = reinterpret_cast<uintptr_t>(data);
  for (int i = 0; i < kGuardSlots; ++i) {
    uintptr_t expected = 0;
    if (!g_guard.begin[i].compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      continue;
    }
    g_guard.end[i].store(b + size, std::memory_order_release);
    g_guard.damaged[i].store(false, std::memory_order_release);
    g_guard.begin[i].store(b, std::memory_order_release);
    return i;
  }
  return -1;
}

}  // namespace

bool MappedFile::damaged() const {
  return guard_slot_ >= 0 && g_guard.damaged[guard_slot_].load(std::memory_order_acquire);
}

StatusOr<std::unique_ptr<MappedFile>> MappedFile::Open(const std::string& path, Mode mode) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return Status::InvalidArgument("unusable path");
  }
  // Image folders are written by clients: a symbolic link is not read
  // through, it counts as no file; a pipe or device put in place of a
  // picture is refused, and O_NONBLOCK keeps a pipe without a writer from
  // holding the open (it does nothing to a regular file's reads).
  int raw = OpenServedPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (raw < 0) return OpenFailureStatus("open", path, errno);
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrnoStatus("stat", path, errno);
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    return Status::InvalidArgument("not a regular file: " + path);
  }
  return FromStat(fd.get(), st, path, mode);
}

StatusOr<std::unique_ptr<MappedFile>> MappedFile::OpenDescriptor(int fd, const std::string& path,
                                                                 Mode mode) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrnoStatus("stat", path, errno);
  return FromStat(fd, st, path, mode);
}

StatusOr<std::unique_ptr<MappedFile>> MappedFile::FromStat(int fd, const struct stat& st,
                                                           const std::string& path, Mode mode) {
  if (S_ISDIR(st.st_mode)) return Status::InvalidArgument("folder, not a file: " + path);
  std::unique_ptr<MappedFile> file(new MappedFile());
  size_t size = static_cast<size_t>(st.st_size);
  if (mode == Mode::kMapOrRead && S_ISREG(st.st_mode) && size > kReadRatherThanMap) {
    InstallSigbusGuard();
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p != MAP_FAILED) {
      int slot = RegisterMapping(static_cast<const char*>(p), size);
      if (slot >= 0) {
        file->data_ = static_cast<const char*>(p);
        file->size_ = size;
        file->mapped_ = true;
        file->guard_slot_ = slot;
        return file;
      }
      // Every guard slot is in use: read this file instead of mapping it.
      ::munmap(p, size);
    }
  }
  // Read into memory: the size may differ from what fstat said.
  std::string& copy = file->copy_;
  copy.resize(size > 0 ? size : 65536);
  size_t have = 0;
  for (;;) {
    if (have == copy.size()) copy.resize(copy.size() * 2);
    ssize_t n = S_ISREG(st.st_mode)
                    ? ::pread(fd, copy.data() + have, copy.size() - have, static_cast<off_t>(have))
                    : ::read(fd, copy.data() + have, copy.size() - have);
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
  if (!mapped_) return;
  // Unmap before freeing the slot, so a new mapping at the same addresses
  // never shares a slot with this one.
  ::munmap(const_cast<char*>(data_), size_);
  g_guard.begin[guard_slot_].store(0, std::memory_order_release);
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
