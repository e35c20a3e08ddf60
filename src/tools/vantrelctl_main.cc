// vantrelctl: administration command line (see tools/ctl_commands.h).

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/share_table.h"
#include "tools/ctl_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (ec) {
    std::cerr << "error: cannot read the current directory: " << ec.message() << "\n";
    return vantrel::kCtlFailed;
  }
  vantrel::SambaVolumeNamer namer(vantrel::DefaultFileSystem());
  vantrel::CtlEnv env;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.fs = vantrel::DefaultFileSystem();
  env.namer = &namer;
  env.current_dir = cwd.string();
  return vantrel::RunVantrelctl(args, env);
}
