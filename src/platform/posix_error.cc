#include "platform/posix_error.h"

#include <cerrno>
#include <cstring>

namespace vantrel {
namespace {

// strerror_r has two signatures (XSI returns int, GNU returns char*); these
// overloads accept either.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorText(const char* result, const char* /*buffer*/) {
  return result;
}

StatusCode CodeFor(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:  // a component of the path is a file: the path is not there
      return StatusCode::kNotFound;
    case ENOSPC:
    case EDQUOT:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EFBIG:
      return StatusCode::kResourceExhausted;
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
    case EINTR:
      return StatusCode::kUnavailable;
    case EINVAL:
    case ENAMETOOLONG:
    case EISDIR:
    case ELOOP:
    case EEXIST:
    case ENOTEMPTY:
      return StatusCode::kInvalidArgument;
    default:
      return StatusCode::kIoError;
  }
}

}  // namespace

Status ErrnoStatus(const std::string& what, const std::string& path, int err) {
  char buffer[256] = {0};
  const char* text = err == 0 ? "unknown error" : ErrorText(strerror_r(err, buffer, sizeof(buffer)), buffer);
  std::string message = what;
  if (!path.empty()) {
    message += ' ';
    message += path;
  }
  message += ": ";
  message += text;
  return Status(err == 0 ? StatusCode::kIoError : CodeFor(err), std::move(message));
}

}  // namespace vantrel
