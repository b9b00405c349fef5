#include "ui/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace dravelkent {
namespace {

// Status texts and the prompt go only to a terminal on stderr, so that
// stdout holds nothing but what a reader of the action lines wants.
TEST(ConsoleTest, StatusAndPromptOnlyOnATerminalMessagesOnStdout) {
  const std::string kShown = "a\\nb\\x1B[2J を移動中\n";
  const std::string kPrompt = "[Enter] 実行  [q/Esc] 閉じる: ";
  const struct {
    std::string calls;  // s: a status text, m: a message, w: the wait
    Terminal err_terminal;
    std::string input, out, err;  // the run writes "run" on out
  } cases[] = {{"sw", Terminal::kNo, "\n", "run", ""},  // a quiet run
               {"sw", Terminal::kYes, "\n", "run", kShown + kPrompt},
               {"m", Terminal::kNo, "", kShown, ""},
               {"sw", Terminal::kNo, "x\nQ\n", "", ""},
               {"w", Terminal::kYes, "\x1b\n", "", kPrompt},
               {"w", Terminal::kYes, "q\n", "", kPrompt},
               {"w", Terminal::kYes, "x\n", "", kPrompt + kPrompt + "\n"}};
  for (const auto& c : cases) {
    std::FILE* in = std::tmpfile();
    std::fputs(c.input.c_str(), in);
    std::rewind(in);
    char *out_text = nullptr, *err_text = nullptr;
    size_t out_size = 0, err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    Console console(in, out, err, Terminal::kNo, c.err_terminal);
    for (char call : c.calls) {
      if (call == 's') console.ShowStatus("a\nb\x1b[2J を移動中");
      if (call == 'm') console.ShowMessage("a\nb\x1b[2J を移動中");
      if (call == 'w') console.WaitForUser([&] { std::fputs("run", out); });
    }
    for (std::FILE* file : {in, out, err}) std::fclose(file);
    EXPECT_EQ(std::string(out_text, out_size), c.out) << c.calls << c.input;
    EXPECT_EQ(std::string(err_text, err_size), c.err) << c.calls << c.input;
    std::free(out_text);
    std::free(err_text);
  }
}

}  // namespace
}  // namespace dravelkent
