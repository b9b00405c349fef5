#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/testing/ini_fuzz_checks.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

// Every file in fuzz/<folder>/settings, sorted; hidden files are left out.
std::vector<fs::path> InputsIn(const std::string& folder) {
  std::vector<fs::path> files;
  fs::path dir = fs::path(DRAVELKENT_FUZZ_DIR) / folder / "settings";
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() &&
        entry.path().filename().string().front() != '.') {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The inputs the settings fuzzer found faults with, and its seed corpus of
// real settings files, go through the fuzzer's own checks.
TEST(IniTextFuzzRegressionTest, FoundInputsAndSeedsPassTheFuzzChecks) {
  const char* folders[] = {"regressions", "corpus"};
  for (const char* folder : folders) {
    std::vector<fs::path> files = InputsIn(folder);
    EXPECT_FALSE(files.empty()) << folder;
    for (const fs::path& file : files) {
      EXPECT_EQ(CheckSettingsFile(ReadBytes(file)), "") << file;
    }
  }
}

}  // namespace
}  // namespace dravelkent
