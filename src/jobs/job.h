#pragma once

#include <string>

#include "fsutil/tree_transfer.h"
#include "jobs/fresh_copies.h"

namespace dravelkent {

// Whether DELETEALL "On" removes every dated copy, expired or not.
enum class DeleteAll { kNo, kYes };

// One numbered job, its keys read and checked.
struct Job {
  std::string source_folder;  // DIRNAMEFROM, ending in "/"
  std::string target_folder;  // DIRNAMETO, ending in "/"
  std::string file_name;      // FILENAME
  std::string kind;           // KIND
  int retention_days = 0;     // DELETEDAY, 0 to 9999
  DeleteAll delete_all = DeleteAll::kNo;
};

// Whether a failure is also shown in a message box (MESSAGE "On").
enum class MessageBoxes { kOff, kOn };

// What the jobs of one run share.
struct RunState {
  TransferMode mode = TransferMode::kMove;
  MessageBoxes message_boxes = MessageBoxes::kOff;
  // The files the run has written so far, never expired by it.
  FreshCopies fresh;
  // The progress text the job at hand showed last.
  std::string work_message;
};

}  // namespace dravelkent
