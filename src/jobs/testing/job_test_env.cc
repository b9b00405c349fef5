#include "jobs/testing/job_test_env.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "jobs/testing/temp_dir.h"

namespace dravelkent::testing {

void TestDisk::FailOn(DiskOp op, const std::string& path, int error) {
  failures_.push_back({op, path, error});
}

Status TestDisk::Injected(DiskOp op, const std::string& path) const {
  for (const Failure& failure : failures_) {
    if (failure.op == op && failure.path == path) {
      return Status::FromErrno("injected failure on", path, failure.error);
    }
  }
  return Status::Ok();
}

std::unique_ptr<DirReader> TestDisk::OpenDir(const std::string& dir,
                                             Status* status) {
  *status = Injected(DiskOp::kOpenDir, dir);
  if (!status->ok()) return nullptr;
  return RealDiskInterface::OpenDir(dir, status);
}

Status TestDisk::CopyFile(const std::string& from, const std::string& to) {
  Status injected = Injected(DiskOp::kCopy, from);
  if (!injected.ok()) return injected;
  struct stat data;
  if (stat(from.c_str(), &data) != 0) {
    return Status::FromErrno("cannot copy", from, errno);
  }
  if (!S_ISREG(data.st_mode)) return Status::FromErrno("cannot copy", from, EISDIR);
  if (!WriteFileBytes(to, ReadFileBytes(from))) {
    return Status::FromErrno("cannot copy to", to, EIO);
  }
  struct timespec times[2] = {data.st_atim, data.st_mtim};
  if (utimensat(AT_FDCWD, to.c_str(), times, 0) != 0) {
    return Status::FromErrno("cannot stamp", to, errno);
  }
  return Status::Ok();
}

Status TestDisk::MoveFile(const std::string& from, const std::string& to) {
  Status injected = Injected(DiskOp::kMove, from);
  if (!injected.ok()) return injected;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) != 0) {
    return Status::FromErrno("cannot move", from, errno);
  }
  return Status::Ok();
}

Status TestDisk::RemoveFile(const std::string& path) {
  Status injected = Injected(DiskOp::kRemove, path);
  if (!injected.ok()) return injected;
  return RealDiskInterface::RemoveFile(path);
}

bool SetMtime(const std::string& path, int64_t mtime_ns) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = mtime_ns / 1000000000;
  times[1].tv_nsec = mtime_ns % 1000000000;
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t MtimeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
         st.st_mtim.tv_nsec;
}

}  // namespace dravelkent::testing
