#pragma once

#include <string>

#include "base/status.h"

namespace dravelkent {

// Keeps two runs in one folder (cron and a person, or two timers) from doing
// the day's work together: an exclusive flock on the folder that holds the
// settings file, so no lock file is ever left behind. The lock is held from
// the first Acquire until Release or until the object goes; the system drops
// it when the process ends, however it ends.
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

  // Lets the lock go, so that another run need not wait for this one (say,
  // for a message that waits for a person). Does nothing when the lock is
  // not held. A later Acquire takes it anew.
  void Release();

  bool held() const { return state_ == State::kHeld; }

 private:
  enum class State { kFree, kHeld, kUnavailable };

  std::string folder_;
  int fd_ = -1;
  State state_ = State::kFree;
};

}  // namespace dravelkent
