#include "support/external_tools.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace vantrel::tool_test {

bool Installed(const char* tool) { return access(tool, X_OK) == 0; }

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool RunExiftool(const std::string& file, const std::vector<std::string>& args) {
  std::string argfile = "-q\n-overwrite_original\n";
  for (const std::string& a : args) argfile += a + "\n";
  argfile += file + "\n";
  FILE* p = popen((std::string(kExiftool) + " -@ - >/dev/null 2>&1").c_str(), "w");
  if (p == nullptr) return false;
  const bool written = fwrite(argfile.data(), 1, argfile.size(), p) == argfile.size();
  const int status = pclose(p);
  return written && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vantrel::tool_test
