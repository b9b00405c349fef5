#pragma once

#include <string>
#include <vector>

#include "jobs/failure_log.h"
#include "jobs/host.h"

namespace dravelkent::testing {

// A host that remembers what the engine showed.
class RecordingHost : public Host {
 public:
  void ShowStatus(const std::string& text) override { statuses.push_back(text); }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void EndRun() override { ++end_count; }

  std::vector<std::string> statuses;
  std::vector<std::string> messages;
  int end_count = 0;
};

// A failure log that keeps the messages.
class RecordingFailureLog : public FailureLog {
 public:
  void Report(const Status& status) override { failures.push_back(status.message()); }
  int count() const override { return static_cast<int>(failures.size()); }

  std::vector<std::string> failures;
};

}  // namespace dravelkent::testing
