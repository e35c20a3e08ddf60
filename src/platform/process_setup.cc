#include "platform/process_setup.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <vector>

#include "platform/posix_error.h"
#include "platform/process.h"

namespace vantrel {

StatusOr<std::string> CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return ErrnoStatus("cannot read the current directory", ".", errno);
    buffer.resize(buffer.size() * 4);
  }
  return Status::IoError("the current directory's path is too long");
}

namespace {

// The first bytes of a kernel setting file; empty when it cannot be read.
std::string ReadKernelSetting(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int CurrentProcessId() { return static_cast<int>(::getpid()); }

void IgnoreNuisanceSignals() {
  for (int sig : {SIGPIPE, SIGUSR1, SIGUSR2}) ::signal(sig, SIG_IGN);
}

void TuneMemoryAllocator() {
  // Values an environment's GLIBC_TUNABLES set are overridden here.
  ::mallopt(M_TOP_PAD, 64 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

std::optional<std::string> TunablesForHugePageHeap(const char* current,
                                                   std::string_view thp_mode) {
  if (thp_mode.find("[madvise]") == std::string_view::npos) return std::nullopt;
  const std::string value = current != nullptr ? current : "";
  if (value.find("glibc.malloc.hugetlb") != std::string::npos) return std::nullopt;
  const std::string wanted = "glibc.malloc.hugetlb=1";
  return value.empty() ? wanted : value + ":" + wanted;
}

void RestartWithHugePageHeap(const std::vector<std::string>& args) {
  const char* set = ::getenv("GLIBC_TUNABLES");
  const std::optional<std::string> before =
      set != nullptr ? std::optional<std::string>(set) : std::nullopt;
  const std::optional<std::string> tunables = TunablesForHugePageHeap(
      set, ReadKernelSetting("/sys/kernel/mm/transparent_hugepage/enabled"));
  if (!tunables.has_value()) return;
  StatusOr<std::string> exe = SelfExecutablePath();
  StatusOr<std::string> cwd = CurrentDirectory();
  if (!exe.ok() || !cwd.ok()) return;
  if (::setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
  (void)RelaunchSelf(*exe, *cwd, args);
  // Still here: the restart failed; the environment goes back as it was.
  if (before.has_value()) {
    ::setenv("GLIBC_TUNABLES", before->c_str(), 1);
  } else {
    ::unsetenv("GLIBC_TUNABLES");
  }
}

void SetUpMemoryAllocator(const std::vector<std::string>& args) {
  RestartWithHugePageHeap(args);
  TuneMemoryAllocator();
}

void UseEnvironmentLocale() {
  // LC_ALL "" reads the environment; keep numeric formatting in the C locale
  // so that numbers written into files never depend on the machine.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace vantrel
