#include "fsutil/disk_interface.h"

#include <cerrno>

namespace dravelkent {

Status DiskInterface::CopySymlink(const std::string& from,
                                  const std::string& to) {
  return Status::FromErrno("cannot copy link", from + " to " + to, ENOSYS);
}

}  // namespace dravelkent
