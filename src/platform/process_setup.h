// Process-wide set-up that the server does once at start.
//
// Thread safety: call from main() before other threads start.
#pragma once

#include <string>

#include "platform/status.h"

namespace vantrel {

// The current directory (the server's start directory).
StatusOr<std::string> CurrentDirectory();

// Takes the locale for dates and times (and character classes) from the
// environment (LC_ALL, LC_TIME, LANG), so date and time texts follow the
// machine's settings.
void UseEnvironmentLocale();

}  // namespace vantrel
