#include "jobs/failure_log.h"

namespace dravelkent {

void StreamFailureLog::Report(const Status& status) {
  ++count_;
  if (!written_.insert(status.message()).second) return;
  std::fprintf(stream_, "dravelkent: %s\n", status.message().c_str());
  std::fflush(stream_);
}

}  // namespace dravelkent
