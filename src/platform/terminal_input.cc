#include "platform/terminal_input.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace vantrel {

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

StatusOr<std::string> ReadHiddenLine(const std::string& prompt) {
  if (!StandardInputIsTerminal()) {
    return Status::FailedPrecondition("standard input is not a terminal");
  }
  termios before{};
  if (tcgetattr(STDIN_FILENO, &before) != 0) {
    return Status::IoError(std::string("cannot read the terminal settings: ") +
                           std::strerror(errno));
  }
  termios hidden = before;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;
  std::cerr << prompt << std::flush;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden) != 0) {
    return Status::IoError(std::string("cannot switch the terminal's echo off: ") +
                           std::strerror(errno));
  }
  std::string line;
  bool read = static_cast<bool>(std::getline(std::cin, line));
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
  if (!read) return Status::IoError("no password was typed (end of input)");
  return line;
}

}  // namespace vantrel
