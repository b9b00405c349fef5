// Whole runs of three jobs with one file operation failing, every kind of
// operation at every point of the run: the run goes on, says the failure
// once, loses nothing, and a later run finishes the work.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "jobs/job_engine.h"
#include "jobs/testing/recording_host.h"
#include "jobs/testing/three_jobs.h"
#include "settings/settings_store.h"

namespace dravelkent {
namespace {

// The files of the tree job (src2/): a.txt, sub/b.txt and sub/deeper/c.txt.
constexpr size_t kTreeJobFiles = 3;

using testing::DiskCall;
using testing::FaultyDiskInterface;
using testing::RecordingFailureLog;
using testing::RecordingHost;
using testing::ThreeJobs;
using testing::TreeState;

struct Outcome {
  RecordingHost host;
  RecordingFailureLog failures;
};

void RunJobs(const ThreeJobs& jobs, DiskInterface* disk, Outcome* outcome) {
  jobs.RunAllJobs(disk, &outcome->host, &outcome->failures);
}

// Returns the job ("1", "2" or "3") whose folders |text| names, or "".
std::string JobNamedIn(const std::string& text, const ThreeJobs& jobs) {
  for (const char* job : {"1", "2", "3"}) {
    for (const char* side : {"src", "dst"}) {
      if (text.find(jobs.Path(std::string(side) + job)) != std::string::npos) {
        return job;
      }
    }
  }
  return "";
}

// Returns the entries in which |state| differs from |expected| and that
// belong to a job other than |job|.
std::vector<std::string> OtherJobsDiffer(const TreeState& state,
                                         const TreeState& expected,
                                         const std::string& job) {
  std::set<std::string> paths;
  for (const auto& [path, entry] : state) {
    auto it = expected.find(path);
    if (it == expected.end() || !(it->second == entry)) paths.insert(path);
  }
  for (const auto& [path, entry] : expected) {
    if (state.count(path) == 0) paths.insert(path);
  }
  std::vector<std::string> others;
  for (const std::string& path : paths) {
    if (path.compare(3, job.size(), job) != 0) others.push_back(path);
  }
  return others;
}

// Checks one run with one failure planted: the run ends as usual, the
// failure is said once, the other jobs did their work, nothing is left
// half-written; then a run with nothing failing ends where a clean run
// does.
void CheckFaultyRun(const ThreeJobs& jobs, const Outcome& outcome,
                    const TreeState& expected, const std::string& injected,
                    bool may_be_silent, size_t files_sharing_step = 1) {
  EXPECT_EQ(outcome.host.end_count, 1);
  const std::vector<std::string>& said = outcome.failures.failures;
  int planted = 0;
  std::string job;
  for (const std::string& text : said) {
    if (text.find(injected) != std::string::npos) {
      ++planted;
      job = JobNamedIn(text, jobs);
    }
  }
  // A step that several copies share (one flush for a batch of a tree's
  // files) fails each of them, and each is said.
  if (files_sharing_step > 1) {
    EXPECT_GE(planted, 1) << ::testing::PrintToString(said);
    EXPECT_LE(planted, static_cast<int>(files_sharing_step))
        << ::testing::PrintToString(said);
  } else {
    EXPECT_EQ(planted, may_be_silent && said.empty() ? 0 : 1)
        << ::testing::PrintToString(said);
  }
  EXPECT_EQ(std::set<std::string>(said.begin(), said.end()).size(),
            said.size())
      << ::testing::PrintToString(said);
  // A folder that cannot be made fails the move into it as well.
  EXPECT_LE(said.size(), std::max<size_t>(2, files_sharing_step))
      << ::testing::PrintToString(said);
  TreeState state = jobs.State();
  EXPECT_EQ(testing::TemporaryFilesIn(state), "");
  if (!job.empty()) {
    EXPECT_EQ(OtherJobsDiffer(state, expected, job), std::vector<std::string>{})
        << "failure in job " << job;
  }

  jobs.MakeDueAgain();
  RealDiskInterface real;
  Outcome again;
  RunJobs(jobs, &real, &again);
  EXPECT_EQ(jobs.State(), expected);
}

const DiskCall kEveryCall[] = {
    DiskCall::kOpenDir,  DiskCall::kReadDir,     DiskCall::kStat,
    DiskCall::kCopyFile, DiskCall::kMoveFile,    DiskCall::kCopySymlink,
    DiskCall::kRemoveFile, DiskCall::kMakeDir,
};

TEST(EngineFaultTest, EveryCallFailingAnywhereIsSaidOnceAndTheRunGoesOn) {
  for (const char* backup : {"Off", "On"}) {
    ThreeJobs clean(backup);
    RealDiskInterface real;
    FaultyDiskInterface counting(&real);
    Outcome first;
    RunJobs(clean, &counting, &first);
    ASSERT_EQ(first.failures.failures, std::vector<std::string>{});
    const TreeState expected = clean.State();

    int runs = 0;
    for (DiskCall call : kEveryCall) {
      for (int n = 1; n <= counting.count(call); ++n) {
        SCOPED_TRACE(std::string("BACKUP=") + backup + ", call kind " +
                     std::to_string(static_cast<int>(call)) + " number " +
                     std::to_string(n));
        ThreeJobs jobs(backup);
        FaultyDiskInterface disk(&real);
        disk.FailNthCall(call, n, EIO);
        Outcome outcome;
        RunJobs(jobs, &disk, &outcome);
        // A file that cannot be examined counts as missing: copied anew.
        CheckFaultyRun(jobs, outcome, expected, "injected failure",
                       call == DiskCall::kStat);
        ++runs;
      }
    }
    EXPECT_GT(runs, 40);
  }
}

TEST(EngineFaultTest, EveryStepOfEveryCopyAndMoveFailingIsSaidOnce) {
  RealDiskOptions options;
  options.unnamed_temp_files = UnnamedTempFiles::kNever;
  options.cross_device_move = RealDiskOptions::CrossDeviceMove::kAlways;
  for (const char* backup : {"Off", "On"}) {
    ThreeJobs clean(backup);
    RealDiskInterface counting(options);
    std::vector<DiskStep> steps;
    counting.set_step_hook(testing::FailStep(-1, &steps));
    Outcome first;
    RunJobs(clean, &counting, &first);
    ASSERT_EQ(first.failures.failures, std::vector<std::string>{});
    const TreeState expected = clean.State();
    ASSERT_GT(steps.size(), 20u);

    for (size_t step = 0; step < steps.size(); ++step) {
      SCOPED_TRACE(std::string("BACKUP=") + backup + ", step " +
                   std::to_string(step));
      ThreeJobs jobs(backup);
      RealDiskInterface disk(options);
      disk.set_step_hook(testing::FailStep(static_cast<int>(step), nullptr));
      Outcome outcome;
      RunJobs(jobs, &disk, &outcome);
      // The tree job's copies share one flush.
      const size_t sharing =
          std::string(backup) == "On" && steps[step] == DiskStep::kFlushTemp
              ? kTreeJobFiles
              : 1;
      CheckFaultyRun(jobs, outcome, expected, "Input/output error", false,
                     sharing);
    }
  }
}

}  // namespace
}  // namespace dravelkent
