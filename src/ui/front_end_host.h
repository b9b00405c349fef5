#pragma once

#include <functional>

#include "jobs/host.h"

namespace dravelkent {

// A front end of the program as the start-up sequence sees it: the host
// operations of a run, and the wait for the user's choice when the run does
// not start at once. The window and the console are the two.
class FrontEndHost : public Host {
 public:
  // Waits for the user's choice, the first status text shown. For "実行"
  // calls |run|, which runs all jobs, ends the run through EndRun and
  // returns when the run is over; for "閉じる" returns without calling it.
  // Returns once the choice is made and any run it started is over.
  virtual void WaitForUser(const std::function<void()>& run) = 0;
};

}  // namespace dravelkent
