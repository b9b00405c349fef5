#include "jobs/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace dravelkent {
namespace {

constexpr char kWhat[] = "cannot lock the settings folder";

}  // namespace

RunLock::RunLock(std::string folder) : folder_(std::move(folder)) {}

RunLock::~RunLock() { Release(); }

void RunLock::Release() {
  if (fd_ >= 0) close(fd_);  // Closing the folder drops the lock.
  fd_ = -1;
  if (state_ == State::kHeld) state_ = State::kFree;
}

Status RunLock::Acquire() {
  if (state_ != State::kFree) return Status::Ok();
  int fd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    state_ = State::kUnavailable;
    return Status::FromErrno(kWhat, folder_, errno);
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    int error = errno;
    close(fd);
    state_ = State::kUnavailable;
    return Status::FromErrno(kWhat, folder_, error);
  }
  fd_ = fd;
  state_ = State::kHeld;
  return Status::Ok();
}

}  // namespace dravelkent
