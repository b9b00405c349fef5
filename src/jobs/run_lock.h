#pragma once

#include <string>

#include "fsutil/status.h"

namespace dravelkent {

// Keeps two runs in one folder (cron and a person, or two timers) from doing
// the day's work together: an exclusive flock on the folder that holds the
// settings file, so no lock file is ever left behind. The lock is held from
// the first Acquire until the object goes; the system drops it when the
// process ends, however it ends.
class RunLock {
 public:
  // |folder| is the folder that holds the settings file.
  explicit RunLock(std::string folder);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock, waiting for as long as another run holds it. Returns ok
  // once it is held, at once when it is held already. Returns the failure
  // when the folder cannot be opened or locked; the run then goes on
  // without the lock, and later calls neither wait nor say it again.
  Status Acquire();

  bool held() const { return state_ == State::kHeld; }

 private:
  enum class State { kFree, kHeld, kUnavailable };

  std::string folder_;
  int fd_ = -1;
  State state_ = State::kFree;
};

}  // namespace dravelkent
