#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "jobs/job_engine.h"
#include "jobs/testing/recording_host.h"

namespace dravelkent::testing {

// The operations of TestDisk that can be made to fail.
enum class DiskOp { kCopy, kMove, kRemove, kOpenDir };

// The real file system, with a plain copy and a non-replacing move of its
// own, and failures on demand.
class TestDisk : public RealDiskInterface {
 public:
  // Makes every later |op| on |path| fail with |error| without touching
  // anything.
  void FailOn(DiskOp op, const std::string& path, int error);

  std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                     Status* status) override;
  // Copies what |from| leads to, replacing |to|, with the mtime of the data.
  Status CopyFile(const std::string& from, const std::string& to) override;
  // Renames without replacing (one file system only).
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;

 private:
  // Returns the injected failure for |op| on |path|, or ok.
  Status Injected(DiskOp op, const std::string& path) const;

  struct Failure {
    DiskOp op;
    std::string path;
    int error;
  };
  std::vector<Failure> failures_;
};

// A TestDisk, a RecordingHost and a RecordingFailureLog, with an EngineEnv
// that points at them (no settings, no clock).
struct JobTestEnv {
  JobTestEnv() {
    env.disk = &disk;
    env.host = &host;
    env.failures = &failures;
  }
  JobTestEnv(const JobTestEnv&) = delete;
  JobTestEnv& operator=(const JobTestEnv&) = delete;

  TestDisk disk;
  RecordingHost host;
  RecordingFailureLog failures;
  EngineEnv env;
};

// Sets the mtime of |path| itself (a link's own when it is one). Returns
// false on failure.
bool SetMtime(const std::string& path, int64_t mtime_ns);

// Returns the mtime of |path| itself in nanoseconds, or -1.
int64_t MtimeOf(const std::string& path);

}  // namespace dravelkent::testing
