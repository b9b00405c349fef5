#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "base/status.h"

namespace dravelkent {

// Receives every operation of a run that failed. The run goes on after a
// failure; the log decides how it is said and counts it for the exit status.
class FailureLog {
 public:
  virtual ~FailureLog() = default;

  // Records one failure. |status| is not ok.
  virtual void Report(const Status& status) = 0;

  // Returns how many failures were reported so far.
  virtual int count() const = 0;
};

// Writes each failure as one line "dravelkent: message" on a stream, its
// control bytes escaped (EscapeForLine). The
// same message is written once however often it recurs (an unreadable
// settings file fails every write the same way); every report is counted.
class StreamFailureLog : public FailureLog {
 public:
  explicit StreamFailureLog(std::FILE* stream) : stream_(stream) {}

  void Report(const Status& status) override;
  int count() const override { return count_; }

 private:
  std::FILE* stream_;
  int count_ = 0;
  std::set<std::string> written_;
};

}  // namespace dravelkent
