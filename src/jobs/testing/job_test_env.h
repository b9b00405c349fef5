#pragma once

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "jobs/job_engine.h"
#include "jobs/testing/recording_host.h"

namespace dravelkent::testing {

// The real file system behind a FaultyDiskInterface, a RecordingHost and a
// RecordingFailureLog, with an EngineEnv that points at them (no settings,
// no clock).
struct JobTestEnv {
  JobTestEnv() {
    env.disk = &disk;
    env.host = &host;
    env.failures = &failures;
  }
  JobTestEnv(const JobTestEnv&) = delete;
  JobTestEnv& operator=(const JobTestEnv&) = delete;

  RealDiskInterface real_disk;
  FaultyDiskInterface disk{&real_disk};
  RecordingHost host;
  RecordingFailureLog failures;
  EngineEnv env;
};

}  // namespace dravelkent::testing
