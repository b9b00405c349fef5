#include "ui/console_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

namespace dravelkent {
namespace {

TEST(ConsoleHostTest, StatusOnlyOnATerminalMessagesAlwaysEscaped) {
  const std::tuple<bool, Terminal, std::string> cases[] = {
      {false, Terminal::kNo, ""},  // a quiet cron run
      {false, Terminal::kYes, "a\\nb\\x1B[2J を移動中\n"},
      {true, Terminal::kNo, "a\\nb\\x1B[2J を移動中\n"},
  };
  for (const auto& [message, out_terminal, shown] : cases) {
    char* printed = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&printed, &size);
    ConsoleHost host(stdin, out, Terminal::kNo, out_terminal);
    const std::string text = "a\nb\x1b[2J を移動中";
    message ? host.ShowMessage(text) : host.ShowStatus(text);
    std::fclose(out);
    EXPECT_EQ(std::string(printed, size), shown) << message;
    std::free(printed);
  }
}

}  // namespace
}  // namespace dravelkent
