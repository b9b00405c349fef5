#include "ui/console_host.h"

#include <unistd.h>

#include "base/text_util.h"

namespace dravelkent {

Terminal TerminalOf(std::FILE* stream) {
  return isatty(fileno(stream)) ? Terminal::kYes : Terminal::kNo;
}

ConsoleHost::ConsoleHost(std::FILE* in, std::FILE* out, std::FILE* err,
                         Terminal in_terminal, Terminal err_terminal)
    : in_(in),
      out_(out),
      err_(err),
      in_terminal_(in_terminal),
      err_terminal_(err_terminal) {}

void ConsoleHost::ShowStatus(const std::string& text) {
  Tell(EscapeForLine(text) + "\n");
}

void ConsoleHost::ShowMessage(const std::string& text) {
  std::fprintf(out_, "%s\n", EscapeForLine(text).c_str());
  std::fflush(out_);
  if (in_terminal_ != Terminal::kYes) return;
  std::string ignored;
  ReadLine(&ignored);
}

void ConsoleHost::WaitForUser(const std::function<void()>& run) {
  while (true) {
    Tell("[Enter] 実行  [q/Esc] 閉じる: ");
    std::string line;
    if (!ReadLine(&line)) {
      Tell("\n");
      return;
    }
    if (line.empty()) {
      run();
      return;
    }
    if (line == "q" || line == "Q" || line[0] == '\x1b') return;
  }
}

void ConsoleHost::Tell(const std::string& text) {
  if (err_terminal_ != Terminal::kYes) return;
  std::fputs(text.c_str(), err_);
  std::fflush(err_);
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
