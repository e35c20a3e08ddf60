#include "support/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

bool SetModifiedTime(const std::string& path, int64_t unix_seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(unix_seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace vantrel
