#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fsutil/tree_transfer.h"

namespace dravelkent::testing {

// Keeps every status text and failure message a transfer gives, in order.
class RecordingObserver : public TransferObserver {
 public:
  void OnStatus(const std::string& text) override {
    statuses.push_back(text);
    if (on_status) on_status(text);
  }
  void OnFailure(const Status& failure) override {
    failures.push_back(failure.message());
  }

  std::vector<std::string> statuses;
  std::vector<std::string> failures;
  // Called with each status text as it arrives.
  std::function<void(const std::string&)> on_status;
};

}  // namespace dravelkent::testing
