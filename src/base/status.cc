#include "base/status.h"

#include <cerrno>
#include <cstring>

namespace dravelkent {

Status Status::Failure(const std::string& what, const std::string& path,
                       const std::string& reason, int error_number) {
  Status status;
  status.failed_ = true;
  status.message_ = what;
  if (!path.empty()) status.message_ += ' ' + path;
  status.message_ += ": " + reason;
  status.reason_ = reason;
  status.error_number_ = error_number;
  return status;
}

Status Status::FromErrno(const std::string& what, const std::string& path,
                         int error_number) {
  std::string reason = std::strerror(error_number);
  // Some C libraries have no text for these.
  if (reason.starts_with("Unknown error")) {
    if (error_number == ELOOP) reason = "Too many levels of symbolic links";
    if (error_number == ENOTSUP) reason = "Operation not supported";
  }
  return Failure(what, path, reason, error_number);
}

}  // namespace dravelkent
