#include "ui/console_host.h"

#include <unistd.h>

#include "base/text_util.h"

namespace dravelkent {

Terminal TerminalOf(std::FILE* stream) {
  return isatty(fileno(stream)) ? Terminal::kYes : Terminal::kNo;
}

ConsoleHost::ConsoleHost(std::FILE* in, std::FILE* out, Terminal in_terminal,
                         Terminal out_terminal)
    : in_(in),
      out_(out),
      in_terminal_(in_terminal),
      out_terminal_(out_terminal) {}

void ConsoleHost::ShowStatus(const std::string& text) {
  status_ = text;
  if (out_terminal_ != Terminal::kYes) return;
  std::fprintf(out_, "%s\n", EscapeForLine(text).c_str());
  std::fflush(out_);
}

void ConsoleHost::ShowMessage(const std::string& text) {
  std::fprintf(out_, "%s\n", EscapeForLine(text).c_str());
  std::fflush(out_);
  if (in_terminal_ != Terminal::kYes) return;
  std::string ignored;
  ReadLine(&ignored);
}

void ConsoleHost::WaitForUser(const std::function<void()>& run) {
  if (AskToRun(status_)) run();
}

bool ConsoleHost::AskToRun(const std::string& status_text) {
  // On a terminal the status text is already there.
  if (out_terminal_ != Terminal::kYes) {
    std::fprintf(out_, "%s\n", status_text.c_str());
  }
  while (true) {
    std::fprintf(out_, "[Enter] 実行  [q/Esc] 閉じる: ");
    std::fflush(out_);
    std::string line;
    if (!ReadLine(&line)) {
      std::fprintf(out_, "\n");
      return false;
    }
    if (line.empty()) return true;
    if (line == "q" || line == "Q" || line[0] == '\x1b') return false;
  }
}

bool ConsoleHost::ReadLine(std::string* line) {
  line->clear();
  int c;
  while ((c = std::fgetc(in_)) != EOF) {
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

}  // namespace dravelkent
