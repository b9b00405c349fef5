#include "jobs/job_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "jobs/run_lock.h"
#include "jobs/testing/job_test_env.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// The settings lines of job |n|: $T/src into $T/dst<n>, FILENAME app, KIND
// log, DELETEDAY 7, but for the lines "KEY=value" of |changes|.
std::string Job(int n, const std::string& changes = "") {
  char number[8];
  std::snprintf(number, sizeof number, "%02d", n);
  std::map<std::string, std::string> keys = {
      {"DIRNAMEFROM", "$T/src"},
      {"DIRNAMETO", "$T/dst" + std::string(number)},
      {"FILENAME", "app"},
      {"KIND", "log"},
      {"DELETEDAY", "7"}};
  for (size_t at = 0, end; (end = changes.find('\n', at)) != std::string::npos;
       at = end + 1) {
    size_t equals = changes.find('=', at);
    keys[changes.substr(at, equals - at)] =
        changes.substr(equals + 1, end - equals - 1);
  }
  std::string text;
  for (const auto& [key, value] : keys)
    text += number + key + "=" + value + "\n";
  return text;
}

// Jobs 1 to 99, job 2 with |changes|, on a day they have run already.
TEST(JobEngineTest, TheJobList) {
  struct {
    const char* job_2;
    bool job_2_made, job_3_runs;
    const char* said;  // the one failure, or "" for none
    const char* ini;   // in the settings afterwards
  } cases[] = {
      {"", true, true, "", ""},
      {"DIRNAMEFROM=\n", false, false, "", ""},
      {"DIRNAMETO=\n", false, false, "", ""},
      {"FILENAME=\n", true, false, "02FILENAME=\"\"", "02FILENAME=\n"},
      {"KIND=jpeg\n", true, false, "02KIND=\"jpeg\"", "02KIND=\n"},
      {"KIND=表\n", true, false, "02KIND=\"表\"", "02KIND=\n"},  // 2 bytes
      {"KIND=ﾛｸﾞ\n", true, true, "", "02KIND=ﾛｸﾞ\n"},  // 3 bytes in CP932
      {"KIND=*\n", true, true, "", ""},
      {"DELETEDAY=x7\n", true, true, "02DELETEDAY=\"x7\"", "02DELETEDAY=0\n"},
      {"DELETEDAY=-7\n", true, true, "02DELETEDAY=\"-7\"", "02DELETEDAY=0\n"},
      {"DELETEDAY=10000\n", true, true, "02DELETEDAY=\"10000\"", ""},
      {"DELETEDAY=99999999999999999999\n", true, true, "02DELETEDAY=\"9", ""},
      {"DELETEDAY=9999\n", true, true, "", "02DELETEDAY=9999\n"},
      {"DELETEDAY=\n", true, true, "", "02DELETEDAY=0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job_2);
    testing::JobTestEnv t;
    std::string jobs = Job(1) + Job(2, c.job_2);
    for (int n = 3; n <= 99; ++n) jobs += Job(n);
    t.WriteIni("[基本]\nTIMESTAMP=20261208\n[設定]\n" + jobs);
    t.Run();
    EXPECT_EQ(fs::is_directory(t.temp / "dst02"), c.job_2_made);
    EXPECT_EQ(fs::is_directory(t.temp / "dst98"), c.job_3_runs);
    EXPECT_FALSE(fs::exists(t.temp / "dst99"));
    ASSERT_EQ(t.failures.said.size(), *c.said ? 1u : 0u);
    if (*c.said) {
      EXPECT_NE(t.failures.said[0].find(c.said), std::string::npos);
    }
    EXPECT_NE(testing::ReadFile(t.settings.path()).find(c.ini),
              std::string::npos);
    EXPECT_EQ(t.host.end_count, 1);
  }
}

// A settings file whose TIMESTAMP could not be saved now.
struct UnsavableStore : SettingsStore {
  using SettingsStore::SettingsStore;
  Status ProbeWrite(std::string_view, std::string_view,
                    std::string_view) const override {
    return Status::Error("disk full");
  }
};

// Whether another run could take the lock on |folder| now.
bool Lockable(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return taken;
}

// Runs of job 1 over src/app.log and dst01/, which holds an expired
// (20261130) and a kept (20261201) dated copy, and of the jobs |more|.
TEST(JobEngineTest, TheRun) {
  struct {
    const char* what;
    const char* basic;  // lines of [基本]
    const char* job_1;  // changes to job 1
    const char* more;   // settings lines after job 1
    const char* extra;  // more files, or ""
    const char *src, *dst;
    size_t messages;
    int failures;
    const char* ini;  // in the settings afterwards
  } cases[] = {
      {"move; unknown switches", "TIMESTAMP=20261207\nBACKUP=on\nMESSAGE=x\n",
       "", "", "", "", "20261201app.log 20261207app.log ", 0, 0,
       "TIMESTAMP=20261208\nBACKUP=On\nMESSAGE=Off\n"},
      {"done today", "TIMESTAMP=20261208\n", "", "", "", "app.log ",
       "20261130app.log 20261201app.log ", 0, 0, "TIMESTAMP=20261208\n"},
      {"copy, no retention", "TIMESTAMP=20261207\nBACKUP=On\n", "DELETEDAY=0\n",
       "", "", "app.log ", "20261130app.log 20261201app.log 20261208app.log ",
       0, 0, "TIMESTAMP=20261208\n"},
      {"forced, delete all", "TIMESTAMP=00000000\nBACKUP=On\n", "DELETEDAY=0\n",
       "[裏設定]\n01DELETEALL=On\n", "", "app.log ", "20261208app.log ", 0, 0,
       "TIMESTAMP=00000000\n"},
      {"move refused", "TIMESTAMP=20261207\nMESSAGE=On\n", "", "",
       "dst01/20261207app.log", "app.log ", "20261201app.log 20261207app.log ",
       2, 1, "MESSAGE=On\n"},
      {"late run", "TIMESTAMP=20261101\n", "", "", "", "",
       "20261101app.log 20261201app.log ", 0, 0, ""},
      {"a later job's expiry", "TIMESTAMP=20261202\n", "",
       "02DIRNAMEFROM=$T/src\n02DIRNAMETO=$T/"
       "dst01\n02FILENAME=*\n02KIND=log\n02DELETEDAY=1\n",
       "", "", "20261202app.log ", 0, 0, ""},
      {"tree failures", "TIMESTAMP=20261207\nMESSAGE=On\n",
       "FILENAME=*\nDELETEDAY=0\n", "", "src/b.log dst01/app.log dst01/b.log",
       "app.log b.log ", "20261130app.log 20261201app.log app.log b.log ", 2, 2,
       ""},
      {"date cannot be saved", "TIMESTAMP=20261207\n", "", "", "", "app.log ",
       "20261130app.log 20261201app.log ", 0, 1, "TIMESTAMP=20261207\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::JobTestEnv t;
    fs::create_directories(t.temp / "src");
    fs::create_directories(t.temp / "dst01");
    for (std::string name :
         {"src/app.log", "dst01/20261130app.log", "dst01/20261201app.log"}) {
      testing::WriteFile(t.temp / name, name);
    }
    std::istringstream extra(c.extra);
    for (std::string name; extra >> name;)
      testing::WriteFile(t.temp / name, name);
    t.WriteIni(std::string("[基本]\n") + c.basic + "[設定]\n" +
               Job(1, c.job_1) + c.more);
    UnsavableStore unsavable(t.settings.path());
    if (std::string(c.what) == "date cannot be saved")
      t.env.settings = &unsavable;
    RunLock lock(t.temp.path());
    t.env.run_lock = &lock;
    std::vector<bool> lockable;
    t.host.on_message = [&] { lockable.push_back(Lockable(t.temp.path())); };
    t.Run();
    EXPECT_EQ(t.Names("src"), c.src);
    EXPECT_EQ(t.Names("dst01"), c.dst);
    EXPECT_EQ(t.host.messages.size(), c.messages);
    // Only the completion message lets another run start.
    for (size_t i = 0; i < lockable.size(); ++i)
      EXPECT_EQ(lockable[i], i + 1 == c.messages);
    EXPECT_EQ(t.failures.count(), c.failures)
        << ::testing::PrintToString(t.failures.said);
    EXPECT_NE(testing::ReadFile(t.settings.path()).find(c.ini),
              std::string::npos);
  }
}

}  // namespace
}  // namespace dravelkent
