#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace dravelkent {
namespace {

TEST(CommandLineTest, OnlyALoneHelpOrVersionIsAccepted) {
  const struct {
    std::vector<const char*> args;
    CommandLineAction action;
    int status;
  } cases[] = {
      {{"dravelkent"}, CommandLineAction::kRun, 0},
      {{"dravelkent", "--help"}, CommandLineAction::kExit, 0},
      {{"dravelkent", "--version"}, CommandLineAction::kExit, 0},
      {{"dravelkent", "Dravelkent.ini"}, CommandLineAction::kExit, 2},
      {{"dravelkent", "--version", "x"}, CommandLineAction::kExit, 2},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int status = -1;
    EXPECT_EQ(ParseCommandLine(static_cast<int>(c.args.size()), c.args.data(),
                               out, err, &status),
              c.action);
    EXPECT_EQ(status, c.status) << c.args.back();
    // Help and version go to stdout; a bad argument only to stderr.
    EXPECT_EQ(std::ftell(out) > 0, c.args.size() == 2 && c.status == 0);
    EXPECT_EQ(std::ftell(err) > 0, c.status == 2);
    std::fclose(out);
    std::fclose(err);
  }
}

}  // namespace
}  // namespace dravelkent
