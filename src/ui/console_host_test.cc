#include "ui/console_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace dravelkent {
namespace {

TEST(ConsoleHostTest, StatusOnlyOnATerminalMessagesAlwaysOnlyEnterRuns) {
  const std::string kShown = "a\\nb\\x1B[2J を移動中\n";
  const struct {
    bool message;
    Terminal out;
    std::string printed;
  } cases[] = {
      {false, Terminal::kNo, ""},  // a quiet cron run
      {false, Terminal::kYes, kShown},
      {true, Terminal::kNo, kShown},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    ConsoleHost host(stdin, out, Terminal::kNo, c.out);
    const std::string text = "a\nb\x1b[2J を移動中";
    c.message ? host.ShowMessage(text) : host.ShowStatus(text);
    std::string printed(64, '\0');
    std::rewind(out);
    printed.resize(std::fread(printed.data(), 1, printed.size(), out));
    EXPECT_EQ(printed, c.printed) << c.message;
    std::fclose(out);
  }
  // The end of the input closes, as "q" and Escape do.
  std::FILE* prompts = std::tmpfile();
  for (const char* input : {"x\n\n", "q\n", "\x1b\n", ""}) {
    std::FILE* in = std::tmpfile();
    std::fputs(input, in);
    std::rewind(in);
    EXPECT_EQ(
        ConsoleHost(in, prompts, Terminal::kNo, Terminal::kNo).AskToRun(""),
        input[0] == 'x');
    std::fclose(in);
  }
  std::fclose(prompts);
}

}  // namespace
}  // namespace dravelkent
