// The disk below the tree transfer: name patterns, and what copies and
// moves leave on the real file system, a system call failing anywhere.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "fsutil/disk.h"
#include "fsutil/env_posix.h"
#include "fsutil/name_pattern.h"
#include "fsutil/testing/faulty_env.h"
#include "fsutil/testing/temp_folder.h"
#include "fsutil/tree_transfer.h"

namespace dravelkent::testing {
namespace {

constexpr int64_t kOld = 1600000000123456789;
constexpr int64_t kNew = 1700000000987654321;
constexpr uid_t kNobody = 65534;
using enum TransferMode;

enum class Op { kCopy, kMove, kBatch, kFolder };

// "*" any run, "?" one UTF-8 character (or one byte that starts none), a
// pattern ending in ".*" also names without a dot; case as told.
TEST(NamePatternTest, StarQuestionMarkAndTheStarDotRule) {
  const struct {
    const char *pattern, *name;
    bool sensitive, insensitive;
  } cases[] = {
      {"*.log", "20240101app.log", true, true},
      {"*.log", "a.LOG", false, true},
      {"*.log", "a.log.bak", false, false},
      {"*.*", "20240101a", true, true},
      {"a.*", "a", true, true},
      {"a.*", "ab", false, false},
      {"*.?", "x.cc", false, false},
      {"*.?", "x.\xE3\x83\xAD", true, true},
      {"*.?", "x.\xFF", true, true},
      {"*a*b.c", "xbxa.c", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesNamePattern(c.pattern, c.name, NameCase::kSensitive),
              c.sensitive)
        << c.pattern << " " << c.name;
    EXPECT_EQ(MatchesNamePattern(c.pattern, c.name, NameCase::kInsensitive),
              c.insensitive)
        << c.pattern << " " << c.name;
  }
}

// Runs |op| of dir/src (a file of holes and one byte) into dir/out as "dst"
// (a batch also as "new") on |env|: a move goes across file systems.
std::vector<Status> RunOp(Op op, FaultyEnv* env, const TempFolder& dir) {
  Disk disk(env, RunKind::kReal);
  std::unique_ptr<Folder> from = OpenPath(env, dir.path());
  std::shared_ptr<const Folder> to = OpenPath(env, dir / "out");
  FileInfo entry, there;
  if (!from || !to || !env->Stat(*from, "src", Follow::kNo, &entry).ok() ||
      !env->Stat(*to, "dst", Follow::kNo, &there).ok()) {
    return {Status::Error("cannot set up")};
  }
  if (op == Op::kMove) return {disk.Move(*from, entry, *to, "dst")};
  if (op == Op::kCopy) {
    return {disk.Copy(*from, entry, Follow::kNo, *to, "dst", there,
                      Overwrite::kFile)};
  }
  Disk::Batch batch(&disk);
  batch.Add(*from, entry, to, "dst", there, Overwrite::kOlderFile);
  batch.Add(*from, entry, to, "new", FileInfo(), Overwrite::kNothing);
  return batch.Finish();
}

// Every call of a copy, a batch or a move across file systems failed in
// turn: a failed copy leaves the older copy, a failed move its source and
// no new name, neither a temporary file. What went through is whole:
// holes, time and mode.
TEST(DiskTest, EveryFailedCallLeavesTheOldFilesAndNoTemporary) {
  // Fails the |n|th call of |call| (none for n 0); returns the calls made.
  auto attempt = [](Op op, Call call, int n) {
    SCOPED_TRACE(::testing::Message()
                 << int(op) << " " << int(call) << "/" << n);
    TempFolder dir;
    const std::string src = dir / "src", out = dir / "out/";
    mkdir(out.c_str(), 0755);
    WriteFile(src, "", 0640);  // a copy's all hole, else one byte in holes
    if (op != Op::kCopy) {
      std::ofstream(src, std::ios::in | std::ios::out).seekp(64 << 10) << "x";
    }
    truncate(src.c_str(), 1 << 20);
    SetMtime(src, kNew);
    const std::string data = ReadFile(src);
    if (op != Op::kMove) WriteFile(out + "dst", "old", 0600, kOld);
    FaultyEnv env;
    if (op == Op::kMove) env.FailAt(Call::kRename, 1, EXDEV);
    if (n > 0) env.FailAt(call, n);
    const std::vector<Status> results = RunOp(op, &env, dir);
    std::string left;
    bool failed = false;
    for (size_t i = 0; i < results.size(); ++i) {
      const std::string name = i == 0 ? "dst" : "new", path = out + name;
      struct stat st = {};
      lstat(path.c_str(), &st);
      if (results[i].ok()) {
        EXPECT_TRUE(ReadFile(path) == data && st.st_blocks <= 128);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(MtimeOf(path), kNew);
      } else {
        failed = true;
        if (name == "new" || op == Op::kMove) continue;
        EXPECT_EQ(ReadFile(path), "old");
      }
      left += name + " ";
    }
    EXPECT_EQ(ListTree(out), left);
    EXPECT_EQ(ReadFile(src) == data, op != Op::kMove || failed);
    EXPECT_EQ(failed, n > 0);
    return env;
  };
  for (const Op op : {Op::kCopy, Op::kMove, Op::kBatch}) {
    const FaultyEnv clean = attempt(op, Call::kCount, 0);
    for (int call = 0; call < static_cast<int>(Call::kCount); ++call) {
      for (int n = 1; n <= clean.count(Call(call)); ++n) {
        if (op != Op::kMove || Call(call) != Call::kRename) {
          attempt(op, Call(call), n);
        }
      }
    }
  }
}

// A writer at work while a move copies: the copy would miss what it wrote,
// so the move fails and leaves the source as the writer left it.
TEST(DiskTest, MoveByCopyLeavesASourceChangedMeanwhile) {
  const struct {
    Call before;
    const char *to, *content;  // written to |to|, then renamed to "src"
    int64_t mtime;
  } cases[] = {
      {Call::kFlush, "src", "line 1\nline 2\n", 0},
      {Call::kFlushFolder, "src", "LINE 1\n", kNew},  // the same size
      {Call::kFlushFolder, "new", "new file", kOld},
  };
  for (const auto& c : cases) {
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "src", "line 1\n", 0644, kOld));
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    FaultyEnv env;
    env.FailAt(Call::kRename, 1, EXDEV);
    env.Before(c.before, 1, [&] {
      if (WriteFile(dir / c.to, c.content, 0644, c.mtime)) {
        rename((dir / c.to).c_str(), (dir / "src").c_str());
      }
    });
    EXPECT_FALSE(RunOp(Op::kMove, &env, dir)[0].ok()) << c.to;
    EXPECT_EQ(ReadFile(dir / "src"), c.content);
    EXPECT_EQ(ListTree(dir / "out"), "");
  }
}

// Where renameat2 cannot refuse to replace, link and unlink refuse as well.
TEST(DiskTest, TheRenameFallbackNeverReplaces) {
  TempFolder dir;
  ASSERT_TRUE(WriteFile(dir / "a", "a") && WriteFile(dir / "b", "b"));
  PosixEnv env({.no_replace_rename = false});
  std::unique_ptr<Folder> folder = OpenPath(&env, dir.path());
  EXPECT_EQ(env.Rename(*folder, "a", *folder, "b").error_number(), EEXIST);
  EXPECT_TRUE(env.Rename(*folder, "a", *folder, "c").ok());
  EXPECT_EQ(ReadFile(dir / "b") + ReadFile(dir / "c"), "ba");
  EXPECT_EQ(ListTree(dir.path()), "b c ");
}

// Root's copies and folders keep the source's owner, another user's are its
// own; a set-id bit stays only with the owner or group that set it. No user
// can hold the run lock of another.
TEST(DiskTest, OwnersSetIdBitsAndTheLock) {
  if (geteuid() != 0) {
    ASSERT_EQ(getenv("DRAVELKENT_E2E_STRICT"), nullptr) << "needs root";
    GTEST_SKIP() << "needs root to give files away";
  }
  for (const uid_t runner : {uid_t{0}, kNobody}) {
    for (const Op op : {Op::kCopy, Op::kMove, Op::kFolder}) {
      SCOPED_TRACE(runner * 10 + static_cast<int>(op));
      TempFolder dir;
      const std::string src = dir / "src", dst = dir / "out/dst";
      const uid_t owner = runner == 0 ? kNobody : 0;
      ASSERT_EQ(mkdir((dir / "out").c_str(), 0777), 0);
      ASSERT_EQ(chmod((dir / "out").c_str(), 0777), 0);
      ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
      ASSERT_TRUE(WriteFile(src, "#!/bin/sh\n"));
      ASSERT_EQ(lchown(src.c_str(), owner, owner), 0);
      ASSERT_EQ(chmod(src.c_str(), 06755), 0);
      ASSERT_TRUE(WriteFile(dir / "lock", "", 0600));
      ASSERT_EQ(lchown((dir / "lock").c_str(), owner, owner), 0);
      const pid_t child = fork();
      if (child == 0) {  // |runner| copies, moves, or makes a folder
        const bool switched = setgroups(0, nullptr) == 0 &&
                              setresgid(runner, runner, runner) == 0 &&
                              setresuid(runner, runner, runner) == 0;
        PosixEnv posix;
        FaultyEnv env(&posix);
        env.FailAt(Call::kRename, 1, EXDEV);
        Status s;
        if (op == Op::kFolder) {
          std::unique_ptr<Folder> out = OpenPath(&env, dir / "out"), made;
          FileInfo like;
          s = env.Stat(*OpenPath(&env, dir.path()), "src", Follow::kNo, &like);
          like.mode = 02755;
          if (s.ok()) s = env.MakeFolder(*out, "dst", &like, &made);
          if (s.ok()) s = env.FinishFolder(*made, like);
        } else {
          s = RunOp(op, &env, dir)[0];
        }
        std::unique_ptr<FileLock> lock;
        const bool refused = !env.LockFile(
                                     dir / "lock", SaveStep::kAll, [] {}, &lock)
                                  .ok();
        _exit(switched && s.ok() && refused ? 0 : 1);
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
  void OnFile(FileAction, const std::string&, const Folder&, const std::string&,
              const Status& result) override {
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

// A made folder gets its source's bits at once and its time once its
// contents are in; a protected file stays, judged by identity.
TEST(TreeTransferTest, MadeFoldersTakeTheirSourcesBitsAndTime) {
  for (const TransferMode mode : {kCopy, kMove}) {
    Trees t;
    ASSERT_TRUE(WriteFile(t.src + "/sub/jobs.ini", ""));
    ASSERT_EQ(chmod((t.src + "/sub").c_str(), 02750), 0);
    ASSERT_TRUE(SetMtime(t.src + "/sub", kTimeB));
    EXPECT_EQ(t.Run(mode, Env::Default(), 7, "sub/jobs.ini"), "");
    const std::string sub = t.dst + "/20240315sub";
    EXPECT_EQ(ListTree(t.dst),
              "20240315a.txt 20240315sub/ 20240315sub/20240315b.txt ");
    EXPECT_EQ(ReadFile(t.src + "/sub/jobs.ini"), "");
    EXPECT_EQ(std::filesystem::status(sub).permissions(),
              static_cast<std::filesystem::perms>(02750));
    EXPECT_EQ(MtimeOf(sub), kTimeB);
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
              *c.named ? 1 : 0)
        << failures;
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
