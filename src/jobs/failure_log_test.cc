#include "jobs/failure_log.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace dravelkent {
namespace {

TEST(StreamFailureLogTest, WritesEachMessageOnceAndCountsEveryReport) {
  std::FILE* stream = std::tmpfile();
  StreamFailureLog log(stream);
  log.Report(Status::Error("cannot read a: Is a directory"));
  log.Report(Status::Error("cannot read a: Is a directory"));
  log.Report(Status::Error("cannot move b: File exists"));
  log.Report(Status::Error("cannot move c\nd: File exists"));
  EXPECT_EQ(log.count(), 4);
  std::rewind(stream);
  char text[256] = {};
  size_t length = std::fread(text, 1, sizeof text - 1, stream);
  EXPECT_EQ(std::string(text, length),
            "dravelkent: cannot read a: Is a directory\n"
            "dravelkent: cannot move b: File exists\n"
            "dravelkent: cannot move c\\nd: File exists\n");
  std::fclose(stream);
}

}  // namespace
}  // namespace dravelkent
