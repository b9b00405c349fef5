#pragma once

#include <cstdio>
#include <string>

#include "jobs/job_engine.h"

namespace dravelkent {

// Whether a stream is attached to a terminal.
enum class Terminal { kNo, kYes };

// Returns kYes when |stream| is attached to a terminal.
Terminal TerminalOf(std::FILE* stream);

// The front end of a run without a window: status texts and the prompt go
// to standard error when it is a terminal, messages to standard output
// (waiting for Enter when someone can press it), each one escaped line.
class Console : public Host {
 public:
  // A message waits for Enter on |in| only when |in_terminal| is kYes.
  Console(std::FILE* in, std::FILE* out, std::FILE* err, Terminal in_terminal,
          Terminal err_terminal)
      : in_(in),
        out_(out),
        err_(err),
        in_terminal_(in_terminal),
        err_terminal_(err_terminal) {}

  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void EndRun() override {}
  // Asks whether to run, as the window's two buttons do, until an answer
  // counts: Enter runs; "q", "Q", Escape or the end of input close.
  void WaitForUser(const std::function<void()>& run) override;

 private:
  // Reads one line without its line break; false at the end of input.
  bool ReadLine(std::string* line);
  // Writes |text| on the terminal, if there is one.
  void Tell(const std::string& text);

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  Terminal in_terminal_;
  Terminal err_terminal_;
};

}  // namespace dravelkent
