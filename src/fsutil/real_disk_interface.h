#pragma once

#include "fsutil/disk_interface.h"

namespace dravelkent {

// DiskInterface on the real POSIX file system.
class RealDiskInterface : public DiskInterface {
 public:
  std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                     Status* status) override;
  Status Stat(const std::string& path, FollowLinks follow,
              FileInfo* info) override;
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status MakeDir(const std::string& path) override;
};

}  // namespace dravelkent
