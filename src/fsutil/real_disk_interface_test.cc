#include "fsutil/real_disk_interface.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "fsutil/testing/faulty_disk_interface.h"
#include "fsutil/testing/temp_folder.h"

namespace dravelkent {
namespace {

using testing::Exists;
using testing::ListNames;
using testing::ModeOf;
using testing::MtimeOf;
using testing::ReadFile;
using testing::SetMtime;
using testing::TempFolder;
using testing::WriteFile;

constexpr int64_t kOldTime = 1600000000123456789;  // odd nanoseconds
constexpr int64_t kNewTime = 1700000000987654321;

// Bytes of every value, longer than one read/write buffer.
std::string BinaryContent(size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    content[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  }
  return content;
}

RealDiskOptions NamedTemps() {
  RealDiskOptions options;
  options.unnamed_temp_files = UnnamedTempFiles::kNever;
  return options;
}

RealDiskOptions AlwaysCopyOnMove(UnnamedTempFiles unnamed,
                                 NoReplaceRename rename) {
  RealDiskOptions options;
  options.unnamed_temp_files = unnamed;
  options.no_replace_rename = rename;
  options.cross_device_move = RealDiskOptions::CrossDeviceMove::kAlways;
  return options;
}

// A second file system for moves across: /dev/shm, when it is one.
class SecondFileSystem {
 public:
  SecondFileSystem() : folder_("/dev/shm") {}
  // Returns whether folder() lies on another file system than |other|.
  bool DiffersFrom(const std::string& other) const {
    return !folder_.path().empty() &&
           testing::DeviceOf(folder_.path()) != testing::DeviceOf(other);
  }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
};

TEST(RealDiskInterfaceTest, ListsEveryEntryWithItsKind) {
  TempFolder dir;
  ASSERT_TRUE(WriteFile(dir / "file", "x", 0644, kOldTime));
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub", (dir / "link").c_str()), 0);
  ASSERT_TRUE(SetMtime(dir / "link", kNewTime));

  RealDiskInterface disk;
  Status status;
  std::unique_ptr<DirReader> reader = disk.OpenDir(dir.path(), &status);
  ASSERT_NE(reader, nullptr) << status.message();
  std::map<std::string, DirEntry> seen;
  DirEntry entry;
  while (reader->Next(&entry)) seen[entry.name] = entry;
  EXPECT_TRUE(reader->status().ok());

  ASSERT_EQ(seen.size(), 5u);
  EXPECT_TRUE(seen["."].is_dir);
  EXPECT_TRUE(seen[".."].is_dir);
  EXPECT_TRUE(seen["sub"].is_dir);
  EXPECT_FALSE(seen["file"].is_dir);
  EXPECT_FALSE(seen["file"].is_symlink);
  EXPECT_FALSE(seen["link"].is_dir);  // a link to a folder is no folder
  EXPECT_TRUE(seen["link"].is_symlink);
  // A folder's identity, for telling when a tree meets itself.
  struct stat sub;
  ASSERT_EQ(stat((dir / "sub").c_str(), &sub), 0);
  EXPECT_EQ(seen["sub"].device, sub.st_dev);
  EXPECT_EQ(seen["sub"].inode, sub.st_ino);
}

TEST(RealDiskInterfaceTest, ListingWithTimesGivesEachEntryItsOwnTime) {
  TempFolder dir;
  ASSERT_TRUE(WriteFile(dir / "file", "x", 0644, kOldTime));
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  ASSERT_TRUE(SetMtime(dir / "link", kNewTime));

  RealDiskInterface real;
  testing::FaultyDiskInterface examined_one_by_one(&real);
  for (DiskInterface* disk :
       std::initializer_list<DiskInterface*>{&real, &examined_one_by_one}) {
    Status status;
    std::unique_ptr<DirReader> reader =
        disk->OpenDirWithTimes(dir.path(), &status);
    ASSERT_NE(reader, nullptr) << status.message();
    std::map<std::string, DirEntry> seen;
    DirEntry entry;
    while (reader->Next(&entry)) seen[entry.name] = entry;
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen["file"].has_time);
    EXPECT_EQ(seen["file"].mtime_ns, kOldTime);
    EXPECT_TRUE(seen["link"].is_symlink);
    EXPECT_TRUE(seen["link"].has_time);
    EXPECT_EQ(seen["link"].mtime_ns, kNewTime);  // the link's, not its file's
    EXPECT_TRUE(seen["sub"].is_dir);
    EXPECT_FALSE(seen["sub"].has_time);
  }
  // A plain listing asks for no times.
  Status status;
  std::unique_ptr<DirReader> reader = real.OpenDir(dir.path(), &status);
  DirEntry entry;
  while (reader->Next(&entry)) EXPECT_FALSE(entry.has_time) << entry.name;
}

TEST(RealDiskInterfaceTest, MissingFolderListsNothingAndKeepsTheReason) {
  TempFolder dir;
  RealDiskInterface disk;
  Status status;
  EXPECT_EQ(disk.OpenDir(dir / "gone", &status), nullptr);
  EXPECT_EQ(status.error_number(), ENOENT);
  EXPECT_NE(status.message().find(dir / "gone"), std::string::npos);
}

TEST(RealDiskInterfaceTest, CopyKeepsDataMtimeAndModeAndReplaces) {
  struct Case {
    const char* label;
    RealDiskOptions options;
    bool destination_exists;
  } cases[] = {
      {"unnamed temp, new", RealDiskOptions(), false},
      {"unnamed temp, replacing", RealDiskOptions(), true},
      {"named temp, replacing", NamedTemps(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    std::string content = BinaryContent(300 * 1024 + 17);
    ASSERT_TRUE(WriteFile(dir / "src", content, 0640, kOldTime));
    if (c.destination_exists) {
      ASSERT_TRUE(WriteFile(dir / "dst", "older copy", 0600, kNewTime));
    }
    RealDiskInterface disk(c.options);
    Status status = disk.CopyFile(dir / "src", dir / "dst");
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(ReadFile(dir / "dst"), content);
    EXPECT_EQ(MtimeOf(dir / "dst"), kOldTime);
    EXPECT_EQ(ModeOf(dir / "dst"), 0640);
    EXPECT_EQ(ReadFile(dir / "src"), content);
    EXPECT_EQ(ListNames(dir.path()), (std::vector<std::string>{"dst", "src"}));
  }
}

TEST(RealDiskInterfaceTest, FailedCopyLeavesDestinationAndNoTemporaryFile) {
  struct Case {
    const char* label;
    const char* from;
    const char* to;
    int error;
  } cases[] = {
      {"missing source", "nothing", "out/dst", ENOENT},
      {"source is a folder", "folder", "out/dst", 0},
      {"missing destination folder", "src", "out/none/dst", ENOENT},
      {"destination is a folder", "src", "out/folder", EISDIR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    ASSERT_TRUE(WriteFile(dir / "src", "new", 0644, kNewTime));
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir / "out/folder").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(dir / "out/dst", "old", 0644, kOldTime));

    RealDiskInterface disk;
    Status status = disk.CopyFile(dir / c.from, dir / c.to);
    EXPECT_FALSE(status.ok());
    if (c.error != 0) {
      EXPECT_EQ(status.error_number(), c.error);
    }
    EXPECT_NE(status.message().find(dir / c.from), std::string::npos)
        << status.message();
    EXPECT_EQ(ReadFile(dir / "out/dst"), "old");
    EXPECT_EQ(MtimeOf(dir / "out/dst"), kOldTime);
    EXPECT_EQ(ListNames(dir / "out"),
              (std::vector<std::string>{"dst", "folder"}));
  }
}

// Moves "src" in one folder onto an existing "dst" in another, and expects
// the refusal to change neither.
void ExpectMoveOntoExistingRefused(RealDiskInterface* disk,
                                   const std::string& from_dir,
                                   const std::string& to_dir) {
  ASSERT_TRUE(WriteFile(from_dir + "/src", "source", 0644, kNewTime));
  ASSERT_TRUE(WriteFile(to_dir + "/dst", "existing", 0600, kOldTime));
  Status status = disk->MoveFile(from_dir + "/src", to_dir + "/dst");
  EXPECT_EQ(status.error_number(), EEXIST) << status.message();
  EXPECT_EQ(ReadFile(from_dir + "/src"), "source");
  EXPECT_EQ(MtimeOf(from_dir + "/src"), kNewTime);
  EXPECT_EQ(ReadFile(to_dir + "/dst"), "existing");
  EXPECT_EQ(MtimeOf(to_dir + "/dst"), kOldTime);
  EXPECT_EQ(ModeOf(to_dir + "/dst"), 0600);
  EXPECT_EQ(ListNames(to_dir).size(), from_dir == to_dir ? 2u : 1u);
}

TEST(RealDiskInterfaceTest, MoveOntoExistingNameChangesNothing) {
  RealDiskOptions link_and_unlink;
  link_and_unlink.no_replace_rename = NoReplaceRename::kNever;
  struct Case {
    const char* label;
    RealDiskOptions options;
  } cases[] = {
      {"renameat2", RealDiskOptions()},
      {"link and unlink", link_and_unlink},
      {"copy, unnamed temp",
       AlwaysCopyOnMove(UnnamedTempFiles::kWhereSupported,
                        NoReplaceRename::kWhereSupported)},
      {"copy, named temp, link and unlink",
       AlwaysCopyOnMove(UnnamedTempFiles::kNever, NoReplaceRename::kNever)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    RealDiskInterface disk(c.options);
    ExpectMoveOntoExistingRefused(&disk, dir.path(), dir.path());
  }
}

TEST(RealDiskInterfaceTest, MoveAcrossFileSystemsOntoExistingNameRefused) {
  TempFolder local;
  SecondFileSystem other;
  if (!other.DiffersFrom(local.path())) {
    GTEST_SKIP() << "/dev/shm is not a second file system here";
  }
  RealDiskInterface disk;
  ExpectMoveOntoExistingRefused(&disk, local.path(), other.folder().path());
}

// Moves a 300 KiB file and a link from |from_dir| to |to_dir| and checks
// that the moved file keeps bytes, mtime and mode and the source is gone.
void ExpectMoveKeepsEverything(RealDiskInterface* disk,
                               const std::string& from_dir,
                               const std::string& to_dir) {
  std::string content = BinaryContent(300 * 1024 + 1);
  ASSERT_TRUE(WriteFile(from_dir + "/src", content, 0751, kOldTime));
  ASSERT_EQ(symlink("../some/where", (from_dir + "/link").c_str()), 0);
  ASSERT_TRUE(SetMtime(from_dir + "/link", kNewTime));

  Status moved = disk->MoveFile(from_dir + "/src", to_dir + "/moved");
  ASSERT_TRUE(moved.ok()) << moved.message();
  EXPECT_EQ(ReadFile(to_dir + "/moved"), content);
  EXPECT_EQ(MtimeOf(to_dir + "/moved"), kOldTime);
  EXPECT_EQ(ModeOf(to_dir + "/moved"), 0751);
  EXPECT_FALSE(Exists(from_dir + "/src"));

  Status link_moved = disk->MoveFile(from_dir + "/link", to_dir + "/link2");
  ASSERT_TRUE(link_moved.ok()) << link_moved.message();
  char target[64] = {};
  ASSERT_GT(readlink((to_dir + "/link2").c_str(), target, sizeof target - 1),
            0);
  EXPECT_STREQ(target, "../some/where");
  EXPECT_EQ(MtimeOf(to_dir + "/link2"), kNewTime);
  EXPECT_FALSE(Exists(from_dir + "/link"));
  EXPECT_EQ(ListNames(to_dir), (std::vector<std::string>{"link2", "moved"}));
}

TEST(RealDiskInterfaceTest, MoveByCopyKeepsBytesMtimeAndMode) {
  struct Case {
    const char* label;
    RealDiskOptions options;
  } cases[] = {
      {"unnamed temp",
       AlwaysCopyOnMove(UnnamedTempFiles::kWhereSupported,
                        NoReplaceRename::kWhereSupported)},
      {"named temp, link and unlink",
       AlwaysCopyOnMove(UnnamedTempFiles::kNever, NoReplaceRename::kNever)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder from;
    TempFolder to;
    RealDiskInterface disk(c.options);
    ExpectMoveKeepsEverything(&disk, from.path(), to.path());
  }
}

TEST(RealDiskInterfaceTest, MoveAcrossFileSystemsKeepsBytesMtimeAndMode) {
  TempFolder local;
  SecondFileSystem other;
  if (!other.DiffersFrom(local.path())) {
    GTEST_SKIP() << "/dev/shm is not a second file system here";
  }
  RealDiskInterface disk;
  ExpectMoveKeepsEverything(&disk, local.path(), other.folder().path());
}

TEST(RealDiskInterfaceTest, CopySymlinkRecreatesTheLinkItself) {
  TempFolder dir;
  ASSERT_TRUE(WriteFile(dir / "target", "data", 0644, kOldTime));
  ASSERT_EQ(symlink("target", (dir / "link").c_str()), 0);
  ASSERT_TRUE(SetMtime(dir / "link", kNewTime));
  ASSERT_TRUE(WriteFile(dir / "copy", "an older plain file"));

  RealDiskInterface disk;
  Status status = disk.CopySymlink(dir / "link", dir / "copy");
  ASSERT_TRUE(status.ok()) << status.message();
  char target[32] = {};
  ASSERT_EQ(readlink((dir / "copy").c_str(), target, sizeof target - 1), 6);
  EXPECT_STREQ(target, "target");
  EXPECT_EQ(MtimeOf(dir / "copy"), kNewTime);
  EXPECT_EQ(MtimeOf(dir / "target"), kOldTime);  // never followed

  EXPECT_FALSE(disk.CopySymlink(dir / "target", dir / "copy").ok());
  EXPECT_EQ(ListNames(dir.path()),
            (std::vector<std::string>{"copy", "link", "target"}));
}

// A 1 MiB tmpfs mounted in a private mount namespace of this process.
class SmallFileSystem {
 public:
  SmallFileSystem() {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder_.path().c_str(), "tmpfs", 0, "size=1m") != 0) {
      reason_ = std::string("cannot mount a small tmpfs: ") + strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(folder_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
  bool mounted_ = false;
  std::string reason_;
};

TEST(RealDiskInterfaceTest, CopyThatRunsOutOfSpaceLeavesOldDestination) {
  SmallFileSystem small;
  if (!small.mounted()) GTEST_SKIP() << small.reason();
  TempFolder local;
  std::string big = BinaryContent(2 * 1024 * 1024);
  ASSERT_TRUE(WriteFile(local / "big", big, 0644, kNewTime));
  std::string dst = small.folder() / "dst";
  ASSERT_TRUE(WriteFile(dst, "old copy", 0644, kOldTime));

  for (RealDiskOptions options : {RealDiskOptions(), NamedTemps()}) {
    RealDiskInterface disk(options);
    Status status = disk.CopyFile(local / "big", dst);
    EXPECT_EQ(status.error_number(), ENOSPC) << status.message();
    EXPECT_EQ(ReadFile(dst), "old copy");
    EXPECT_EQ(MtimeOf(dst), kOldTime);
    EXPECT_EQ(ListNames(small.folder().path()),
              std::vector<std::string>{"dst"});

    Status moved = disk.MoveFile(local / "big", small.folder() / "moved");
    EXPECT_EQ(moved.error_number(), ENOSPC) << moved.message();
    EXPECT_EQ(ReadFile(local / "big"), big);
    EXPECT_EQ(ListNames(small.folder().path()),
              std::vector<std::string>{"dst"});
  }
}

}  // namespace
}  // namespace dravelkent
