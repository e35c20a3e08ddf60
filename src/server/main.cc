#include <string>
#include <vector>

#include "server/server_app.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vantrel::RunServer(args);
}
