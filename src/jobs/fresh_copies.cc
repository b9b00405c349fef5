#include "jobs/fresh_copies.h"

namespace dravelkent {

bool FreshCopies::Contains(const std::string& name) const {
  if (!date_prefix_.empty() && name.compare(0, date_prefix_.size(),
                                            date_prefix_) == 0) {
    return true;
  }
  return names_.count(name) != 0;
}

}  // namespace dravelkent
