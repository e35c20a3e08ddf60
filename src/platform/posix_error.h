// Turning an errno value into a Status, once, with the path in the message.
//
// Thread safety: pure function (uses the thread-safe strerror_r).
#pragma once

#include <string>

#include "platform/status.h"

namespace vantrel {

// A failed Status for `err` (an errno value). The code says what the caller
// can do next: missing paths (also below a file) give kNotFound, a full disk or quota
// kResourceExhausted, busy or locked files kUnavailable, unusable arguments
// (name too long, a folder where a file was needed) kInvalidArgument, the
// rest kIoError. The message reads "<what> <path>: <system text>", or
// "<what>: <system text>" when `path` is empty. `err` == 0 gives kIoError.
Status ErrnoStatus(const std::string& what, const std::string& path, int err);

}  // namespace vantrel
