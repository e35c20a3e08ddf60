#include "platform/process_setup.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <vector>

#include "platform/posix_error.h"

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

void UseEnvironmentLocale() {
  // LC_ALL "" reads the environment; keep numeric formatting in the C locale
  // so that numbers written into files never depend on the machine.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace vantrel
