#include "fsutil/tree_transfer.h"

#include <gtest/gtest.h>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

using enum TransferMode;
using enum DiskCall;

constexpr int64_t kTimeA = 1710000000111111111;
constexpr int64_t kTimeB = 1690000000222222222;

// src/a.txt, src/sub/b.txt, an empty dst, out/x.txt; keeps the failures.
struct Trees : TransferObserver {
  Trees() {
    for (const std::string& name : {src, src + "/sub", dst, out}) {
      mkdir(name.c_str(), 0755);
    }
    WriteFile(src + "/a.txt", "alpha", 0644, kTimeA);
    WriteFile(src + "/sub/b.txt", "beta", 0600, kTimeB);
    WriteFile(out + "/x.txt", "out");
  }
  void OnFile(FileAction, const std::string&, const std::string&) override {}
  void OnFailure(const Status& failure) override {
    failures += failure.message() + "\n";
  }
  std::string Run(TransferMode mode, DiskInterface* disk,
                  long long retention = 0, const std::string& settings = "") {
    TransferTree(disk, src, dst, "20240315", mode, retention, dst, settings,
                 this);
    return failures;
  }

  TempFolder root;
  std::string src = root / "src", dst = root / "dst", out = root / "out";
  std::string failures;
  RealDiskInterface real;
};

// Every file lands under its dated or plain name with its bytes and times,
// links as links, made folders with their source's mode and time; our own
// temporary files and the settings file stay.
TEST(TreeTransferTest, WhatGoesWhereInEveryModeAndRetention) {
  for (const TransferMode mode : {kCopy, kMove}) {
    for (const std::string d : {"", "20240315"}) {
      SCOPED_TRACE(d + (mode == kCopy ? " copy" : " move"));
      Trees t;
      for (const char* name : {".dravelkent-0123456789abcdef.tmp", "jobs.ini",
                               ".jobs.ini.Zx9Yw", "sub/jobs.ini"}) {
        ASSERT_TRUE(WriteFile(t.src + "/" + name, ""));
      }
      ASSERT_EQ(symlink(t.out.c_str(), (t.src + "/link").c_str()), 0);
      ASSERT_TRUE(SetMtime(t.src + "/link", kTimeB));
      ASSERT_EQ(chmod((t.src + "/sub").c_str(), 02750), 0);
      ASSERT_TRUE(SetMtime(t.src + "/sub", kTimeB));
      const std::string source = ListTree(t.src);
      EXPECT_EQ(t.Run(mode, &t.real, d.empty() ? 0 : 7,
                      t.src + "/sub/../jobs.ini"),  // found by identity
                "");

      const std::string to = t.dst + "/" + d, sub = d + "sub/";
      EXPECT_EQ(ListTree(t.dst), d + ".jobs.ini.Zx9Yw " + d + "a.txt " + d +
                                     "link " + sub + " " + sub + d + "b.txt " +
                                     sub + d + "jobs.ini ");
      EXPECT_EQ(ListTree(t.src), mode == kCopy
                                     ? source
                                     : ".dravelkent-0123456789abcdef.tmp "
                                       "jobs.ini sub/ ");
      EXPECT_EQ(ReadFile(to + "a.txt") + ReadFile(to + "sub/" + d + "b.txt"),
                "alphabeta");
      EXPECT_EQ(MtimeOf(to + "a.txt"), kTimeA);
      EXPECT_EQ(std::filesystem::read_symlink(to + "link"), t.out);
      EXPECT_EQ(MtimeOf(to + "link"), kTimeB);
      EXPECT_EQ(std::filesystem::status(to + "sub").permissions(),
                static_cast<std::filesystem::perms>(02750));
      EXPECT_EQ(MtimeOf(to + "sub"), kTimeB);
      EXPECT_EQ(ListTree(t.out), "x.txt ");
    }
  }
}

// Each failure is told and the rest goes on; nothing is lost or replaced; a
// link in either tree, there or swapped in, is never written or read through.
TEST(TreeTransferTest, FailuresAreToldAndTheRestGoesOn) {
  const struct {
    TransferMode mode;
    DiskCall call;
    const char* at;      // fails, or just before it:
    std::string change;  // "theirs": a newer dst/a.txt; else a link to "out"
    const char* named;   // in the one failure; "" for none
    const char* target;
  } cases[] = {
      {kCopy, kCopyFile, "src/a.txt", "", "src/a.txt", "sub/ sub/b.txt "},
      {kCopy, kMakeDir, "dst/sub", "", "dst/sub", "a.txt "},
      {kMove, kOpenDir, "src/sub/", "", "src/sub", "a.txt sub/ "},
      {kMove, kOpenDir, "dst/", "theirs", "src/a.txt", "a.txt sub/ sub/b.txt "},
      {kCopy, kCopyFile, "src/a.txt", "theirs", "", "a.txt sub/ sub/b.txt "},
      {kMove, kOpenDir, "dst/", "dst/sub", "dst/sub", "a.txt sub "},
      {kMove, kOpenDir, "src/sub/", "dst/sub", "", "a.txt sub was/ was/b.txt "},
      {kMove, kMakeDir, "dst/sub", "src/sub", "src/sub", "a.txt sub/ "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.at) + " " + c.change);
    Trees t;
    FaultyDiskInterface disk(&t.real);
    if (c.change.empty()) {
      disk.FailPath(c.call, t.root / c.at);
    } else {
      disk.BeforeCallOn(c.call, t.root / c.at, [&] {
        if (c.change == "theirs") {
          WriteFile(t.dst + "/a.txt", "theirs", 0644, kTimeA + 1);
          return;
        }
        const std::string sub = t.root / c.change;
        rename(sub.c_str(), (sub.substr(0, sub.size() - 3) + "was").c_str());
        symlink(t.out.c_str(), sub.c_str());
      });
    }
    const std::string failures = t.Run(c.mode, &disk);
    EXPECT_EQ(std::count(failures.begin(), failures.end(), '\n'),
              *c.named ? 1 : 0);
    EXPECT_TRUE(!*c.named ||
                failures.find(t.root / c.named) != std::string::npos);
    EXPECT_TRUE(c.change != "dst/sub" || !*c.named ||  // there before
                failures.find("a link is in the way") != std::string::npos);
    EXPECT_EQ(ListTree(t.dst), c.target);
    EXPECT_EQ(ListTree(t.out) + ReadFile(t.out + "/x.txt"), "x.txt out");
    const std::string all = ListTree(t.root.path());  // nothing lost
    EXPECT_NE(all.find("a.txt "), std::string::npos) << all;
    EXPECT_NE(all.find("b.txt "), std::string::npos) << all;
    EXPECT_TRUE(c.change != "theirs" || ReadFile(t.dst + "/a.txt") == "theirs");
  }
}

}  // namespace
}  // namespace dravelkent::testing
