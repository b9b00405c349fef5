#pragma once

#include <cstdio>
#include <string>

#include "ui/front_end_host.h"

namespace dravelkent {

// Whether a stream is attached to a terminal.
enum class Terminal { kNo, kYes };

// Returns kYes when |stream| is attached to a terminal.
Terminal TerminalOf(std::FILE* stream);

// The front end for a run without a display: status texts on a terminal
// only (a cron run that succeeds stays silent), messages always, and an
// Enter to acknowledge a message when someone can press it. Texts are
// written as one line each, their control bytes escaped (a file name may
// hold any).
class ConsoleHost : public FrontEndHost {
 public:
  ConsoleHost(std::FILE* in, std::FILE* out, Terminal in_terminal,
              Terminal out_terminal);

  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void EndRun() override { ended_ = true; }

  // Asks on the terminal (AskToRun, with the last status text) and calls
  // |run| for Enter.
  void WaitForUser(const std::function<void()>& run) override;

  // Asks whether to run, as the dialog's two buttons do: prints the status
  // text and a prompt, then reads one answer. Returns true for Enter (run);
  // false for "q", Escape or the end of input (close).
  bool AskToRun(const std::string& status_text);

  bool ended() const { return ended_; }

 private:
  // Reads one line from the input, without its line break. Returns false at
  // the end of input.
  bool ReadLine(std::string* line);

  std::FILE* in_;
  std::FILE* out_;
  Terminal in_terminal_;
  Terminal out_terminal_;
  std::string status_;  // the last status text
  bool ended_ = false;
};

}  // namespace dravelkent
