// Reading a secret typed at the terminal (a password prompt).
//
// Thread safety: one prompt at a time per process.
#pragma once

#include <string>

#include "platform/status.h"

namespace vantrel {

// True when standard input is a terminal.
bool StandardInputIsTerminal();

// Writes `prompt` to the terminal (standard error), reads one line from
// standard input with echo switched off, switches echo back on and ends the
// line. The line end is not part of the result. kFailedPrecondition when
// standard input is not a terminal, kIoError when it cannot be read (end of
// input included).
StatusOr<std::string> ReadHiddenLine(const std::string& prompt);

}  // namespace vantrel
