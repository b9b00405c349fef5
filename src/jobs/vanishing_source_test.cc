// Whole runs whose sources vanish while the run works on them (another
// program removes them): the run says it once, does everything else, and
// writes nothing but its own targets.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
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

namespace fs = std::filesystem;

using testing::DiskCall;
using testing::FaultyDiskInterface;
using testing::ThreeJobs;
using testing::TreeState;

// Removes from |state| |path| and everything below it.
void Erase(TreeState* state, const std::string& path) {
  for (auto it = state->begin(); it != state->end();) {
    bool below = it->first.compare(0, path.size(), path) == 0 &&
                 (it->first.size() == path.size() ||
                  it->first[path.size()] == '/');
    it = below ? state->erase(it) : std::next(it);
  }
}

TEST(VanishingSourceTest, TheRunSaysItOnceAndDoesEverythingElse) {
  struct Case {
    const char* label;
    DiskCall call;         // just before this call (a move: in copy mode
                           // the copy) ...
    const char* on;        // ... on this path
    const char* vanishes;  // ... this source is removed
    std::vector<std::string> not_written;  // what the run then cannot write
  } cases[] = {
      {"a sub-folder, before it is listed", DiskCall::kOpenDir, "src2/sub/",
       "src2/sub",
       {"dst2/20261206sub/20261206b.txt", "dst2/20261206sub/20261206deeper"}},
      {"the whole tree, before it is listed", DiskCall::kOpenDir,
       "src2/", "src2",
       {"dst2/20261206a.txt", "dst2/20261206link", "dst2/20261206sub"}},
      {"a file the listing named", DiskCall::kMoveFile, "src2/a.txt",
       "src2/a.txt", {"dst2/20261206a.txt"}},
      {"a job's one file", DiskCall::kMoveFile, "src3/app.log",
       "src3/app.log", {"dst3/20261206app.log"}},
  };
  for (const char* backup : {"Off", "On"}) {
    ThreeJobs clean(backup);
    RealDiskInterface real;
    testing::RecordingHost clean_host;
    testing::RecordingFailureLog clean_failures;
    clean.RunAllJobs(&real, &clean_host, &clean_failures);
    ASSERT_EQ(clean_failures.failures, std::vector<std::string>{});

    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.label) + ", BACKUP=" + backup);
      ThreeJobs jobs(backup);
      FaultyDiskInterface disk(&real);
      DiskCall call = c.call;
      if (call == DiskCall::kMoveFile && std::string(backup) == "On") {
        call = DiskCall::kCopyFile;
      }
      const std::string vanishing = jobs.Path(c.vanishes);
      disk.BeforeCallOn(call, jobs.Path(c.on),
                        [&] { fs::remove_all(vanishing); });
      testing::RecordingHost host;
      testing::RecordingFailureLog failures;
      jobs.RunAllJobs(&disk, &host, &failures);

      EXPECT_EQ(host.end_count, 1);
      ASSERT_EQ(failures.failures.size(), 1u)
          << ::testing::PrintToString(failures.failures);
      EXPECT_NE(failures.failures[0].find(vanishing), std::string::npos)
          << failures.failures[0];
      TreeState expected = clean.State();
      Erase(&expected, c.vanishes);
      for (const std::string& path : c.not_written) Erase(&expected, path);
      EXPECT_EQ(jobs.State(), expected);
    }
  }
}

}  // namespace
}  // namespace dravelkent
