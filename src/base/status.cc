#include "base/status.h"

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
  return Failure(what, path, std::strerror(error_number), error_number);
}

}  // namespace dravelkent
