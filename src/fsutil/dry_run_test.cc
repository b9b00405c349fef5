// The dry run's disk, told through the reporting one: a run's changes
// reported and its predictable failures met, the real folder untouched.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <set>

#include "fsutil/dry_run_disk_interface.h"
#include "fsutil/real_disk_interface.h"
#include "fsutil/reporting_disk_interface.h"
#include "fsutil/testing/temp_folder.h"
#include "fsutil/tree_transfer.h"

namespace dravelkent::testing {
namespace {

constexpr int64_t kOld = 1600000000123456789;

// The mtime of |root|, and every entry below it with its mode, mtime, bytes.
std::string Snapshot(const std::string& root) {
  std::string all = std::to_string(MtimeOf(root));
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = entry.path();
    struct stat st = {};
    lstat(path.c_str(), &st);
    all += "\n" + path + " " + std::to_string(st.st_mode) + " " +
           std::to_string(MtimeOf(path)) + " " + ReadFile(path);
  }
  return all;
}

// Keeps the changes told, relative to |root|, and a transfer's first failure.
struct Told : DiskChangeListener, TransferObserver {
  void OnDiskChange(DiskChange change, const std::string& path,
                    const std::string& to) override {
    const char* what[] = {"made ", "moved ", "copied ", "removed "};
    told += what[static_cast<int>(change)] + path.substr(root.size() + 1) +
            (to.empty() ? "" : ">" + to.substr(root.size() + 1)) + ";";
  }
  void OnFile(FileAction, const std::string&, const std::string&) override {}
  void OnFailure(const Status& failure) override {
    if (failed.ok()) failed = failure;
  }
  std::string root, told;
  Status failed;
};

TEST(DryRunDiskTest, ARunGoesAsTheRealOneAndChangesNothing) {
  TempFolder dir;
  mkdir((dir / "src").c_str(), 0755);
  mkdir((dir / "src/sub").c_str(), 0755);
  for (const char* file : {"a", "b", "taken", "src/x", "src/sub/y"}) {
    ASSERT_TRUE(WriteFile(dir / file, file, 0640, kOld));
  }
  const std::string before = Snapshot(dir.path());
  RealDiskInterface real;
  DryRunDiskInterface dry(&real);
  Told t;
  t.root = dir.path();
  ReportingDiskInterface disk(&dry, &t);
  auto transfer = [&](TransferMode mode) {
    return [&, mode] {
      t.failed = Status::Ok();
      TransferTree(&disk, dir / "src", dir / "new/tree", "20240315", mode, 0,
                   "", "", &t);
      return t.failed;
    };
  };
  const struct {
    std::function<Status()> op;
    int error;  // -1: fails for no errno, refusing the source's kind
    std::string told;
  } steps[] = {
      {[&] { return disk.MakeDir(dir / "new"); }, 0, "made new;"},
      {[&] { return disk.MoveFile(dir / "a", dir / "new/a"); }, 0,
       "moved a>new/a;"},
      {[&] { return disk.CopyFile(dir / "b", dir / "new//b"); }, 0,
       "copied b>new//b;"},
      {[&] { return disk.RemoveFile(dir / "new/a"); }, 0, "removed new/a;"},
      {[&] { return disk.MoveFile(dir / "b", dir / "new/b"); }, EEXIST, ""},
      {[&] { return disk.MoveFile(dir / "b", dir / "taken"); }, EEXIST, ""},
      {[&] { return disk.CopyFile(dir / "a", dir / "c"); }, ENOENT, ""},
      {[&] { return disk.CopyFile(dir / "b", dir / "no/b"); }, ENOENT, ""},
      {[&] { return disk.MakeDir(dir / "new/"); }, EEXIST, ""},
      {[&] { return disk.CopyFile(dir / "src", dir / "c"); }, -1, ""},
      {[&] { return disk.MakeDir(dir / "new/tree"); }, 0, "made new/tree;"},
      {transfer(TransferMode::kCopy), 0,
       "made new/tree/sub;copied src/x>new/tree/x;"
       "copied src/sub/y>new/tree/sub/y;"},
      {transfer(TransferMode::kCopy), 0, ""},  // copies as new as the source
      {transfer(TransferMode::kMove), EEXIST, ""},
  };
  std::vector<Status> results;
  for (const auto& step : steps) {
    t.told.clear();
    results.push_back(step.op());
    SCOPED_TRACE(results.size());
    const int error = results.back().error_number();
    EXPECT_EQ(results.back().ok() ? 0 : error != 0 ? error : -1, step.error);
    EXPECT_EQ(t.told, step.told);
  }
  using Names = std::set<std::string>;
  auto names = [&](const std::string& folder) {
    Status opened;
    Names all;
    DirEntry entry;
    auto list = disk.OpenDir(folder, &opened);
    while (list != nullptr && list->Next(&entry)) all.insert(entry.name);
    return all;
  };
  EXPECT_EQ(names(dir.path()), (Names{".", "..", "b", "new", "src", "taken"}));
  EXPECT_EQ(names(dir / "new"), (Names{".", "..", "b", "tree"}));
  EXPECT_EQ(Snapshot(dir.path()), before);
  // The messages are the real operation's, which fails changing nothing.
  EXPECT_EQ(results[5].message(),
            real.MoveFile(dir / "b", dir / "taken").message());
  EXPECT_EQ(results[7].message(),
            real.CopyFile(dir / "b", dir / "no/b").message());
  EXPECT_EQ(results[9].message(),
            real.CopyFile(dir / "src", dir / "c").message());
}

}  // namespace
}  // namespace dravelkent::testing
