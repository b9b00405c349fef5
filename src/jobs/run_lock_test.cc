#include "jobs/run_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "jobs/job_engine.h"
#include "jobs/testing/recording_host.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

// Whether some other open of |folder| could take the lock now.
enum class Lockable { kNo, kYes };

Lockable ProbeLock(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  EXPECT_TRUE(taken || errno == EWOULDBLOCK);
  close(fd);
  return taken ? Lockable::kYes : Lockable::kNo;
}

// Whether /proc/locks shows someone waiting for a flock on |folder|.
bool SomeoneWaitsFor(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  for (std::string line; std::getline(locks, line);) {
    if (line.find("-> FLOCK") != std::string::npos &&
        line.find(inode) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// A host that runs |probe| whenever the engine shows a status text or a
// message.
class ProbingHost : public testing::RecordingHost {
 public:
  explicit ProbingHost(std::function<void()> probe)
      : probe_(std::move(probe)) {}
  void ShowStatus(const std::string& text) override {
    probe_();
    RecordingHost::ShowStatus(text);
  }
  void ShowMessage(const std::string& text) override {
    probe_();
    RecordingHost::ShowMessage(text);
  }

 private:
  std::function<void()> probe_;
};

class RunLockTest : public ::testing::Test {
 protected:
  RunLockTest()
      : settings_((temp_ / "Dravelkent.ini")), clock_({2026, 12, 6}) {
    env_.settings = &settings_;
    env_.disk = &disk_;
    env_.clock = &clock_;
    env_.failures = &failures_;
    env_.current_directory = temp_.path();
  }

  testing::TempFolder temp_;
  SettingsStore settings_;
  RealDiskInterface disk_;
  FixedClock clock_;
  testing::RecordingFailureLog failures_;
  EngineEnv env_;
};

TEST_F(RunLockTest, TheRunHoldsTheFolderUntilItsSettingsAreWritten) {
  testing::WriteFile(settings_.path(),
                          "[基本]\nMESSAGE=On\n"
                          "[設定]\n01DIRNAMEFROM=" + temp_.path() +
                              "\n01DIRNAMETO=" + (temp_ / "dst") +
                              "\n01FILENAME=app\n01KIND=log\n");
  std::vector<Lockable> during;
  ProbingHost host([&] { during.push_back(ProbeLock(temp_.path())); });
  env_.host = &host;
  {
    RunLock lock(temp_.path());
    env_.run_lock = &lock;
    JobEngine engine(env_);
    engine.RunAllJobs();
  }
  // The status of the job, then "完了しました。", which may wait for long.
  EXPECT_EQ(during, (std::vector<Lockable>{Lockable::kNo, Lockable::kYes}));
  EXPECT_EQ(host.messages, std::vector<std::string>{"完了しました。"});
  EXPECT_TRUE(failures_.failures.empty());
}

TEST_F(RunLockTest, ASecondLockWaitsForTheFirst) {
  auto first = std::make_unique<RunLock>(temp_.path());
  ASSERT_TRUE(first->Acquire().ok());
  EXPECT_TRUE(first->Acquire().ok());  // held already: no deadlock

  std::atomic<bool> second_held{false};
  std::thread waiter([&] {
    RunLock second(temp_.path());
    EXPECT_TRUE(second.Acquire().ok());
    second_held = true;
  });
  // Bounded wait until the kernel lists the second lock as blocked.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!SomeoneWaitsFor(temp_.path()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(SomeoneWaitsFor(temp_.path()));
  EXPECT_FALSE(second_held);
  first.reset();
  waiter.join();
  EXPECT_TRUE(second_held);
}

TEST_F(RunLockTest, AFolderThatCannotBeLockedIsSaidOnceAndTheRunGoesOn) {
  testing::WriteFile(settings_.path(),
                          "[基本]\nTIMESTAMP=20261205\n[設定]\n"
                          "01DIRNAMEFROM=" + (temp_ / "src") +
                              "\n01DIRNAMETO=" + (temp_ / "dst") +
                              "\n01FILENAME=app\n01KIND=log\n");
  mkdir((temp_ / "src").c_str(), 0755);
  testing::WriteFile((temp_ / "src/app.log"), "data");
  testing::RecordingHost host;
  env_.host = &host;
  RunLock lock((temp_ / "missing"));
  env_.run_lock = &lock;
  JobEngine engine(env_);
  engine.RunAllJobs();
  ASSERT_EQ(failures_.failures.size(), 1u);
  EXPECT_NE(failures_.failures[0].find((temp_ / "missing")),
            std::string::npos);
  EXPECT_EQ(testing::ReadFile((temp_ / "dst/20261206app.log")), "data");
  EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace dravelkent
