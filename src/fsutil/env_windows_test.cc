// What the Windows Env does that POSIX does not: paths in every form a user
// writes, past 260 characters; times to 100 ns and attributes; moves that
// never replace; failures of removal; the lock; saves of the settings file.

#include "fsutil/env_windows.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef CopyFile  // <windows.h>'s; copy.h's is meant

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "fsutil/copy.h"
#include "fsutil/disk.h"
#include "fsutil/testing/faulty_env.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 1700000000123456700;  // to 100 ns
constexpr int64_t kNewer = kTime + 100;
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
  HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), bytes.size(), &written, nullptr);
  const uint64_t ticks = FileTimeOfNs(mtime_ns);
  const FILETIME time = {DWORD(ticks), DWORD(ticks >> 32)};
  ok = ok && (mtime_ns == 0 || SetFileTime(file, nullptr, nullptr, &time));
  CloseHandle(file);
  return ok && SetFileAttributesW(Long(path).c_str(), attributes);
}

std::string Read(const std::string& path) {
  std::ifstream in(fs::path(Long(path)), std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

DWORD Attributes(const std::string& path) {
  return GetFileAttributesW(Long(path).c_str());
}

// Removes the folder |path| ("\\?\" form) and all in it, read-only or not.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(find, &entry)) {
    const std::wstring name = entry.cFileName, inner = path + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(inner);
    } else {
      DeleteFileW(inner.c_str());
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  RemoveDirectoryW(path.c_str());
}

// A fresh folder in the temporary folder, removed with all in it.
class Scratch {
 public:
  Scratch() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    do {
      path_ = Utf8Of(temp) + "dravelkent-" + Utf8Of(NewTempName()).substr(12);
    } while (!CreateDirectoryW(Long(path_).c_str(), nullptr));
  }
  ~Scratch() { RemoveTree(Long(path_)); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "\\" + name;
  }
  // The names in it, sorted, each + " ".
  std::string Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Long(path_))) {
      names.insert(Utf8Of(entry.path().filename().wstring()) + " ");
    }
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
  for (size_t at = 0; opened.ok() && at < rest.size();) {
    size_t end = at;
    while (end < rest.size() && !IsPathSeparator(rest[end])) ++end;
    const std::string name = rest.substr(at, end - at);
    std::unique_ptr<Folder> next;
    if (!name.empty() && name != ".") {
      opened = env->OpenFolder(*folder, name, &next);
      if (opened.ok()) folder = std::move(next);
    }
    at = end + 1;
  }
  if (status != nullptr) *status = opened;
  return opened.ok() ? std::move(folder) : nullptr;
}

// A drive path, "/", the current drive's root, the current folder (also of
// a drive), a share, a "\\?\" path: each opens the same folder; the rest
// fail as POSIX would.
TEST(WindowsEnvTest, OpensPathsInEveryForm) {
  Scratch dir;
  ASSERT_TRUE(CreateDirectoryW(Long(dir / "a").c_str(), nullptr));
  ASSERT_TRUE(Write(dir / "a\\file", ""));
  const std::string drive = dir.path().substr(0, 2);
  const std::string below = dir.path().substr(2);
  std::string slashed = dir / "a";
  std::string unc_slashed = "//localhost/c$" + below + "/a";
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  std::replace(unc_slashed.begin(), unc_slashed.end(), '\\', '/');
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(Long(dir.path()).c_str() + 4));
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
      {"\\\\localhost\\c$" + below + "\\a", "\\\\localhost\\c$\\", 0},
      {unc_slashed, "//localhost/c$/", 0},
      {"\\\\?\\" + dir / "a", "\\\\?\\" + drive + "\\", 0},
      {"\\\\?\\UNC\\localhost\\c$" + below + "\\a",
       "\\\\?\\UNC\\localhost\\c$\\", 0},
      {dir / "a\\file", drive + "\\", ENOTDIR},
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
    EXPECT_TRUE(c.error != 0 ||
                (folder && folder->id().inode == a->id().inode));
    std::string rest;
    std::unique_ptr<Folder> start;
    if (env->OpenStart(c.path, &start, &rest).ok()) {
      EXPECT_EQ(start->path(), c.root);
    }
  }
  SetCurrentDirectoryW(saved);
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
  EXPECT_TRUE(CopyFile(env, *folder, info, Follow::kNo, *folder, "g",
                       Overwrite::kNothing)
                  .ok());
  EXPECT_TRUE(env->Rename(*folder, "g", *folder, "h").ok());
  WholeFile file;
  EXPECT_TRUE(env->ReadWholeFile(path + "\\h", &file).ok());
  EXPECT_EQ(file.bytes, "deep");
}

// The copy has the source's last-write time to 100 ns and its read-only,
// hidden and archive attributes, none of the temporary's; an older copy is
// replaced, a name taken meanwhile is not. No temporary is left, read-only
// as it may be.
TEST(WindowsEnvTest, CopiesKeepTheTimeAndTheAttributes) {
  const struct {
    DWORD attributes;
    Overwrite overwrite;  // a "dst" is there unless kNothing
    int error;
  } cases[] = {
      {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, Overwrite::kNothing, 0},
      {FILE_ATTRIBUTE_ARCHIVE, Overwrite::kFile, 0},
      {FILE_ATTRIBUTE_NORMAL, Overwrite::kNothing, 0},
      {FILE_ATTRIBUTE_READONLY, Overwrite::kOlderFile, EEXIST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attributes);
    Scratch dir;
    ASSERT_TRUE(Write(dir / "src", "data", c.attributes, kTime));
    const bool there = c.overwrite != Overwrite::kNothing;
    ASSERT_TRUE(!there ||
                Write(dir / "dst", "old", FILE_ATTRIBUTE_NORMAL, kNewer));
    Env* env = Env::Default();
    std::unique_ptr<Folder> folder = Open(env, dir.path());
    FileInfo entry, copy;
    ASSERT_TRUE(env->Stat(*folder, "src", Follow::kNo, &entry).ok());
    Status copied =
        CopyFile(env, *folder, entry, Follow::kNo, *folder, "dst", c.overwrite);
    ASSERT_EQ(copied.error_number(), c.error) << copied.message();
    ASSERT_TRUE(env->Stat(*folder, "dst", Follow::kNo, &copy).ok());
    EXPECT_EQ(Read(dir / "dst"), c.error != 0 ? "old" : "data");
    EXPECT_EQ(copy.mtime_ns, c.error != 0 ? kNewer : kTime);
    EXPECT_EQ(entry.mode & c.attributes & kKept, c.attributes & kKept);
    EXPECT_TRUE(c.error != 0 || (copy.mode & kKept) == (entry.mode & kKept));
    EXPECT_EQ(dir.Names(), "dst src ");
  }
}

// A move, by rename or across volumes by copy, never replaces.
TEST(WindowsEnvTest, MovesNeverReplace) {
  const struct {
    bool across_volumes;
    const char* to;
    int error;
  } cases[] = {{false, "b", EEXIST},
               {false, "c", 0},
               {true, "b", EEXIST},
               {true, "c", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.to) + (c.across_volumes ? " across" : ""));
    Scratch dir;
    ASSERT_TRUE(Write(dir / "a", "a") && Write(dir / "b", "b"));
    testing::FaultyEnv env;
    if (c.across_volumes) env.FailAt(testing::Call::kRename, 1, EXDEV);
    Disk disk(&env, RunKind::kReal);
    std::unique_ptr<Folder> folder = Open(&env, dir.path());
    FileInfo entry;
    ASSERT_TRUE(env.Stat(*folder, "a", Follow::kNo, &entry).ok());
    Status moved = disk.Move(*folder, entry, *folder, c.to);
    EXPECT_EQ(moved.error_number(), c.error) << moved.message();
    EXPECT_EQ(Read(dir / "b"), "b");
    EXPECT_EQ(dir.Names(), c.error != 0 ? "a b " : "b c ");
    EXPECT_EQ(Read(dir / c.to), c.error != 0 ? "b" : "a");
  }
}

// A read-only file, or one another handle holds without sharing its
// removal, stays; the failure names it and why.
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
    HANDLE held = c.held ? CreateFileW(Long(dir / "f").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       0, nullptr)
                         : INVALID_HANDLE_VALUE;
    Env* env = Env::Default();
    std::unique_ptr<Folder> folder = Open(env, dir.path());
    FileInfo entry;
    ASSERT_TRUE(env->Stat(*folder, "f", Follow::kNo, &entry).ok());
    EXPECT_EQ(env->MayRemove(*folder, entry).error_number(), c.may);
    Status removed = env->Remove(*folder, "f");
    EXPECT_EQ(removed.error_number(), c.error) << removed.message();
    EXPECT_NE(removed.message().find(dir / "f: "), std::string::npos);
    EXPECT_EQ(Read(dir / "f"), "x");
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
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
  EXPECT_EQ(waits, 1);
  second.reset();
  ASSERT_TRUE(SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_READONLY));
  for (const SaveStep step : {SaveStep::kForesee, SaveStep::kAll}) {
    EXPECT_EQ(env->LockFile(path, step, wait, &first).error_number(), EACCES)
        << static_cast<int>(step);
    first.reset();
  }
  EXPECT_EQ(waits, 1);
}

// A new file is made; a file of one name is replaced and keeps its hidden
// attribute; one of two names is rewritten in place. The first steps leave
// it as it was, and no step leaves a temporary file.
TEST(WindowsEnvTest, SavesKeepTheFileWhatItIs) {
  const struct {
    bool exists, second_name;
    SaveWay way;
  } cases[] = {{false, false, SaveWay::kNew},
               {true, false, SaveWay::kRename},
               {true, true, SaveWay::kInPlace}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.way));
    Scratch dir;
    const std::string path = dir / "Dravelkent.ini";
    const std::string old_text = c.exists ? "[a]\r\nk=1\r\n" : "<none>";
    ASSERT_TRUE(!c.exists || Write(path, old_text, FILE_ATTRIBUTE_HIDDEN));
    if (c.second_name) {
      ASSERT_TRUE(CreateHardLinkW(Long(dir / "b.ini").c_str(),
                                  Long(path).c_str(), nullptr));
    }
    const std::string names = dir.Names();
    Env* env = Env::Default();
    WholeFile file;
    ASSERT_TRUE(env->ReadWholeFile(path, &file).ok());
    ASSERT_EQ(env->ChooseSaveWay(file), c.way);
    for (const SaveStep step : {SaveStep::kForesee, SaveStep::kFirstOnly}) {
      Status tried = env->SaveWholeFile(file, "[a]\r\nk=22\r\n", c.way, step);
      EXPECT_TRUE(tried.ok()) << tried.message();
      EXPECT_EQ(Read(path), old_text);
      EXPECT_EQ(dir.Names(), names);
    }
    Status saved =
        env->SaveWholeFile(file, "[a]\r\nk=\r\n", c.way, SaveStep::kAll);
    ASSERT_TRUE(saved.ok()) << saved.message();
    EXPECT_EQ(Read(path), "[a]\r\nk=\r\n");
    EXPECT_TRUE(!c.second_name || Read(dir / "b.ini") == "[a]\r\nk=\r\n");
    EXPECT_EQ(Attributes(path) & FILE_ATTRIBUTE_HIDDEN,
              c.exists ? FILE_ATTRIBUTE_HIDDEN : 0u);
    EXPECT_EQ(dir.Names(), c.exists ? names : "Dravelkent.ini ");
  }
}

}  // namespace
}  // namespace dravelkent
