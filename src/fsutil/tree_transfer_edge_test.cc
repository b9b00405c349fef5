// The folder tree transfer on trees that would trap a naive walk: the
// target inside the source, links, odd names, deep and wide trees.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/temp_names.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/recording_observer.h"
#include "fsutil/testing/temp_folder.h"
#include "fsutil/tree_transfer.h"

namespace dravelkent {
namespace {

using testing::DiskCall;
using testing::Exists;
using testing::FaultyDiskInterface;
using testing::ListTree;
using testing::MtimeOf;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::SetMtime;
using testing::TempFolder;
using testing::WriteFile;

using Names = std::vector<std::string>;

constexpr char kDate[] = "20240315";
constexpr int64_t kLinkTime = 1600000000000000042;

std::string LinkTarget(const std::string& path) {
  char target[512] = {};
  if (readlink(path.c_str(), target, sizeof target - 1) < 0) return "";
  return target;
}

TEST(TreeTransferEdgeTest, TargetInsideTheSourceIsSkipped) {
  struct Case {
    const char* label;
    TransferMode mode;
    long long retention;
    Names backup_tree;
  } cases[] = {
      {"copy", TransferMode::kCopy, 0,
       {"a.txt", "old.txt", "sub/", "sub/b.txt"}},
      {"move, dated", TransferMode::kMove, 7,
       {"20240315a.txt", "20240315sub/", "20240315sub/20240315b.txt",
        "old.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder src;
    ASSERT_EQ(mkdir((src / "sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((src / "backup").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src / "a.txt", "a"));
    ASSERT_TRUE(WriteFile(src / "sub/b.txt", "b"));
    ASSERT_TRUE(WriteFile(src / "backup/old.txt", "from an earlier run"));

    RealDiskInterface real;
    FaultyDiskInterface disk(&real);
    RecordingObserver observer;
    // The job names its target another way; identity still finds it.
    std::string target = src / "sub/../backup/";
    TransferTree(&disk, src.path(), target, kDate, c.mode, c.retention,
                 target, "", &observer);
    EXPECT_EQ(ListTree(src / "backup"), c.backup_tree);
    EXPECT_EQ(observer.failures, Names{});
    EXPECT_EQ(observer.statuses.size(), 2u);  // old.txt is never handled
    // "sub", made and then given its source's attributes.
    EXPECT_EQ(disk.count(DiskCall::kMakeDir), 2);
  }
}

// The target folder named as the source itself, however it is named: a
// dated transfer would list what it wrote and date it again, and again.
TEST(TreeTransferEdgeTest, TargetThatIsTheSourceItselfIsRefused) {
  for (TransferMode mode : {TransferMode::kCopy, TransferMode::kMove}) {
    TempFolder src;
    ASSERT_EQ(mkdir((src / "sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src / "a.txt", "a"));
    ASSERT_TRUE(WriteFile(src / "sub/b.txt", "b"));
    ASSERT_EQ(symlink(src.path().c_str(), (src / "sub/self").c_str()), 0);
    for (const std::string& target :
         {src.path(), src / "sub/..", src / "sub/self/"}) {
      SCOPED_TRACE(target);
      RealDiskInterface disk;
      RecordingObserver observer;
      TransferTree(&disk, src.path(), target, kDate, mode, 7, target, "",
                   &observer);
      ASSERT_EQ(observer.failures.size(), 1u);
      EXPECT_NE(observer.failures[0].find("itself"), std::string::npos);
      EXPECT_EQ(ListTree(src.path()),
                (Names{"a.txt", "sub/", "sub/b.txt", "sub/self"}));
    }
  }
}

// A copy of a link that the source once held stands in the target where
// the source now has a real folder, or another user swaps a folder of the
// target or the source for a link while the transfer works: the transfer
// never writes through a link, nor takes files from where it leads.
TEST(TreeTransferEdgeTest, LinkInTheTargetTreeIsNeverWrittenThrough) {
  enum class Link { kThereBefore, kTargetSwapped, kSourceSwapped };
  for (Link link : {Link::kThereBefore, Link::kTargetSwapped,
                    Link::kSourceSwapped}) {
    for (TransferMode mode : {TransferMode::kCopy, TransferMode::kMove}) {
      SCOPED_TRACE(static_cast<int>(link));
      TempFolder outside;
      TempFolder src;
      TempFolder dst;
      ASSERT_TRUE(WriteFile(outside / "x.txt", "outside, older", 0644,
                            kLinkTime));
      ASSERT_EQ(mkdir((src / "sub").c_str(), 0755), 0);
      ASSERT_TRUE(WriteFile(src / "sub/x.txt", "newer"));
      ASSERT_TRUE(WriteFile(src / "top.txt", "top"));
      RealDiskInterface real;
      FaultyDiskInterface disk(&real);
      // Each swap comes after the folder was made, or listed, and before
      // anything is written into it or taken from it.
      auto swap = [&](const TempFolder& tree) {
        ASSERT_EQ(rename((tree / "sub").c_str(), (tree / "was").c_str()), 0);
        ASSERT_EQ(symlink(outside.path().c_str(), (tree / "sub").c_str()), 0);
      };
      if (link == Link::kThereBefore) {
        ASSERT_EQ(symlink(outside.path().c_str(), (dst / "sub").c_str()), 0);
      } else if (link == Link::kTargetSwapped) {
        disk.BeforeCallOn(DiskCall::kOpenDir, src / "sub/",
                          [&] { swap(dst); });
      } else {
        disk.BeforeCallOn(DiskCall::kMakeDir, dst / "sub",
                          [&] { swap(src); });
      }
      RecordingObserver observer;
      TransferTree(&disk, src.path(), dst.path(), kDate, mode, 0, dst.path(),
                   "", &observer);
      EXPECT_EQ(ListTree(outside.path()), Names{"x.txt"});
      EXPECT_EQ(ReadFile(outside / "x.txt"), "outside, older");
      EXPECT_EQ(ReadFile(dst / "top.txt"), "top");
      if (link == Link::kTargetSwapped) {
        EXPECT_EQ(observer.failures, Names{});
        EXPECT_EQ(ReadFile(dst / "was/x.txt"), "newer");
        continue;
      }
      ASSERT_EQ(observer.failures.size(), 1u);
      EXPECT_NE(observer.failures[0].find(
                    (link == Link::kThereBefore ? dst : src) / "sub"),
                std::string::npos);
      if (link == Link::kThereBefore) {
        EXPECT_NE(observer.failures[0].find("a link is in the way"),
                  std::string::npos);
        EXPECT_EQ(ReadFile(src / "sub/x.txt"), "newer");
        EXPECT_EQ(LinkTarget(dst / "sub"), outside.path());
      }
    }
  }
}

TEST(TreeTransferEdgeTest, LinksAreCarriedAsLinksAndNeverFollowed) {
  TempFolder outside;
  ASSERT_TRUE(WriteFile(outside / "secret.txt", "not part of the tree"));
  const struct {
    const char* name;
    std::string target;
  } links[] = {
      {"file_link", "a.txt"},
      {"loop", "."},
      {"parent", ".."},
      {"outside", outside.path()},
      {"dangling", "nowhere"},
  };
  for (TransferMode mode : {TransferMode::kCopy, TransferMode::kMove}) {
    SCOPED_TRACE(mode == TransferMode::kCopy ? "copy" : "move");
    TempFolder src;
    TempFolder dst;
    ASSERT_TRUE(WriteFile(src / "a.txt", "a"));
    for (const auto& link : links) {
      ASSERT_EQ(symlink(link.target.c_str(), (src / link.name).c_str()), 0);
      ASSERT_TRUE(SetMtime(src / link.name, kLinkTime));
    }
    RealDiskInterface disk;
    RecordingObserver observer;
    TransferTree(&disk, src.path(), dst.path(), kDate, mode, 0, dst.path(), "",
                 &observer);
    EXPECT_EQ(observer.failures, Names{});
    EXPECT_EQ(observer.statuses.size(), 6u);
    EXPECT_EQ(ListTree(dst.path()), (Names{"a.txt", "dangling", "file_link",
                                           "loop", "outside", "parent"}));
    for (const auto& link : links) {
      EXPECT_EQ(LinkTarget(dst / link.name), link.target) << link.name;
      EXPECT_EQ(MtimeOf(dst / link.name), kLinkTime) << link.name;
      EXPECT_EQ(Exists(src / link.name), mode == TransferMode::kCopy);
    }
    EXPECT_EQ(ListTree(outside.path()), Names{"secret.txt"});

    if (mode == TransferMode::kCopy) {
      // The links' own times say they are unchanged.
      RecordingObserver again;
      TransferTree(&disk, src.path(), dst.path(), kDate, mode, 0, dst.path(),
                   "", &again);
      for (const std::string& text : again.statuses) {
        EXPECT_NE(text.find("は更新されていません"), std::string::npos) << text;
      }
    }
  }
}

TEST(TreeTransferEdgeTest, NamesAreBytesAndTextsAreWhole) {
  const std::string odd_file = "\xff\xfe raw.bin";
  const std::string odd_folder = "\x80\x81 folder";
  const std::string inner = "caf\xe9.txt";
  const std::string long_name = std::string(200, 'L') + ".txt";
  for (TransferMode mode : {TransferMode::kCopy, TransferMode::kMove}) {
    TempFolder src;
    TempFolder dst;
    ASSERT_TRUE(WriteFile(src / odd_file, "1"));
    ASSERT_TRUE(WriteFile(src / long_name, "2"));
    ASSERT_EQ(mkdir((src / odd_folder).c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src / (odd_folder + "/" + inner), "3"));

    RealDiskInterface disk;
    RecordingObserver observer;
    TransferTree(&disk, src.path(), dst.path(), kDate, mode, 1, dst.path(), "",
                 &observer);
    EXPECT_EQ(observer.failures, Names{});
    std::string dated = std::string(kDate);
    EXPECT_EQ(ReadFile(dst / (dated + odd_file)), "1");
    EXPECT_EQ(ReadFile(dst / (dated + long_name)), "2");
    EXPECT_EQ(ReadFile(dst / (dated + odd_folder + "/" + dated + inner)), "3");
    const char* suffix = mode == TransferMode::kCopy ? " をコピー中" : " を移動中";
    std::vector<std::string> statuses = observer.statuses;
    std::sort(statuses.begin(), statuses.end());
    Names expected = {long_name + suffix, inner + suffix, odd_file + suffix};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(statuses, expected);
  }
}

// Makes a chain of |depth| folders named |name| below |dir|, each holding
// one file, and returns the relative path of the deepest folder.
std::string MakeChain(const std::string& dir, const std::string& name,
                      int depth) {
  std::string relative;
  for (int level = 0; level < depth; ++level) {
    relative += name + "/";
    EXPECT_EQ(mkdir((dir + "/" + relative).c_str(), 0755), 0);
    EXPECT_TRUE(WriteFile(dir + "/" + relative + "f", "x"));
  }
  return relative;
}

TEST(TreeTransferEdgeTest, DeepAndWideTreeIsListedOnceAndOneLevelAtATime) {
  TempFolder src;
  TempFolder dst;
  // Far longer than the 255 bytes of the original's paths.
  std::string deepest = MakeChain(src.path(), std::string(50, 'd'), 40);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(WriteFile(src / (deepest + "wide" + std::to_string(i)), "w"));
  }
  RealDiskInterface real;
  FaultyDiskInterface disk(&real);
  RecordingObserver observer;
  TransferTree(&disk, src.path(), dst.path(), kDate, TransferMode::kMove, 0,
               dst.path(), "", &observer);
  EXPECT_EQ(observer.failures, Names{});
  EXPECT_EQ(observer.statuses.size(), 340u);
  EXPECT_EQ(ReadFile(dst / (deepest + "wide299")), "w");
  // Each listing is closed before the transfer goes deeper.
  EXPECT_EQ(disk.max_open_listings(), 1);
  // Each folder opened once on each side: the top folder and its 40 levels.
  EXPECT_EQ(disk.count(DiskCall::kOpenDir), 82);
}

// Every folder is reached from its parent: no path is ever too long.
TEST(TreeTransferEdgeTest, PathBeyondTheSystemLimitIsTransferred) {
  TempFolder src;
  TempFolder dst;
  ASSERT_TRUE(WriteFile(src / "top.txt", "top"));
  ASSERT_EQ(mkdir((src / "z").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(src / "z/z.txt", "z"));
  // A chain whose paths pass PATH_MAX, made one folder at a time.
  const std::string name(250, 'p');
  int fd = open(src.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < 20; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  int file = openat(fd, "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_GE(file, 0);
  close(file);
  close(fd);

  RealDiskInterface disk;
  RecordingObserver observer;
  EXPECT_EQ(TransferTree(&disk, src.path(), dst.path(), kDate,
                         TransferMode::kCopy, 0, dst.path(), "", &observer),
            1);
  EXPECT_EQ(observer.failures, Names{});
  EXPECT_EQ(observer.statuses.size(), 3u);
  EXPECT_EQ(ReadFile(dst / "top.txt"), "top");
  EXPECT_EQ(ReadFile(dst / "z/z.txt"), "z");
}

// A killed run can leave its temporary files in a folder that is another
// job's source; they stay where they are, and so does the run's settings
// file. A user's dot files go as any.
TEST(TreeTransferEdgeTest, LeftoverTemporaryFilesStayUsersDotFilesGo) {
  const struct {
    const char* name;
    bool own;
    bool settings;  // the settings file's, in its own folder only
  } names[] = {
      {".dravelkent-0123456789abcdef.tmp", true, false},
      {".Dravelkent.ini.a1B2c3", false, false},
      {".dravelkent-0123456789ABCDEF.tmp", false, false},
      {".dravelkent-0123456789abcde.tmp", false, false},
      {".dravelkent-notes.tmp", false, false},
      {".Dravelkent.ini.bak", false, false},
      {".Dravelkent.ini.a1B2c3d", false, false},
      {".Dravelkent.ini.a1-2c3", false, false},
      {"Dravelkent.ini", false, false},
      {".hidden", false, false},
      {"jobs.ini", false, true},
      {".jobs.ini.Zx9Yw8", false, false},
      {".jobs.ini.Zx9Yw", false, false},
  };
  for (const auto& n : names) {
    EXPECT_EQ(IsOwnTemporaryName(n.name), n.own) << n.name;
  }
  EXPECT_TRUE(IsOwnTemporaryName(FileTempName(0xfedcba9876543210)));
  EXPECT_EQ(FileTempName(0x2a), ".dravelkent-000000000000002a.tmp");

  for (TransferMode mode : {TransferMode::kCopy, TransferMode::kMove}) {
    TempFolder src;
    TempFolder dst;
    ASSERT_EQ(mkdir((src / "sub").c_str(), 0755), 0);
    Names kept_in_source;
    Names expected_target = {"sub/"};
    for (const auto& n : names) {
      for (const std::string folder : {"", "sub/"}) {
        ASSERT_TRUE(WriteFile(src / (folder + n.name), n.name));
        const bool stays = n.own || (n.settings && folder.empty());
        if (stays || mode == TransferMode::kCopy) {
          kept_in_source.push_back(folder + n.name);
        }
        if (!stays) expected_target.push_back(folder + n.name);
      }
    }
    kept_in_source.push_back("sub/");
    std::sort(kept_in_source.begin(), kept_in_source.end());
    std::sort(expected_target.begin(), expected_target.end());
    RealDiskInterface disk;
    RecordingObserver observer;
    // Named another way than the listing names it: judged by identity.
    TransferTree(&disk, src.path(), dst.path(), kDate, mode, 0, dst.path(),
                 src / "sub/../jobs.ini", &observer);
    EXPECT_EQ(observer.failures, Names{});
    EXPECT_EQ(observer.statuses.size(), expected_target.size() - 1);
    EXPECT_EQ(ListTree(dst.path()), expected_target);
    EXPECT_EQ(ListTree(src.path()), kept_in_source);
  }
}

TEST(TreeTransferEdgeTest, SpecialFileIsReportedNotWaitedOn) {
  TempFolder src;
  TempFolder dst;
  ASSERT_EQ(mkfifo((src / "pipe").c_str(), 0644), 0);
  ASSERT_TRUE(WriteFile(src / "after.txt", "after"));
  RealDiskInterface disk;
  RecordingObserver observer;
  TransferTree(&disk, src.path(), dst.path(), kDate, TransferMode::kCopy, 0,
               dst.path(), "", &observer);
  ASSERT_EQ(observer.failures.size(), 1u);
  EXPECT_NE(observer.failures[0].find(src / "pipe"), std::string::npos);
  EXPECT_EQ(ListTree(dst.path()), Names{"after.txt"});
}

}  // namespace
}  // namespace dravelkent
