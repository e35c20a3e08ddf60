// vantrel: the server, with its web console.
#include <memory>
#include <string>
#include <vector>

#include "console/web_console.h"
#include "server/server_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vantrel::RunServer(args, [] { return std::make_unique<vantrel::WebConsole>(); });
}
