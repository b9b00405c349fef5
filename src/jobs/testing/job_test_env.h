#pragma once

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"
#include "jobs/job_engine.h"
#include "settings/settings_store.h"

namespace dravelkent::testing {

// Keeps the messages, each after running |on_message|, and counts EndRun.
struct RecordingHost : Host {
  void ShowStatus(const std::string&) override {}
  void ShowMessage(const std::string& text) override {
    if (on_message) on_message();
    messages.push_back(text);
  }
  void EndRun() override { ++end_count; }
  std::vector<std::string> messages;
  int end_count = 0;
  std::function<void()> on_message;
};

struct RecordingFailureLog : FailureLog {
  void Report(const Status& s) override { said.push_back(s.message()); }
  int count() const override { return static_cast<int>(said.size()); }
  std::vector<std::string> said;
};

// A run on 8 December 2026 in a fresh folder "$T" (in memory where there is
// a tmpfs) through the real file system behind a FaultyDiskInterface.
struct JobTestEnv {
  JobTestEnv() {
    env = {&settings, &disk, &clock, &host, &failures, temp.path()};
  }
  void WriteIni(std::string text) const {
    for (size_t at; (at = text.find("$T")) != std::string::npos;) {
      text.replace(at, 2, temp.path());
    }
    WriteFile(settings.path(), text);
  }
  // The names in the folder $T/|relative|, sorted, each followed by a blank.
  std::string Names(const std::string& relative) const {
    std::set<std::string> names;
    std::error_code e;
    for (const auto& entry :
         std::filesystem::directory_iterator(temp / relative, e)) {
      names.insert(entry.path().filename());
    }
    std::string joined;
    for (const std::string& name : names) joined += name + " ";
    return joined;
  }
  void Run() { JobEngine(env).RunAllJobs(); }

  TempFolder temp{access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
  SettingsStore settings{temp / "Dravelkent.ini"};
  FixedClock clock{{2026, 12, 8}};
  RealDiskInterface real_disk;
  FaultyDiskInterface disk{&real_disk};
  RecordingHost host;
  RecordingFailureLog failures;
  EngineEnv env;
};

}  // namespace dravelkent::testing
