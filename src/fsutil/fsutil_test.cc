// Name patterns; what copies, moves and tree transfers leave on disk.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "fsutil/disk.h"
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

// "?" is one UTF-8 character; "x.*" also names "x"; case as told.
TEST(NamePatternTest, StarQuestionMarkAndTheStarDotRule) {
  // Pattern, name, whether they match with case and without.
  const char* const cases[][3] = {
      {"*.log", "20240101app.log", "yy"}, {"*.log", "a.LOG", "ny"},
      {"*.?", "x.\xE3\x83\xAD", "yy"},    {"*.?", "x.\xFF", "yy"},
      {"*.log", "a.log.bak", "nn"},       {"*.?", "x.cc", "nn"},
      {"*a*b.c", "xbxa.c", "nn"},         {"a.*", "ab", "nn"},
      {"*.*", "20240101a", "yy"},         {"a.*", "a", "yy"}};
  for (const auto& [pattern, name, expected] : cases) {
    const std::string got = {
        "ny"[MatchesNamePattern(pattern, name, NameCase::kSensitive)],
        "ny"[MatchesNamePattern(pattern, name, NameCase::kInsensitive)]};
    EXPECT_EQ(got, expected) << pattern << " " << name;
  }
}

// Runs |op| of dir/src into dir/out as "dst" (a batch also as "new"; a
// folder is made like src, 02755) on |env|: a move goes across file systems.
std::vector<Status> RunOp(Op op, FaultyEnv* env, const TempFolder& dir) {
  Disk disk(env, RunKind::kReal);
  std::unique_ptr<Folder> from = OpenPath(env, dir.path()), made;
  std::shared_ptr<const Folder> to = OpenPath(env, dir / "out");
  FileInfo entry, there;
  if (!from || !to || !env->Stat(*from, "src", Follow::kNo, &entry).ok() ||
      !env->Stat(*to, "dst", Follow::kNo, &there).ok()) {
    return {Status::Error("cannot set up")};
  }
  if (op == Op::kMove) {
    env->FailAt(Call::kRename, 1, EXDEV);
    return {disk.Move(*from, entry, *to, "dst")};
  }
  if (op == Op::kCopy) {
    return {disk.Copy(*from, entry, Follow::kNo, *to, "dst", there,
                      Overwrite::kFile)};
  }
  if (op == Op::kFolder) {
    entry.mode = 02755;
    Status s = env->MakeFolder(*to, "dst", &entry, &made);
    return {s.ok() ? env->FinishFolder(*made, entry) : s};
  }
  Disk::Batch batch(&disk);
  batch.Add(*from, entry, to, "dst", there, Overwrite::kOlderFile);
  batch.Add(*from, entry, to, "new", FileInfo(), Overwrite::kNothing);
  return batch.Finish();
}

// Each call of a copy, batch or move across file systems failing in turn
// leaves the old files and no temporary; what went through is whole.
TEST(DiskTest, EveryFailedCallLeavesTheOldFilesAndNoTemporary) {
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
    if (n > 0) env.FailAt(call, n);
    const std::vector<Status> results = RunOp(op, &env, dir);
    std::string left;
    bool failed = false;
    for (size_t i = 0; i < results.size(); ++i) {
      const std::string name = i == 0 ? "dst" : "new", path = out + name;
      struct stat st = {};
      lstat(path.c_str(), &st);
      failed = failed || !results[i].ok();
      if (results[i].ok()) {
        EXPECT_TRUE(ReadFile(path) == data && st.st_blocks <= 128 &&
                    (st.st_mode & 07777) == 0640 &&
                    st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec ==
                        kNew);
      } else if (name == "new" || op == Op::kMove) {
        continue;
      } else {
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

// A source written to while a move copies it stays; a name taken is
// refused before any data is copied.
TEST(DiskTest, MoveByCopyLeavesASourceChangedMeanwhile) {
  const struct {
    Call before;
    const char *to, *content;  // written to |to|; "new" then renamed to src
    int64_t mtime;
    const char* after;  // src and the names in out
  } cases[] = {
      {Call::kFlush, "src", "line 1\nline 2\n", 0, "line 1\nline 2\n"},
      {Call::kFlushFolder, "src", "LINE 1\n", kNew, "LINE 1\n"},  // same size
      {Call::kFlushFolder, "new", "new file", kOld, "new file"},
      {Call::kStat, "out/dst", "y", 0, "line 1\ndst "}};
  for (const auto& c : cases) {
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "src", "line 1\n", 0644, kOld));
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    FaultyEnv env;
    env.Before(c.before, 1, [&] {
      WriteFile(dir / c.to, c.content, 0644, c.mtime);
      rename((dir / "new").c_str(), (dir / "src").c_str());
    });
    EXPECT_FALSE(RunOp(Op::kMove, &env, dir)[0].ok()) << c.to;
    EXPECT_EQ(ReadFile(dir / "src") + ListTree(dir / "out"), c.after);
    EXPECT_TRUE(c.before != Call::kStat || env.count(Call::kCopyData) == 0);
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
  EXPECT_EQ(ListTree(dir.path()) + ReadFile(dir / "b") + ReadFile(dir / "c"),
            "b c ba");
}

// Root's copies keep the owner, a user's are its own; a set-id bit stays
// only with the owner or group that set it. No user takes another's lock.
TEST(DiskTest, OwnersSetIdBitsAndTheLock) {
  if (geteuid() != 0) {
    ASSERT_EQ(getenv("DRAVELKENT_E2E_STRICT"), nullptr) << "needs root";
    GTEST_SKIP() << "needs root to give files away";
  }
  for (const uid_t runner : {uid_t{0}, kNobody}) {
    for (const Op op : {Op::kCopy, Op::kMove, Op::kFolder}) {
      SCOPED_TRACE(runner * 10 + static_cast<int>(op));
      TempFolder dir;
      const uid_t owner = runner == 0 ? kNobody : 0;
      for (const std::string& name : {dir.path(), dir / "out"}) {
        mkdir(name.c_str(), 0777);
        ASSERT_EQ(chmod(name.c_str(), 0777), 0);  // past the umask
      }
      for (const std::string& name : {dir / "src", dir / "lock"}) {
        ASSERT_TRUE(WriteFile(name, "#!/bin/sh\n", 0600));
        ASSERT_EQ(lchown(name.c_str(), owner, owner), 0);
      }
      ASSERT_EQ(chmod((dir / "src").c_str(), 06755), 0);
      const pid_t child = fork();
      if (child == 0) {  // |runner| copies, moves, or makes a folder
        const bool switched = setgroups(0, nullptr) == 0 &&
                              setresgid(runner, runner, runner) == 0 &&
                              setresuid(runner, runner, runner) == 0;
        FaultyEnv env;  // made as |runner|
        std::unique_ptr<FileLock> lock;
        const Status locked = env.LockFile(
            dir / "lock", SaveStep::kAll, [] {}, &lock);
        _exit(switched && !locked.ok() && RunOp(op, &env, dir)[0].ok() ? 0 : 1);
      }
      int status = -1;
      ASSERT_TRUE(waitpid(child, &status, 0) == child && status == 0);
      struct stat st;
      ASSERT_EQ(lstat((dir / "out/dst").c_str(), &st), 0);
      EXPECT_TRUE(st.st_uid == kNobody && st.st_gid == kNobody);
      const unsigned kept = runner != 0 ? 0 : op == Op::kFolder ? 02000 : 06000;
      EXPECT_EQ(st.st_mode & 07777, 0755 | kept);
    }
  }
}

// Keeps what a tree transfer tells of failures, one a line.
struct Failures : TransferObserver {
  void OnFile(FileAction, const std::string&, const Folder&, const std::string&,
              const Status& result) override {
    if (!result.ok()) OnFailure(result);
  }
  void OnFolderMade(const Folder&) override {}
  void OnFailure(const Status& failure) override {
    said += failure.message() + "\n";
  }
  std::string said;
};

// src/{a.txt,sub/b.txt,sub/jobs.ini (protected)} into dst: each failure
// told, the rest goes on, nothing lost or replaced, no link followed; a
// made folder gets its source's mode and time.
TEST(TreeTransferTest, FailuresAreToldAndTheRestGoesOn) {
  constexpr int64_t kTimeA = 1710000000111111111;
  const struct {
    TransferMode mode;
    Call call;
    std::string change;  // "": the call fails; "theirs": a newer dst/a.txt
                         // appears before it (over an older one: "old+");
                         // else a link to "out" replaces
    const char* named;   // in the one failure; "" for none
    const char* target;
  } cases[] = {
      {kCopy, Call::kOpenForCopy, "", "src/a.txt", "sub/ sub/b.txt "},
      {kCopy, Call::kMakeFolder, "", "dst/sub", "a.txt "},
      {kMove, Call::kRename, "theirs", "src/a.txt", "a.txt sub/ sub/b.txt "},
      {kCopy, Call::kPublish, "theirs", "", "a.txt sub/ sub/b.txt "},
      {kCopy, Call::kFlush, "old+theirs", "", "a.txt sub/ sub/b.txt "},
      {kMove, Call::kMakeFolder, "dst/sub", "dst/sub: a link is in the way",
       "a.txt sub "},
      {kMove, Call::kOpenFolder, "src/sub", "src/sub", "a.txt "},
      {kMove, Call::kMakeFolder, "src/sub", "", "a.txt sub/ sub/b.txt "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.call)) + " " + c.change);
    TempFolder root;
    const std::string src = root / "src", dst = root / "dst",
                      out = root / "out";
    WriteFiles(root.path(),
               {"src/a.txt", "src/sub/b.txt", "src/sub/jobs.ini", "out/x.txt"});
    mkdir(dst.c_str(), 0755);
    SetMtime(src + "/a.txt", kTimeA);
    if (c.change.starts_with("old")) {
      WriteFile(dst + "/a.txt", "old", 0644, kTimeA - 1);
    }
    chmod((src + "/sub").c_str(), 02750);
    SetMtime(src + "/sub", kOld);  // after the files it holds
    FaultyEnv env;
    Disk disk(&env, RunKind::kReal);
    std::unique_ptr<Folder> from = OpenPath(&env, src),
                            to = OpenPath(&env, dst);
    struct stat st;
    ASSERT_EQ(lstat((src + "/sub/jobs.ini").c_str(), &st), 0);
    disk.Protect({st.st_dev, st.st_ino});
    if (c.change.empty()) {
      env.FailAt(c.call, 1);
    } else {
      env.Before(c.call, 1, [&] {
        if (c.change.ends_with("theirs")) {
          WriteFile(dst + "/a.txt", "theirs", 0644, kTimeA + 1);
          return;
        }
        const std::string sub = root / c.change;
        rename(sub.c_str(), (sub.substr(0, sub.size() - 3) + "was").c_str());
        symlink(out.c_str(), sub.c_str());
      });
    }
    Failures failures;
    TransferTree(&disk, *from, *to, "20240315", c.mode, 0, &failures);
    const std::string& said = failures.said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), *c.named ? 1 : 0)
        << said;
    EXPECT_TRUE(!*c.named || said.find(root / c.named) != std::string::npos);
    EXPECT_EQ(ListTree(dst), c.target);
    EXPECT_EQ(ListTree(out, true), "x.txt=out/x.txt ");
    const std::string all = ListTree(root.path());  // nothing lost
    for (const char* name : {"a.txt ", "b.txt ", "jobs.ini "}) {
      EXPECT_NE(all.find(name), std::string::npos) << all;
    }
    EXPECT_TRUE(!c.change.ends_with("theirs") ||
                ReadFile(dst + "/a.txt") == "theirs");
    if (std::string(c.target).find("sub/") != std::string::npos) {
      ASSERT_EQ(lstat((dst + "/sub").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 02750u);
      EXPECT_EQ(st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec, kOld);
    }
  }
}

}  // namespace
}  // namespace dravelkent::testing
