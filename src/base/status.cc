#include "base/status.h"

#include <cstring>

namespace dravelkent {

Status Status::FromErrno(const std::string& what, const std::string& path,
                         int error_number) {
  std::string message = what;
  if (!path.empty()) {
    message += ' ';
    message += path;
  }
  message += ": ";
  message += std::strerror(error_number);
  Status status(std::move(message));
  status.error_number_ = error_number;
  return status;
}

}  // namespace dravelkent
