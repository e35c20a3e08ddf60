// Status and StatusOr: how operations inside the server report failure.
//
// Errors are values, never exceptions. The code says what the caller should do
// next; the message says what happened, with the path or record involved.
// errno is turned into a Status once, in the platform layer (see ErrnoStatus in
// posix_error.h). Exceptions of third-party libraries are caught at their edge.
//
// Taking the value of a StatusOr that holds an error is a programming error,
// not a failure to report: the process ends at once through FatalError with
// the status in the message (never an exception).
#pragma once

#include <cassert>  // several files take assert() from here
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vantrel {

enum class StatusCode {
  kOk = 0,
  kNotFound,            // the thing is not there; often normal (a missing stream, no file yet)
  kInvalidArgument,     // the caller passed something unusable (bad path, bad option)
  kCorruption,          // outside bytes do not follow their format
  kIoError,             // the OS refused a read, write or other file operation
  kResourceExhausted,   // a limit was reached (list capacity, 32 indexes, watch limit)
  kUnavailable,         // try again later (file locked, busy)
  kFailedPrecondition,  // the system is not in a state for this (e.g. server already running)
  kInternal,            // a fault in this program
};

const char* StatusCodeName(StatusCode code);

// Ends the process for a programming error: writes "vantrel: fatal error:
// <message>" to standard error and aborts (a core dump for the debugger).
[[noreturn]] void FatalError(std::string_view message);

class [[nodiscard]] Status {
 public:
  Status() = default;  // OK
  Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return {StatusCode::kNotFound, std::move(msg)}; }
  static Status InvalidArgument(std::string msg) {
    return {StatusCode::kInvalidArgument, std::move(msg)};
  }
  static Status Corruption(std::string msg) { return {StatusCode::kCorruption, std::move(msg)}; }
  static Status IoError(std::string msg) { return {StatusCode::kIoError, std::move(msg)}; }
  static Status ResourceExhausted(std::string msg) {
    return {StatusCode::kResourceExhausted, std::move(msg)};
  }
  static Status Unavailable(std::string msg) { return {StatusCode::kUnavailable, std::move(msg)}; }
  static Status FailedPrecondition(std::string msg) {
    return {StatusCode::kFailedPrecondition, std::move(msg)};
  }
  static Status Internal(std::string msg) { return {StatusCode::kInternal, std::move(msg)}; }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }
  bool IsNotFound() const { return code_ == StatusCode::kNotFound; }

  // "OK" or "<code name>: <message>".
  std::string ToString() const;

  // Marks a status as deliberately ignored.
  void IgnoreError() const {}

 private:
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] StatusOr {
 public:
  StatusOr(const T& value) : v_(value) {}                    // NOLINT: implicit by design
  StatusOr(T&& value) : v_(std::move(value)) {}              // NOLINT
  StatusOr(Status status) : v_(std::move(status)) {          // NOLINT
    assert(!std::get_if<Status>(&v_)->ok() && "StatusOr needs an error status or a value");
    if (std::get_if<Status>(&v_)->ok()) {
      v_ = Status::Internal("StatusOr made from OK without a value");
    }
  }

  bool ok() const { return std::holds_alternative<T>(v_); }
  Status status() const { return ok() ? Status::Ok() : *std::get_if<Status>(&v_); }

  // The value; a fatal error when there is none (check ok() first).
  T& value() & { return *Checked(); }
  const T& value() const& { return *Checked(); }
  T&& value() && { return std::move(*Checked()); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  T* Checked() {
    if (T* v = std::get_if<T>(&v_)) return v;
    FatalError("value of a StatusOr that holds an error: " + std::get_if<Status>(&v_)->ToString());
  }
  const T* Checked() const { return const_cast<StatusOr*>(this)->Checked(); }

  std::variant<Status, T> v_;
};

}  // namespace vantrel

// Returns from the enclosing function when the expression yields a failed Status.
#define VANTREL_RETURN_IF_ERROR(expr)                  \
  do {                                                 \
    ::vantrel::Status vantrel_status_ = (expr);        \
    if (!vantrel_status_.ok()) return vantrel_status_; \
  } while (0)

// Evaluates `expr` (a StatusOr); on an error returns its status from the
// enclosing function, otherwise moves the value into `lhs`, which may be a
// declaration ("VANTREL_ASSIGN_OR_RETURN(auto bytes, fs.ReadFile(path));") or
// an existing variable.
#define VANTREL_ASSIGN_OR_RETURN(lhs, expr) \
  VANTREL_ASSIGN_OR_RETURN_IMPL_(VANTREL_STATUS_CONCAT_(vantrel_or_, __LINE__), lhs, expr)

#define VANTREL_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                                   \
  if (!tmp.ok()) return tmp.status();                  \
  lhs = std::move(tmp).value()

#define VANTREL_STATUS_CONCAT_(a, b) VANTREL_STATUS_CONCAT_INNER_(a, b)
#define VANTREL_STATUS_CONCAT_INNER_(a, b) a##b
