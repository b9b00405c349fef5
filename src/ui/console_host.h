#pragma once

#include <cstdio>
#include <string>

#include "jobs/job_engine.h"

namespace dravelkent {

// Whether a stream is attached to a terminal.
enum class Terminal { kNo, kYes };

// Returns kYes when |stream| is attached to a terminal.
Terminal TerminalOf(std::FILE* stream);

// The front end for a run without a display. Status texts and the prompt
// go to the terminal on standard error, and only when there is one: standard
// output carries the action lines alone, and a cron run that succeeds stays
// silent. Messages go to standard output always, and wait for Enter when
// someone can press it. Texts are written as one line each, escaped
// (EscapeForLine: a file name may hold any byte).
class ConsoleHost : public Host {
 public:
  // Reads answers from |in|, writes messages to |out| and status texts and
  // the prompt to |err| when |err_terminal| is kYes. A message waits for
  // Enter only when |in_terminal| is kYes.
  ConsoleHost(std::FILE* in, std::FILE* out, std::FILE* err,
              Terminal in_terminal, Terminal err_terminal);

  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void EndRun() override { ended_ = true; }

  // Asks whether to run, as the dialog's two buttons do: prompts and reads
  // answers until one counts. Calls |run| for Enter; returns without a run
  // for "q", "Q", Escape or the end of input.
  void WaitForUser(const std::function<void()>& run) override;

  bool ended() const { return ended_; }

 private:
  // Reads one line from the input, without its line break. Returns false at
  // the end of input.
  bool ReadLine(std::string* line);

  // Writes |text| on the terminal, if there is one.
  void Tell(const std::string& text);

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  Terminal in_terminal_;
  Terminal err_terminal_;
  bool ended_ = false;
};

}  // namespace dravelkent
