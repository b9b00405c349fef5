#include "ui/console.h"

#include "base/system.h"
#include "base/text_util.h"

namespace dravelkent {

Terminal TerminalOf(std::FILE* stream) {
  return IsTerminal(stream) ? Terminal::kYes : Terminal::kNo;
}

void Console::ShowStatus(const std::string& text) {
  Tell(EscapeForLine(text) + "\n");
}

void Console::ShowMessage(const std::string& text) {
  std::fprintf(out_, "%s\n", EscapeForLine(text).c_str());
  std::fflush(out_);
  std::string ignored;
  if (in_terminal_ == Terminal::kYes) ReadLine(&ignored);
}

void Console::WaitForUser(const std::function<void()>& run) {
  while (true) {
    Tell("[Enter] 実行  [q/Esc] 閉じる: ");
    std::string line;
    if (!ReadLine(&line)) return Tell("\n");
    if (line.empty()) return run();
    if (line == "q" || line == "Q" || line[0] == '\x1b') return;
  }
}

void Console::Tell(const std::string& text) {
  if (err_terminal_ != Terminal::kYes) return;
  std::fputs(text.c_str(), err_);
  std::fflush(err_);
}

bool Console::ReadLine(std::string* line) {
  line->clear();
  for (int c; (c = std::fgetc(in_)) != EOF;) {
    if (c == '\n') {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

}  // namespace dravelkent
