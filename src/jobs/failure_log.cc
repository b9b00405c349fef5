#include "jobs/failure_log.h"

#include "base/text_util.h"

namespace dravelkent {

void StreamFailureLog::Report(const Status& status) {
  ++count_;
  if (!written_.insert(status.message()).second) return;
  // A path may hold any byte but "/" and NUL, a line break included.
  std::fprintf(stream_, "dravelkent: %s\n",
               EscapeForLine(status.message()).c_str());
  std::fflush(stream_);
}

}  // namespace dravelkent
