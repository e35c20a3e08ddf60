// The process environment and where the running program lives: what a
// component needs to find its helper programs and their settings.
//
// Thread safety: every function may be called from any thread, as long as no
// thread changes the environment (the server never does after start-up).
#pragma once

#include <optional>
#include <string>

#include "platform/status.h"

namespace vantrel {

// The value of environment variable `name`; nothing when it is not set. An
// empty value is returned as "".
std::optional<std::string> EnvironmentValue(const std::string& name);

// The folder that holds the running executable (the part of
// SelfExecutablePath() before its last '/', "/" for a program in the root).
// kIoError when the executable's path cannot be read.
StatusOr<std::string> SelfExecutableDirectory();

}  // namespace vantrel
