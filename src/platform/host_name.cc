#include "platform/host_name.h"

#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace vantrel {

std::string HostName() {
#ifdef HOST_NAME_MAX
  char name[HOST_NAME_MAX + 1];
#else
  char name[256];
#endif
  std::memset(name, 0, sizeof(name));
  if (::gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return std::string(name, ::strnlen(name, sizeof(name)));
}

}  // namespace vantrel
