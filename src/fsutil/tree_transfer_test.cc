#include "fsutil/tree_transfer.h"

#include <gtest/gtest.h>

#include "fsutil/testing/faulty_env.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

using enum TransferMode;

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
  void OnFile(FileAction, const std::string&, const Folder&,
              const std::string&, const Status& result) override {
    if (!result.ok()) OnFailure(result);
  }
  void OnFolderMade(const Folder&) override {}
  void OnFailure(const Status& failure) override {
    failures += failure.message() + "\n";
  }
  std::string Run(TransferMode mode, Env* env, int retention = 0,
                  const std::string& protect = "") {
    Disk disk(env, RunKind::kReal);
    FileInfo info;
    Env* real = Env::Default();  // the folders opened uncounted
    if (!protect.empty() &&
        real->Stat(*OpenPath(real, src), protect, Follow::kNo, &info).ok()) {
      disk.Protect(info.id);
    }
    TransferTree(&disk, *OpenPath(real, src), *OpenPath(real, dst), "20240315",
                 mode, retention, this);
    return failures;
  }

  TempFolder root;
  std::string src = root / "src", dst = root / "dst", out = root / "out";
  std::string failures;
};

// Every file lands under its dated or plain name with its bytes and times,
// links as links, made folders with their source's mode and time; our own
// temporary files and a protected file stay.
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
      EXPECT_EQ(t.Run(mode, Env::Default(), d.empty() ? 0 : 7, "jobs.ini"),
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
    Call call;
    std::string change;  // "": the call fails; "theirs": a newer dst/a.txt
                         // appears before it; else a link to "out" replaces
    const char* named;   // in the one failure; "" for none
    const char* target;
  } cases[] = {
      {kCopy, Call::kOpenForCopy, "", "src/a.txt", "sub/ sub/b.txt "},
      {kCopy, Call::kMakeFolder, "", "dst/sub", "a.txt "},
      {kMove, Call::kRename, "theirs", "src/a.txt", "a.txt sub/ sub/b.txt "},
      {kCopy, Call::kPublish, "theirs", "", "a.txt sub/ sub/b.txt "},
      {kMove, Call::kMakeFolder, "dst/sub", "dst/sub", "a.txt sub "},
      {kMove, Call::kOpenFolder, "src/sub", "src/sub", "a.txt "},
      {kMove, Call::kMakeFolder, "src/sub", "", "a.txt sub/ sub/b.txt "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.call)) + " " + c.change);
    Trees t;
    FaultyEnv env;
    if (c.change.empty()) {
      env.FailAt(c.call, 1);
    } else {
      env.Before(c.call, 1, [&] {
        if (c.change == "theirs") {
          WriteFile(t.dst + "/a.txt", "theirs", 0644, kTimeA + 1);
          return;
        }
        const std::string sub = t.root / c.change;
        rename(sub.c_str(), (sub.substr(0, sub.size() - 3) + "was").c_str());
        symlink(t.out.c_str(), sub.c_str());
      });
    }
    const std::string failures = t.Run(c.mode, &env);
    EXPECT_EQ(std::count(failures.begin(), failures.end(), '\n'),
              *c.named ? 1 : 0) << failures;
    EXPECT_TRUE(!*c.named ||
                failures.find(t.root / c.named) != std::string::npos);
    EXPECT_TRUE(c.change != "dst/sub" ||
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
