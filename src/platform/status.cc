#include "platform/status.h"

#include <cstdio>
#include <cstdlib>

namespace vantrel {

const char* StatusCodeName(StatusCode code) {
  switch (code) {
    case StatusCode::kOk: return "OK";
    case StatusCode::kNotFound: return "not found";
    case StatusCode::kInvalidArgument: return "invalid argument";
    case StatusCode::kCorruption: return "corrupt data";
    case StatusCode::kIoError: return "I/O error";
    case StatusCode::kResourceExhausted: return "limit reached";
    case StatusCode::kUnavailable: return "unavailable";
    case StatusCode::kFailedPrecondition: return "failed precondition";
    case StatusCode::kInternal: return "internal error";
  }
  return "unknown";
}

void FatalError(std::string_view message) {
  std::fprintf(stderr, "vantrel: fatal error: %.*s\n", static_cast<int>(message.size()),
               message.data());
  std::fflush(stderr);
  std::abort();
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string s = StatusCodeName(code_);
  if (!message_.empty()) {
    s += ": ";
    s += message_;
  }
  return s;
}

}  // namespace vantrel
