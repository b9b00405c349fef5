// What the Windows Env does that POSIX does not: paths in every form a user
// writes, past 260 characters; times to 100 ns and attributes; moves that
// never replace; read-only files; the lock; saves of the settings file.

#include "fsutil/env_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fsutil/copy.h"
#include "fsutil/disk.h"
#include "fsutil/testing/faulty_env.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 1700000000123456700;  // to 100 ns
constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

std::wstring Long(const std::string& path) {
  std::wstring wide;
  WideOf(path, &wide);
  return L"\\\\?\\" + wide;
}

// Writes the file |path| with |attributes| and, unless 0, |mtime_ns|.
bool Write(const std::string& path, const std::string& bytes,
           DWORD attributes = FILE_ATTRIBUTE_NORMAL, int64_t mtime_ns = 0) {
  std::ofstream(fs::path(Long(path)), std::ios::binary) << bytes;
  HANDLE file = OpenPath(Long(path), FILE_WRITE_ATTRIBUTES, true);
  FileInfo like;
  like.mtime_ns = mtime_ns != 0 ? mtime_ns : kTime;
  like.mode = attributes;
  const bool ok = SetTimeAndAttributes(file, like) == 0;
  CloseHandle(file);
  return ok;
}

std::string Read(const std::string& path) {
  std::ifstream in(fs::path(Long(path)), std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(find, &entry)) {
    const std::wstring name = entry.cFileName, inner = path + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(inner.c_str())) RemoveTree(inner);
  }
  FindClose(find);
  RemoveDirectoryW(path.c_str());
}

// A fresh folder in the temporary folder, removed with all in it, read-only
// or not.
class Scratch {
 public:
  Scratch() {
    static int count = 0;
    path_ = fs::temp_directory_path().string() + "dravelkent-" +
            std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++count);
    fs::create_directory(Long(path_));
  }
  ~Scratch() { RemoveTree(Long(path_)); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "\\" + name;
  }
  // The names in it, sorted, each + " ".
  std::string Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Long(path_))) {
      names.push_back(Utf8Of(entry.path().filename().wstring()) + " ");
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += name;
    return all;
  }

 private:
  std::string path_;
};

// Opens the folder |path| through |env|, name by name.
std::unique_ptr<Folder> Open(Env* env, const std::string& path,
                             Status* status = nullptr) {
  std::unique_ptr<Folder> folder;
  std::string rest;
  Status opened = env->OpenStart(path, &folder, &rest);
  for (size_t at = 0, end; opened.ok() && at < rest.size(); at = end + 1) {
    end = std::min(rest.find_first_of("\\/", at), rest.size());
    std::unique_ptr<Folder> next;
    const std::string name = rest.substr(at, end - at);
    if (name.empty() || name == ".") continue;
    opened = env->OpenFolder(*folder, name, &next);
    if (opened.ok()) folder = std::move(next);
  }
  if (status != nullptr) *status = opened;
  return opened.ok() ? std::move(folder) : nullptr;
}

// A drive path, "/", the current drive's root, the current folder (also of
// a drive), a share, a "\\?\" path: each opens the same folder, and starts
// at its root as written; the rest fail as POSIX would.
TEST(WindowsEnvTest, OpensPathsInEveryForm) {
  Scratch dir;
  ASSERT_TRUE(fs::create_directory(Long(dir / "a")) && Write(dir / "a\\f", ""));
  const std::string drive = dir.path().substr(0, 2),
                    below = dir.path().substr(2);
  std::string slashed = dir / "a", share = "\\\\localhost\\c$" + below + "\\a";
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const fs::path saved = fs::current_path();
  fs::current_path(Long(dir.path()));
  const struct {
    std::string path, root;
    int error;
  } cases[] = {
      {dir / "a", drive + "\\", 0},
      {slashed, drive + "/", 0},
      {"a", "", 0},
      {"a\\..\\.\\a\\", "", 0},
      {drive + "a", drive, 0},
      {below + "\\a", "\\", 0},
      {share, "\\\\localhost\\c$\\", 0},
      {"\\\\?\\" + dir / "a", "\\\\?\\" + drive + "\\", 0},
      {"\\\\?\\UNC" + share.substr(1), "\\\\?\\UNC\\localhost\\c$\\", 0},
      {dir / "a\\f", drive + "\\", ENOTDIR},
      {dir / "none", drive + "\\", ENOENT},
      {dir / "a:b", drive + "\\", EINVAL},
      {"\\\\localhost", "", EINVAL},
  };
  Env* env = Env::Default();
  std::unique_ptr<Folder> a = Open(env, dir / "a");
  ASSERT_NE(a, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Status status;
    std::unique_ptr<Folder> folder = Open(env, c.path, &status);
    EXPECT_EQ(status.error_number(), c.error) << status.message();
    EXPECT_TRUE(c.error != 0 || folder->id() == a->id());
    std::string rest;
    std::unique_ptr<Folder> start;
    if (env->OpenStart(c.path, &start, &rest).ok()) {
      EXPECT_EQ(start->path(), c.root);
    }
  }
  fs::current_path(saved);
}

// Folders made, a copy, a move and a whole-file read past MAX_PATH.
TEST(WindowsEnvTest, PathsPastTheOldLimit) {
  Scratch dir;
  Env* env = Env::Default();
  std::unique_ptr<Folder> folder = Open(env, dir.path());
  std::string path = dir.path();
  for (const char c : {'a', 'b', 'c'}) {
    std::unique_ptr<Folder> made;
    ASSERT_TRUE(
        env->MakeFolder(*folder, std::string(100, c), nullptr, &made).ok());
    folder = std::move(made);
    path += "\\" + std::string(100, c);
  }
  ASSERT_TRUE(Write(path + "\\f", "deep"));
  folder = Open(env, path);
  ASSERT_NE(folder, nullptr);
  FileInfo info;
  ASSERT_TRUE(env->Stat(*folder, "f", Follow::kNo, &info).ok());
  EXPECT_TRUE(CopyOneFile(env, *folder, info, Follow::kNo, *folder, "g",
                          Overwrite::kNothing)
                  .ok());
  EXPECT_TRUE(env->Rename(*folder, "g", *folder, "h").ok());
  WholeFile file;
  EXPECT_TRUE(env->ReadWholeFile(path + "\\h", &file).ok());
  EXPECT_EQ(file.bytes, "deep");
}

// A copy has the source's last-write time to 100 ns and its read-only,
// hidden and archive attributes, none of the temporary's; an older copy is
// replaced, a newer one not. A move, by rename or across volumes by copy,
// never replaces. No temporary stays, read-only as it may be.
TEST(WindowsEnvTest, CopiesAndMovesKeepWhatTheyMust) {
  const struct {
    bool move, across_volumes;
    DWORD attributes;
    Overwrite overwrite;  // a "dst" is there unless kNothing
    int error;
  } cases[] = {
      {false, false, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
       Overwrite::kNothing, 0},
      {false, false, FILE_ATTRIBUTE_ARCHIVE, Overwrite::kFile, 0},
      {false, false, FILE_ATTRIBUTE_READONLY, Overwrite::kOlderFile, EEXIST},
      {true, false, FILE_ATTRIBUTE_READONLY, Overwrite::kNothing, 0},
      {true, false, FILE_ATTRIBUTE_NORMAL, Overwrite::kFile, EEXIST},
      {true, true, FILE_ATTRIBUTE_HIDDEN, Overwrite::kNothing, 0},
      {true, true, FILE_ATTRIBUTE_NORMAL, Overwrite::kFile, EEXIST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.move << c.across_volumes << c.attributes << c.error);
    Scratch dir;
    ASSERT_TRUE(Write(dir / "src", "data", c.attributes, kTime));
    const bool there = c.overwrite != Overwrite::kNothing;
    ASSERT_TRUE(!there || Write(dir / "dst", "old", 0, kTime + 100));
    testing::FaultyEnv env;
    if (c.across_volumes) env.FailAt(testing::Call::kRename, 1, EXDEV);
    Disk disk(&env, RunKind::kReal);
    std::unique_ptr<Folder> folder = Open(&env, dir.path());
    FileInfo entry, copy;
    ASSERT_TRUE(env.Stat(*folder, "src", Follow::kNo, &entry).ok());
    Status done = c.move ? disk.Move(*folder, entry, *folder, "dst")
                         : CopyOneFile(&env, *folder, entry, Follow::kNo,
                                       *folder, "dst", c.overwrite);
    ASSERT_EQ(done.error_number(), c.error) << done.message();
    ASSERT_TRUE(env.Stat(*folder, "dst", Follow::kNo, &copy).ok());
    EXPECT_EQ(Read(dir / "dst"), c.error != 0 ? "old" : "data");
    EXPECT_EQ(copy.mtime_ns, c.error != 0 ? kTime + 100 : kTime);
    EXPECT_EQ(entry.mode & c.attributes & kKept, c.attributes & kKept);
    EXPECT_TRUE(c.error != 0 || (copy.mode & kKept) == (entry.mode & kKept));
    EXPECT_EQ(dir.Names(), c.move && c.error == 0 ? "dst " : "dst src ");
  }
}

// A read-only file may be renamed, not removed; nor may one another handle
// holds without sharing its removal. The failure names it and why.
TEST(WindowsEnvTest, ARemovalThatFailsIsSaid) {
  const struct {
    bool read_only, held;
    int may, error;
  } cases[] = {{true, false, EACCES, EACCES}, {false, true, 0, EBUSY}};
  for (const auto& c : cases) {
    Scratch dir;
    ASSERT_TRUE(
        Write(dir / "f", "x",
              c.read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
    HANDLE held = CreateFileW(Long(dir / "f").c_str(), GENERIC_READ,
                              c.held ? FILE_SHARE_READ : 7, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    Env* env = Env::Default();
    std::unique_ptr<Folder> folder = Open(env, dir.path());
    FileInfo entry;
    ASSERT_TRUE(env->Stat(*folder, "f", Follow::kNo, &entry).ok());
    EXPECT_EQ(env->MayRemove(*folder, entry, Leave::kRemoved).error_number(),
              c.may);
    EXPECT_TRUE(env->MayRemove(*folder, entry, Leave::kRenamed).ok());
    Status removed = env->Remove(*folder, "f");
    EXPECT_EQ(removed.error_number(), c.error) << removed.message();
    EXPECT_NE(removed.message().find(dir / "f: "), std::string::npos);
    EXPECT_EQ(Read(dir / "f"), "x");
    CloseHandle(held);
  }
}

// A second run waits for the lock, told once, and may read the lock file
// meanwhile; a lock file the user may not write is refused at once.
TEST(WindowsEnvTest, TheLockWaitsForItsHolder) {
  Scratch dir;
  const std::string path = dir / "Dravelkent.lock";
  Env* env = Env::Default();
  std::atomic<int> waits = 0;
  auto wait = [&] { ++waits; };
  std::unique_ptr<FileLock> first, second;
  ASSERT_TRUE(env->LockFile(path, SaveStep::kAll, wait, &first).ok());
  Status locked;
  std::thread other(
      [&] { locked = env->LockFile(path, SaveStep::kAll, wait, &second); });
  for (int i = 0; i < 500 && waits == 0; ++i) Sleep(10);
  WholeFile file;
  EXPECT_TRUE(env->ReadWholeFile(path, &file).ok());
  first.reset();
  other.join();
  EXPECT_TRUE(locked.ok()) << locked.message();
  second.reset();
  ASSERT_TRUE(SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_READONLY));
  for (const SaveStep step : {SaveStep::kForesee, SaveStep::kAll}) {
    EXPECT_EQ(env->LockFile(path, step, wait, &first).error_number(), EACCES);
  }
  EXPECT_EQ(waits, 1);
}

// A new file is made; a file of one name is replaced and stays hidden; one
// of two names is rewritten in place. The first steps leave it as it was,
// and no step leaves a temporary file.
TEST(WindowsEnvTest, SavesKeepTheFileWhatItIs) {
  for (const SaveWay way :
       {SaveWay::kNew, SaveWay::kRename, SaveWay::kInPlace}) {
    SCOPED_TRACE(static_cast<int>(way));
    Scratch dir;
    const std::string path = dir / "Dravelkent.ini";
    const bool exists = way != SaveWay::kNew;
    const std::string old_text = exists ? "[a]\r\nk=1\r\n" : "<none>";
    ASSERT_TRUE(!exists || Write(path, old_text, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(way != SaveWay::kInPlace ||
                CreateHardLinkW(Long(dir / "b.ini").c_str(), Long(path).c_str(),
                                nullptr));
    const std::string names = dir.Names();
    Env* env = Env::Default();
    WholeFile file;
    ASSERT_TRUE(env->ReadWholeFile(path, &file).ok());
    ASSERT_EQ(env->ChooseSaveWay(file), way);
    for (const SaveStep step : {SaveStep::kForesee, SaveStep::kFirstOnly}) {
      Status tried = env->SaveWholeFile(file, "[a]\r\nk=22\r\n", way, step);
      EXPECT_TRUE(tried.ok()) << tried.message();
      EXPECT_EQ(Read(path), old_text);
      EXPECT_EQ(dir.Names(), names);
    }
    Status saved =
        env->SaveWholeFile(file, "[a]\r\nk=\r\n", way, SaveStep::kAll);
    ASSERT_TRUE(saved.ok()) << saved.message();
    EXPECT_EQ(Read(path), "[a]\r\nk=\r\n");
    EXPECT_TRUE(way != SaveWay::kInPlace ||
                Read(dir / "b.ini") == "[a]\r\nk=\r\n");
    EXPECT_EQ(GetFileAttributesW(Long(path).c_str()) & FILE_ATTRIBUTE_HIDDEN,
              exists ? FILE_ATTRIBUTE_HIDDEN : 0u);
    EXPECT_EQ(dir.Names(), exists ? names : "Dravelkent.ini ");
  }
}

}  // namespace
}  // namespace dravelkent
