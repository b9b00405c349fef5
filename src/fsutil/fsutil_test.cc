// The file layer below the tree transfer: name patterns, which file is
// newer, and what copies and moves leave on the real file system.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "fsutil/name_pattern.h"
#include "fsutil/newer_file.h"
#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent::testing {
namespace {

using enum UnnamedTempFiles;

constexpr int64_t kOld = 1600000000123456789;
constexpr int64_t kNew = 1700000000987654321;
constexpr uid_t kNobody = 65534;
constexpr auto kByCopy = RealDiskOptions::CrossDeviceMove::kAlways;

enum class Op { kCopy, kMove, kBatch, kFolder };

// "*" any run, "?" one UTF-8 character (or one byte that starts none), a
// pattern ending in ".*" also names without a dot, case-sensitive.
TEST(NamePatternTest, StarQuestionMarkAndTheStarDotRule) {
  const struct {
    const char *pattern, *name;
    bool matches;
  } cases[] = {
      // clang-format off
      {"*.log", "20240101app.log", true}, {"*.log", "a.LOG", false},
      {"*.log", "a.log.bak", false},      {"*.*", "20240101a", true},
      {"a.*", "a", true},                 {"a.*", "ab", false},
      {"*.?", "x.cc", false},             {"*.?", "x.\xE3\x83\xAD", true},
      {"*.?", "x.\xFF", true},            {"*a*b.c", "xbxa.c", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesNamePattern(c.pattern, c.name), c.matches)
        << c.pattern << " " << c.name;
  }
}

// Equal to the nanosecond is not newer; a missing entry makes a copy.
TEST(IsSourceNewerTest, ComparesTimesToTheNanosecond) {
  const struct {
    bool source, destination;
    int64_t delta;
    Newer expected;
  } cases[] = {
      {true, false, 0, Newer::kCopy},        {false, true, 0, Newer::kCopy},
      {true, true, 0, Newer::kSame},         {true, true, 1, Newer::kCopy},
      {true, true, -1, Newer::kCopyIsNewer},
  };
  RealDiskInterface disk;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + std::to_string(c.delta));
    TempFolder dir;
    ASSERT_TRUE(!c.source || WriteFile(dir / "src", "", 0644, kOld + c.delta));
    ASSERT_TRUE(!c.destination || WriteFile(dir / "dst", "", 0644, kOld));
    EXPECT_EQ(IsSourceNewer(&disk, dir / "src", dir / "dst"), c.expected);
  }
}

// Each step failed in turn: a failed copy leaves the older copy, a failed
// move its source and no new name, neither a temporary. What went through
// is whole, holes, time and mode, and flushed before it took its name.
TEST(RealDiskTest, FailedStepLeavesTheOldFilesAndNoTemporary) {
  for (const Op op : {Op::kCopy, Op::kMove, Op::kBatch}) {
    for (const UnnamedTempFiles unnamed : {kWhereSupported, kNever}) {
      for (size_t step = 0;; ++step) {
        SCOPED_TRACE(::testing::Message()
                     << "op " << static_cast<int>(op) << "/"
                     << static_cast<int>(unnamed) << " step " << step);
        TempFolder dir;
        const std::string src = dir / "src", out = dir / "out/";
        ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(src, "", 0640));  // 64 KiB hole, 1 byte, hole
        std::ofstream(src, std::ios::in | std::ios::out).seekp(64 << 10) << "x";
        ASSERT_EQ(truncate(src.c_str(), 256 << 10), 0);
        ASSERT_TRUE(SetMtime(src, kNew));
        const std::string data = ReadFile(src);
        ASSERT_TRUE(op == Op::kMove ||
                    WriteFile(out + "dst", "old", 0600, kOld));
        RealDiskWithStepFaults disk(
            {.unnamed_temp_files = unnamed, .cross_device_move = kByCopy});
        disk.FailStepAt(step);
        const std::vector<DiskStep>& seen = disk.steps();
        std::vector<Status> results;
        if (op == Op::kBatch) {
          Status opened;
          const auto from = disk.OpenFolder(dir.path(), &opened);
          const auto to = disk.OpenFolder(out, &opened);
          std::unique_ptr<CopyBatch> batch = disk.StartCopyBatch();
          for (const char* name : {"dst", "new"}) {
            batch->AddAt(*from, "src", *to, name, Overwrite::kAnything);
          }
          results = batch->Finish();
        } else {
          results = {op == Op::kMove ? disk.MoveFile(src, out + "dst")
                                     : disk.CopyFile(src, out + "dst")};
        }

        std::string left;  // what "out" must hold
        bool failed = false;
        for (size_t i = 0; i < results.size(); ++i) {
          const std::string name = i == 0 ? "dst" : "new", path = out + name;
          struct stat st = {};
          lstat(path.c_str(), &st);
          if (results[i].ok()) {
            EXPECT_TRUE(ReadFile(path) == data && st.st_blocks < 100);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            EXPECT_EQ(MtimeOf(path), kNew);
          } else {
            failed = true;
            if (name == "new" || op == Op::kMove) continue;
            EXPECT_EQ(ReadFile(path), "old");
            EXPECT_EQ(MtimeOf(path), kOld);
          }
          left += name + " ";
        }
        EXPECT_EQ(ListTree(out), left);
        EXPECT_EQ(MtimeOf(src) == kNew, op != Op::kMove || failed);
        EXPECT_EQ(failed, seen.size() > step);
        if (failed) continue;
        auto named = std::find_if(seen.begin(), seen.end(), [](DiskStep s) {
          return s == DiskStep::kPublish || s == DiskStep::kReplaceDestination;
        });
        EXPECT_NE(std::find(seen.begin(), named, DiskStep::kFlushTemp), named);
        ASSERT_TRUE(WriteFile(dir / "again", "again"));
        const size_t taken = seen.size();
        EXPECT_EQ(disk.MoveFile(dir / "again", out + "dst").error_number(),
                  EEXIST);
        EXPECT_EQ(seen.size(), taken);  // refused before any data is copied
        break;
      }
    }
  }
}

// A writer at work while a move copies: the copy would miss what it wrote,
// so the move fails and leaves the source as the writer left it.
TEST(RealDiskTest, MoveByCopyLeavesASourceChangedMeanwhile) {
  const struct {
    DiskStep step;
    const char *to, *content;  // written to |to|, then renamed to "src"
    int64_t mtime;
  } cases[] = {
      {DiskStep::kFlushTemp, "src", "line 1\nline 2\n", 0},
      {DiskStep::kPublish, "src", "LINE 1\n", kNew},  // the same size
      {DiskStep::kPublish, "new", "new file", kOld},
  };
  for (const auto& c : cases) {
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "src", "line 1\n", 0644, kOld));
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    RealDiskWithStepFaults disk({.cross_device_move = kByCopy});
    disk.BeforeStep(c.step, [&] {
      if (WriteFile(dir / c.to, c.content, 0644, c.mtime)) {
        rename((dir / c.to).c_str(), (dir / "src").c_str());
      }
    });
    EXPECT_FALSE(disk.MoveFile(dir / "src", dir / "out/dst").ok()) << c.to;
    EXPECT_EQ(ReadFile(dir / "src"), c.content);
    EXPECT_EQ(ListTree(dir / "out"), "");
  }
}

// Root's copies and folders keep the source's owner, another user's are its
// own; a set-id bit stays only with the owner or group that set it.
TEST(RealDiskTest, SetIdBitsStayOnlyWithTheirOwner) {
  if (geteuid() != 0) {
    ASSERT_EQ(getenv("DRAVELKENT_E2E_STRICT"), nullptr) << "needs root";
    GTEST_SKIP() << "needs root to give files away";
  }
  for (const uid_t runner : {uid_t{0}, kNobody}) {
    for (const Op op : {Op::kCopy, Op::kMove, Op::kFolder}) {
      SCOPED_TRACE(runner * 10 + static_cast<int>(op));
      TempFolder dir;
      const std::string src = dir / "src", dst = dir / "dst";
      const uid_t owner = runner == 0 ? kNobody : 0;
      ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
      ASSERT_TRUE(WriteFile(src, "#!/bin/sh\n"));
      ASSERT_EQ(lchown(src.c_str(), owner, owner), 0);
      ASSERT_EQ(chmod(src.c_str(), 06755), 0);
      const pid_t child = fork();
      if (child == 0) {  // |runner| copies, moves, or makes a folder
        const bool switched = setgroups(0, nullptr) == 0 &&
                              setresgid(runner, runner, runner) == 0 &&
                              setresuid(runner, runner, runner) == 0;
        RealDiskInterface disk({.cross_device_move = kByCopy});
        Status s;
        std::unique_ptr<FolderHandle> in = disk.OpenFolder(dir.path(), &s);
        if (op == Op::kFolder) s = disk.MakeSubFolder(*in, "dst");
        s = !s.ok()           ? s
            : op == Op::kCopy ? disk.CopyFile(src, dst)
            : op == Op::kMove
                ? disk.MoveFile(src, dst)
                : disk.SetFolderAttributes(*disk.OpenSubFolder(*in, "dst", &s),
                                           {0, 0, 02755, owner, owner, 0});
        _exit(switched && s.ok() ? 0 : 1);
      }
      int status = -1;
      ASSERT_TRUE(waitpid(child, &status, 0) == child && status == 0);
      struct stat st;
      ASSERT_EQ(lstat(dst.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, kNobody);
      EXPECT_EQ(st.st_gid, kNobody);
      const unsigned kept = runner != 0 ? 0 : op == Op::kFolder ? 02000 : 06000;
      EXPECT_EQ(st.st_mode & 07777, 0755 | kept);
    }
  }
}

}  // namespace
}  // namespace dravelkent::testing
