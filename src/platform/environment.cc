// Environment values and the executable's folder on Linux (see environment.h).
#include "platform/environment.h"

#include <cstdlib>

#include "platform/process.h"

namespace vantrel {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

StatusOr<std::string> SelfExecutableDirectory() {
  StatusOr<std::string> exe = SelfExecutablePath();
  if (!exe.ok()) return exe.status();
  const std::string& path = *exe;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return Status::IoError("executable path is not absolute: " + path);
  if (slash == 0) return std::string("/");
  return path.substr(0, slash);
}

}  // namespace vantrel
