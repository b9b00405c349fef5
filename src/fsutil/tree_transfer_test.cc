#include "fsutil/tree_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fsutil/real_disk_interface.h"
#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/recording_observer.h"
#include "fsutil/testing/temp_folder.h"
#include "fsutil/transfer_texts.h"

namespace dravelkent {
namespace {

using testing::DiskCall;
using testing::Exists;
using testing::FaultyDiskInterface;
using testing::ListTree;
using testing::ModeOf;
using testing::MtimeOf;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::SetMtime;
using testing::TempFolder;
using testing::WriteFile;

using Names = std::vector<std::string>;

constexpr char kDate[] = "20240315";
constexpr int64_t kTimeA = 1710000000111111111;
constexpr int64_t kTimeB = 1710000000222222222;
constexpr int64_t kTimeC = 1690000000333333333;

std::string Copying(const std::string& name) { return name + " をコピー中"; }
std::string NotNewer(const std::string& name) {
  return name + " は更新されていません";
}
std::string Moving(const std::string& name) { return name + " を移動中"; }

// A small tree: "src" holds a.txt and sub/b.txt; "dst" exists.
class TreeTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(src_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dst_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((src_ + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src_ + "/a.txt", "alpha", 0644, kTimeA));
    ASSERT_TRUE(WriteFile(src_ + "/sub/b.txt", "beta", 0600, kTimeB));
  }

  RecordingObserver Run(TransferMode mode, long long retention,
                        DiskInterface* disk = nullptr,
                        const char* date = kDate) {
    RecordingObserver observer;
    EXPECT_EQ(TransferTree(disk != nullptr ? disk : &real_, src_, dst_, date,
                           mode, retention, dst_, "", &observer),
              1);
    return observer;
  }

  TempFolder root_;
  std::string src_ = root_ / "src";
  std::string dst_ = root_ / "dst";
  RealDiskInterface real_;
};

TEST_F(TreeTransferTest, SmallTreeInEveryModeAndRetention) {
  struct Case {
    const char* label;
    TransferMode mode;
    long long retention;
    const char* source_arg;  // with or without the trailing "/"
    Names target_tree;
    Names source_tree;
  } cases[] = {
      {"copy, undated", TransferMode::kCopy, 0, "src/",
       {"a.txt", "sub/", "sub/b.txt"},
       {"a.txt", "sub/", "sub/b.txt"}},
      {"copy, dated", TransferMode::kCopy, 7, "src",
       {"20240315a.txt", "20240315sub/", "20240315sub/20240315b.txt"},
       {"a.txt", "sub/", "sub/b.txt"}},
      {"move, undated", TransferMode::kMove, 0, "src",
       {"a.txt", "sub/", "sub/b.txt"},
       {"sub/"}},
      {"move, dated", TransferMode::kMove, -3, "src/",
       {"20240315a.txt", "20240315sub/", "20240315sub/20240315b.txt"},
       {"sub/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder root;
    std::string src = root / "src";
    std::string dst = root / "dst";
    ASSERT_EQ(mkdir(src.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dst.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((src + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src + "/a.txt", "alpha", 0644, kTimeA));
    ASSERT_TRUE(WriteFile(src + "/sub/b.txt", "beta", 0600, kTimeB));
    ASSERT_EQ(chmod((src + "/sub").c_str(), 02750), 0);
    ASSERT_TRUE(SetMtime(src + "/sub", kTimeC));
    std::string a_copy = dst + "/" + c.target_tree[0];
    std::string b_copy = dst + "/" + c.target_tree[2];

    // A move is told once done; a copy as it starts, before its batch puts
    // it in place.
    RecordingObserver observer;
    observer.on_status = [&](const std::string&) {
      const std::string& copy =
          observer.statuses.size() == 1 ? a_copy : b_copy;
      EXPECT_EQ(Exists(copy), c.mode == TransferMode::kMove) << copy;
    };
    TransferTree(&real_, root / c.source_arg, dst, kDate, c.mode, c.retention,
                 dst, "", &observer);

    EXPECT_EQ(ListTree(dst), c.target_tree);
    EXPECT_EQ(ListTree(src), c.source_tree);
    EXPECT_EQ(ReadFile(a_copy), "alpha");
    EXPECT_EQ(ReadFile(b_copy), "beta");
    EXPECT_EQ(MtimeOf(a_copy), kTimeA);
    EXPECT_EQ(MtimeOf(b_copy), kTimeB);
    // The folder made keeps the source folder's mode and time.
    EXPECT_EQ(ModeOf(dst + "/" + c.target_tree[1]), 02750);
    EXPECT_EQ(MtimeOf(dst + "/" + c.target_tree[1]), kTimeC);
    Names expected = c.mode == TransferMode::kCopy
                         ? Names{Copying("a.txt"), Copying("b.txt")}
                         : Names{Moving("a.txt"), Moving("b.txt")};
    EXPECT_EQ(observer.statuses, expected);
    EXPECT_EQ(observer.failures, Names{});
  }
}

TEST_F(TreeTransferTest, UnchangedSecondCopyRunWritesNothing) {
  Run(TransferMode::kCopy, 0);
  int64_t copied_at = MtimeOf(dst_ + "/sub/b.txt");

  FaultyDiskInterface disk(&real_);
  RecordingObserver second = Run(TransferMode::kCopy, 0, &disk);
  // Only the attempt to create the sub-folder that is there already.
  ASSERT_EQ(disk.writes().size(), 1u);
  EXPECT_EQ(disk.writes()[0].call, DiskCall::kMakeDir);
  EXPECT_EQ(second.statuses, (Names{NotNewer("a.txt"), NotNewer("b.txt")}));
  EXPECT_EQ(second.failures, Names{});
  EXPECT_EQ(MtimeOf(dst_ + "/sub/b.txt"), copied_at);
}

TEST_F(TreeTransferTest, DatedCopyRunOnAnotherDateWritesTheTreeAgain) {
  Run(TransferMode::kCopy, 7, nullptr, "20240315");
  RecordingObserver second = Run(TransferMode::kCopy, 7, nullptr, "20240316");
  EXPECT_EQ(second.statuses, (Names{Copying("a.txt"), Copying("b.txt")}));
  EXPECT_EQ(ListTree(dst_),
            (Names{"20240315a.txt", "20240315sub/",
                   "20240315sub/20240315b.txt", "20240316a.txt",
                   "20240316sub/", "20240316sub/20240316b.txt"}));
}

TEST_F(TreeTransferTest, EditedCopyIsNeverOverwritten) {
  Run(TransferMode::kCopy, 0);
  ASSERT_TRUE(WriteFile(dst_ + "/a.txt", "edited", 0644, kTimeA + 1));
  ASSERT_TRUE(WriteFile(dst_ + "/sub/keep.txt", "mine"));

  RecordingObserver second = Run(TransferMode::kCopy, 0);
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "edited");
  EXPECT_EQ(second.statuses, (Names{NotNewer("a.txt"), NotNewer("b.txt")}));

  // Once the source is written again, it wins; the existing sub-folder is
  // used as it is.
  ASSERT_TRUE(WriteFile(src_ + "/a.txt", "alpha 2", 0644, kTimeA + 2));
  ASSERT_TRUE(WriteFile(src_ + "/sub/b.txt", "beta 2", 0644, kTimeB + 1));
  RecordingObserver third = Run(TransferMode::kCopy, 0);
  EXPECT_EQ(third.statuses, (Names{Copying("a.txt"), Copying("b.txt")}));
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha 2");
  EXPECT_EQ(ListTree(dst_ + "/sub"), (Names{"b.txt", "keep.txt"}));

  // Edited, or made, after the check and before the copy takes its name:
  // what is there then stays, and that is no failure.
  ASSERT_TRUE(WriteFile(src_ + "/a.txt", "alpha 3", 0644, kTimeA + 5));
  ASSERT_TRUE(WriteFile(src_ + "/new.txt", "new", 0644, kTimeA + 5));
  FaultyDiskInterface disk(&real_);
  disk.BeforeCallOn(DiskCall::kCopyFile, src_ + "/a.txt", [&] {
    WriteFile(dst_ + "/a.txt", "edited again", 0644, kTimeA + 5);
  });
  disk.BeforeCallOn(DiskCall::kCopyFile, src_ + "/new.txt", [&] {
    WriteFile(dst_ + "/new.txt", "theirs", 0644, kTimeA);
  });
  RecordingObserver fourth = Run(TransferMode::kCopy, 0, &disk);
  EXPECT_EQ(fourth.failures, Names{});
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "edited again");
  EXPECT_EQ(ReadFile(dst_ + "/new.txt"), "theirs");
}

TEST_F(TreeTransferTest, MoveNeverReplacesAndReportsTheRefusal) {
  ASSERT_TRUE(WriteFile(dst_ + "/a.txt", "already here", 0644, kTimeB));
  RecordingObserver observer = Run(TransferMode::kMove, 0);
  EXPECT_EQ(ReadFile(src_ + "/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "already here");
  EXPECT_EQ(ReadFile(dst_ + "/sub/b.txt"), "beta");
  EXPECT_EQ(observer.statuses, (Names{Moving("a.txt"), Moving("b.txt")}));
  ASSERT_EQ(observer.failures.size(), 1u);
  EXPECT_NE(observer.failures[0].find(src_ + "/a.txt"), std::string::npos);
}

TEST_F(TreeTransferTest, FilesBeforeFoldersEachFolderWhole) {
  for (const char* name : {"f1", "f2", "f3", ".f4"}) {
    ASSERT_TRUE(WriteFile(src_ + "/" + name, name));
  }
  for (const char* name : {"d1", ".d2"}) {
    ASSERT_EQ(mkdir((src_ + "/" + name).c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(src_ + "/" + name + "/in_" + name, name));
  }
  // The order the file system lists them in.
  Names files;
  Names folders;
  Status status;
  std::unique_ptr<DirReader> reader = real_.OpenDir(src_, &status);
  DirEntry entry;
  while (reader->Next(&entry)) {
    if (!entry.is_dir) files.push_back(Copying(entry.name));
    if (entry.is_dir && entry.name != "." && entry.name != "..") {
      folders.push_back(entry.name);
    }
  }
  Names expected = files;
  for (const std::string& folder : folders) {
    expected.push_back(Copying(folder == "sub" ? "b.txt" : "in_" + folder));
  }

  RecordingObserver observer = Run(TransferMode::kCopy, 0);
  EXPECT_EQ(observer.statuses, expected);
  EXPECT_TRUE(Exists(dst_ + "/.d2/in_.d2"));
  EXPECT_TRUE(Exists(dst_ + "/.f4"));
}

TEST_F(TreeTransferTest, EachCopyIsNamedAsItStartsAndItsFailureTold) {
  // More files than one batch holds, one that cannot be copied, and a file
  // already up to date between them.
  for (int i = 0; i < 7; ++i) {
    std::string name = "f" + std::to_string(i);
    ASSERT_TRUE(WriteFile(src_ + "/" + name, name, 0644, kTimeA));
  }
  ASSERT_EQ(mkfifo((src_ + "/pipe").c_str(), 0600), 0);
  ASSERT_TRUE(WriteFile(dst_ + "/f3", "f3", 0644, kTimeA));
  RealDiskOptions options;
  options.copy_batch_files = 2;
  RealDiskInterface disk(options);

  Names expected;
  Names copied;
  Status status;
  std::unique_ptr<DirReader> reader = real_.OpenDir(src_, &status);
  DirEntry entry;
  while (reader->Next(&entry)) {
    if (entry.is_dir) continue;
    expected.push_back(entry.name == "f3" ? NotNewer("f3")
                                          : Copying(entry.name));
    if (entry.name[0] == 'f' && entry.name != "f3") {
      copied.push_back(entry.name);
    }
  }
  expected.push_back(Copying("b.txt"));

  RecordingObserver observer;
  observer.on_status = [&](const std::string& text) {
    const std::string name = text.substr(0, text.find(' '));
    const std::string to = (name == "b.txt" ? dst_ + "/sub/" : dst_ + "/") +
                           name;
    EXPECT_EQ(Exists(to), name == "f3") << name;
  };
  TransferTree(&disk, src_, dst_, kDate, TransferMode::kCopy, 0, dst_, "",
               &observer);
  EXPECT_EQ(observer.statuses, expected);
  ASSERT_EQ(observer.failures.size(), 1u);
  EXPECT_NE(observer.failures[0].find(src_ + "/pipe"), std::string::npos);
  EXPECT_FALSE(Exists(dst_ + "/pipe"));
  for (const std::string& name : copied) {
    EXPECT_EQ(ReadFile(dst_ + "/" + name), name);
    EXPECT_EQ(MtimeOf(dst_ + "/" + name), kTimeA);
  }
}

TEST_F(TreeTransferTest, EmptySourceCreatesNothingAndSaysNothing) {
  TempFolder empty;
  RecordingObserver observer;
  TransferTree(&real_, empty.path(), dst_, kDate, TransferMode::kCopy, 7, dst_,
               "", &observer);
  EXPECT_EQ(ListTree(dst_), Names{});
  EXPECT_EQ(observer.statuses, Names{});
  EXPECT_EQ(observer.failures, Names{});
}

TEST_F(TreeTransferTest, FailureIsReportedAndTheTransferGoesOn) {
  ASSERT_EQ(mkdir((src_ + "/sub2").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(src_ + "/sub2/c.txt", "gamma"));
  struct Case {
    const char* label;
    DiskCall call;
    std::string path;
    Names target_tree;
  } cases[] = {
      {"copy of a file", DiskCall::kCopyFile, src_ + "/a.txt",
       {"sub/", "sub/b.txt", "sub2/", "sub2/c.txt"}},
      {"folder creation", DiskCall::kMakeDir, dst_ + "/sub",
       {"a.txt", "sub2/", "sub2/c.txt"}},
      {"listing of a sub-folder", DiskCall::kOpenDir, src_ + "/sub/",
       {"a.txt", "sub/", "sub2/", "sub2/c.txt"}},
      {"reading a sub-folder", DiskCall::kReadDir, src_ + "/sub/",
       {"a.txt", "sub/", "sub2/", "sub2/c.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(dst_);
    ASSERT_EQ(mkdir(dst_.c_str(), 0755), 0);
    FaultyDiskInterface disk(&real_);
    disk.FailPath(c.call, c.path, EACCES);
    RecordingObserver observer = Run(TransferMode::kCopy, 0, &disk);
    EXPECT_EQ(ListTree(dst_), c.target_tree);
    ASSERT_GE(observer.failures.size(), 1u);
    EXPECT_NE(observer.failures[0].find(c.path), std::string::npos)
        << observer.failures[0];
  }
}

TEST_F(TreeTransferTest, MissingSourceOrTargetIsReported) {
  struct Case {
    const char* label;
    std::string source;
    std::string target;
    std::string named;  // in the failure
  } cases[] = {
      {"missing source", root_ / "nothing", dst_, root_ / "nothing"},
      {"empty source", "", dst_, ""},
      {"empty target", src_, "", ""},
      {"missing target", src_, root_ / "nothing", root_ / "nothing"},
      {"target that is a file", src_, src_ + "/a.txt", src_ + "/a.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingObserver observer;
    EXPECT_EQ(TransferTree(&real_, c.source, c.target, kDate,
                           TransferMode::kMove, 0, dst_, "", &observer),
              1);
    // Said once, not once for every file that could not go there.
    ASSERT_EQ(observer.failures.size(), 1u);
    EXPECT_NE(observer.failures[0].find(c.named), std::string::npos);
    EXPECT_EQ(ListTree(src_), (Names{"a.txt", "sub/", "sub/b.txt"}));
    EXPECT_EQ(ListTree(dst_), Names{});
  }
}

TEST_F(TreeTransferTest, TargetSubFolderThatIsAFileSkipsItsTree) {
  ASSERT_TRUE(WriteFile(dst_ + "/sub", "a file in the way"));
  RecordingObserver observer = Run(TransferMode::kMove, 0);
  EXPECT_EQ(ReadFile(dst_ + "/sub"), "a file in the way");
  EXPECT_EQ(ReadFile(src_ + "/sub/b.txt"), "beta");
  EXPECT_EQ(observer.statuses, Names{Moving("a.txt")});
  ASSERT_EQ(observer.failures.size(), 1u);
  EXPECT_NE(observer.failures[0].find(dst_ + "/sub"), std::string::npos);
}

}  // namespace
}  // namespace dravelkent
