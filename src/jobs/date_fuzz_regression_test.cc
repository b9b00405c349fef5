#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "jobs/testing/date_fuzz_checks.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// The seed corpus of the name-date fuzzer and every input it found a fault
// with go through the fuzzer's own checks.
TEST(DateFuzzRegressionTest, SeedsAndFoundInputsPassTheFuzzChecks) {
  int replayed = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    fs::path dir = fs::path(DRAVELKENT_FUZZ_DIR) / folder / "date";
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      EXPECT_EQ(CheckNameDate(bytes.str()), "") << entry.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 10);
}

TEST(DateFuzzChecksTest, CatchesAWrongCalendar) {
  // Days across many leap years, before 1970 and after 2038.
  const char* names[] = {"19000228app.log", "16000229app.log",
                         "20380119app.log", "99991231app.log"};
  for (const char* name : names) {
    for (int days : {-1000000, -1, 0, 1, 366, 9999, 1000000}) {
      std::string input(4, '\0');
      uint32_t raw = static_cast<uint32_t>(days);
      for (int i = 0; i < 4; ++i) input[i] = static_cast<char>(raw >> (8 * i));
      EXPECT_EQ(CheckNameDate(input + name), "") << name << " + " << days;
    }
  }
}

}  // namespace
}  // namespace dravelkent
