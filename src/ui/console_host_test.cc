#include "ui/console_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace dravelkent {
namespace {

// An input stream holding |text| and an output stream to read back.
class Streams {
 public:
  explicit Streams(const std::string& input) {
    in_ = std::tmpfile();
    std::fputs(input.c_str(), in_);
    std::rewind(in_);
    out_ = std::tmpfile();
  }
  ~Streams() {
    std::fclose(in_);
    std::fclose(out_);
  }
  std::FILE* in() { return in_; }
  std::FILE* out() { return out_; }
  std::string Output() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    int c;
    while ((c = std::fgetc(out_)) != EOF) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  std::FILE* in_;
  std::FILE* out_;
};

TEST(ConsoleHostTest, AskToRunFollowsTheButtons) {
  struct Case {
    const char* input;
    bool runs;
  } cases[] = {
      {"\n", true},        {"\r\n", true},  {"q\n", false},
      {"Q\n", false},      {"\x1b\n", false}, {"", false},
      {"x\n\n", true},     {"x\n", false},  {"q", false},
  };
  for (const Case& c : cases) {
    Streams streams(c.input);
    ConsoleHost host(streams.in(), streams.out(), Terminal::kNo, Terminal::kNo);
    EXPECT_EQ(host.AskToRun("start"), c.runs) << "input: " << c.input;
    EXPECT_EQ(streams.Output().rfind("start\n", 0), 0u);
  }
}

TEST(ConsoleHostTest, StatusReachesOnlyATerminal) {
  Streams quiet("");
  ConsoleHost cron(quiet.in(), quiet.out(), Terminal::kNo, Terminal::kNo);
  cron.ShowStatus("working");
  EXPECT_EQ(quiet.Output(), "");

  Streams shown("");
  ConsoleHost person(shown.in(), shown.out(), Terminal::kNo, Terminal::kYes);
  person.ShowStatus("working");
  person.ShowStatus("a\nb\x1b[2J.txt を移動中");
  EXPECT_EQ(shown.Output(), "working\na\\nb\\x1B[2J.txt を移動中\n");
}

TEST(ConsoleHostTest, MessagesAreAlwaysPrintedAndWaitOnlyOnATerminal) {
  Streams streams("\nleft\n");
  ConsoleHost host(streams.in(), streams.out(), Terminal::kYes, Terminal::kNo);
  host.ShowMessage("完了しました。");
  EXPECT_EQ(streams.Output(), "完了しました。\n");
  // The Enter was consumed; the next line is still there.
  EXPECT_EQ(std::fgetc(streams.in()), 'l');

  Streams unattended("left\n");
  ConsoleHost cron(unattended.in(), unattended.out(), Terminal::kNo,
                   Terminal::kNo);
  cron.ShowMessage("完了しました。");
  EXPECT_EQ(std::fgetc(unattended.in()), 'l');
}

}  // namespace
}  // namespace dravelkent
