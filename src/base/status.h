#pragma once

#include <string>
#include <utility>

namespace dravelkent {

// The outcome of one operation: success, or a failure with a message that
// names the operation, the path and the system's reason.
class [[nodiscard]] Status {
 public:
  Status() = default;

  // Returns a success.
  static Status Ok() { return Status(); }

  // Returns a failure carrying |message| as it stands.
  static Status Error(std::string message) {
    return Status(std::move(message));
  }

  // Returns a failure "what path: reason", where reason is the system's text
  // for |error_number|. This is the one place errno becomes a message.
  static Status FromErrno(const std::string& what, const std::string& path,
                          int error_number);

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }

  // The errno the failure came from, or 0.
  int error_number() const { return error_number_; }

 private:
  explicit Status(std::string message)
      : failed_(true), message_(std::move(message)) {}

  bool failed_ = false;
  std::string message_;
  int error_number_ = 0;
};

}  // namespace dravelkent
