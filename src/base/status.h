#pragma once

#include <string>
#include <utility>

namespace dravelkent {

// The outcome of one operation: success, or a failure with a message that
// names the operation, the path and the reason.
class [[nodiscard]] Status {
 public:
  Status() = default;
  // Returns a success.
  static Status Ok() { return Status(); }
  // Returns a failure carrying |message| as it stands, as its reason too.
  static Status Error(std::string message) {
    Status status;
    status.failed_ = true;
    status.reason_ = message;
    status.message_ = std::move(message);
    return status;
  }
  // Returns a failure "what path: reason" with the error number
  // |error_number| (an errno value, 0 for none).
  static Status Failure(const std::string& what, const std::string& path,
                        const std::string& reason, int error_number);
  // Returns a failure "what path: reason", where reason is the system's text
  // for the errno value |error_number|.
  static Status FromErrno(const std::string& what, const std::string& path,
                          int error_number);

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }
  // What went wrong, without the operation and path.
  const std::string& reason() const { return reason_; }
  // The errno value the failure stands for, or 0.
  int error_number() const { return error_number_; }
  // Returns this failure as one of |what| |path|; a success stays one.
  Status Reworded(const std::string& what, const std::string& path) const {
    return ok() ? *this : Failure(what, path, reason_, error_number_);
  }

 private:
  bool failed_ = false;
  std::string message_;
  std::string reason_;
  int error_number_ = 0;
};

}  // namespace dravelkent
