// The Windows Env where POSIX has no like: path forms past 260 characters,
// times, attributes, read-only files; the lock and saves.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "base/system_windows.h"
#include "fsutil/copy.h"
#include "fsutil/disk.h"

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

bool Write(const std::string& path, const std::string& bytes,
           DWORD attributes = FILE_ATTRIBUTE_NORMAL, int64_t mtime_ns = kTime) {
  std::ofstream(fs::path(Long(path)), std::ios::binary) << bytes;
  HANDLE file = CreateFileW(Long(path).c_str(), FILE_WRITE_ATTRIBUTES, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  const uint64_t ticks = mtime_ns / 100 + 116444736000000000;
  const FILETIME time = {DWORD(ticks), DWORD(ticks >> 32)};
  const bool ok = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  return ok && SetFileAttributesW(Long(path).c_str(), attributes);
}

std::string Read(const std::string& path) {
  std::ifstream in(fs::path(Long(path)), std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

// The names in the folder |path| ("\\?\" form), sorted; with |remove| each
// is removed, read-only or not, and then the folder.
std::string Names(const std::wstring& path, bool remove = false) {
  std::set<std::string> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(find, &entry)) {
    const std::wstring name = entry.cFileName, inner = path + L"\\" + name;
    if (name == L"." || name == L"..") continue;
    names.insert(Utf8Of(name) + " ");
    if (remove && SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL) &&
        !DeleteFileW(inner.c_str())) {
      Names(inner, true);
    }
  }
  FindClose(find);
  if (remove) RemoveDirectoryW(path.c_str());
  std::string all;
  for (const std::string& name : names) all += name;
  return all;
}

// A fresh folder past MAX_PATH in the temporary folder, removed at the end.
struct Scratch {
  Scratch() {
    static int count = 0;
    path_ = top_ = fs::temp_directory_path().string() + "dravelkent-" +
                   std::to_string(GetCurrentProcessId() * 100 + ++count);
    for (char c : {'a', 'b', 'c'}) path_ += "\\" + std::string(100, c);
    fs::create_directories(Long(path_));
  }
  ~Scratch() { dravelkent::Names(Long(top_), true); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "\\" + name;
  }
  std::string Names() const { return dravelkent::Names(Long(path_)); }
  std::string top_, path_;
};

// Opens the folder |path| name by name from where it starts, named |*root|.
std::unique_ptr<Folder> Open(Env* env, const std::string& path,
                             Status* status = nullptr,
                             std::string* root = nullptr) {
  std::unique_ptr<Folder> folder, next;
  std::string rest;
  Status opened = env->OpenStart(path, &folder, &rest);
  if (root != nullptr) *root = opened.ok() ? folder->path() : "?";
  for (size_t at = 0, end; opened.ok() && at < rest.size(); at = end + 1) {
    end = std::min(rest.find_first_of("\\/", at), rest.size());
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
  const std::string drive = dir.path().substr(0, 2);
  const std::string below = dir.path().substr(2);
  std::string slashed = dir / "a", share = "\\\\localhost\\c$" + below + "\\a";
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const struct {
    std::string path, root;
    int error;
  } cases[] = {
      {dir / "a", drive + "\\", 0},
      {slashed, drive + "/", 0},
      {"a\\..\\.\\a\\", "", 0},
      {drive + "a", drive, 0},
      {below + "\\a", "\\", 0},
      {share, "\\\\localhost\\c$\\", 0},
      {"\\\\?\\" + dir / "a", "\\\\?\\" + drive + "\\", 0},
      {"\\\\?\\UNC" + share.substr(1), "\\\\?\\UNC\\localhost\\c$\\", 0},
      {dir / "a\\f", drive + "\\", ENOTDIR},
      {dir / "none", drive + "\\", ENOENT},
      {dir / "a:b", drive + "\\", EINVAL},
      {"\\\\localhost", "?", EINVAL},
  };
  const fs::path saved = fs::current_path();
  fs::current_path(Long(dir.path()));
  Env* env = Env::Default();
  std::unique_ptr<Folder> a = Open(env, dir / "a");
  ASSERT_NE(a, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    Status status;
    std::string root;
    std::unique_ptr<Folder> folder = Open(env, c.path, &status, &root);
    EXPECT_EQ(status.error_number(), c.error) << status.message();
    EXPECT_TRUE(c.error != 0 || folder->id() == a->id());
    EXPECT_EQ(root, c.root);
  }
  fs::current_path(saved);
}

// A copy has the source's time to 100 ns and its read-only, hidden and
// archive attributes, none of the temporary's; an older copy is replaced, a
// newer one not. A move, by rename or across volumes by copy, never
// replaces; a read-only file moves. A read-only file, or one held without
// its removal shared, is not removed, and the failure names it and why. No
// temporary stays, read-only as it may be.
TEST(WindowsEnvTest, CopiesMovesAndRemovalsKeepWhatTheyMust) {
  enum Action { kCopy, kMove, kRemove, kRemoveHeld };
  const struct {
    Action action;
    DWORD attributes;
    Overwrite overwrite;  // a newer "dst" is there unless kNothing
    int error;
    const char* names;
  } cases[] = {
      {kCopy, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
       Overwrite::kNothing, 0, "dst src "},
      {kCopy, FILE_ATTRIBUTE_ARCHIVE, Overwrite::kFile, 0, "dst src "},
      {kCopy, FILE_ATTRIBUTE_READONLY, Overwrite::kOlderFile, EEXIST,
       "dst src "},
      {kMove, FILE_ATTRIBUTE_READONLY, Overwrite::kNothing, 0, "dst "},
      {kMove, FILE_ATTRIBUTE_NORMAL, Overwrite::kFile, EEXIST, "dst src "},
      {kRemove, FILE_ATTRIBUTE_READONLY, Overwrite::kNothing, EACCES, "src "},
      {kRemoveHeld, FILE_ATTRIBUTE_NORMAL, Overwrite::kNothing, EBUSY, "src "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.action << " " << c.attributes);
    Scratch dir;
    ASSERT_TRUE(Write(dir / "src", "data", c.attributes));
    ASSERT_TRUE(c.overwrite == Overwrite::kNothing ||
                Write(dir / "dst", "old", FILE_ATTRIBUTE_NORMAL, kTime + 100));
    HANDLE held = CreateFileW(Long(dir / "src").c_str(), GENERIC_READ,
                              c.action == kRemoveHeld ? FILE_SHARE_READ : 7,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    Env& env = *Env::Default();
    Disk disk(&env, RunKind::kReal);
    std::unique_ptr<Folder> folder = Open(&env, dir.path());
    FileInfo entry, copy;
    ASSERT_TRUE(env.Stat(*folder, "src", Follow::kNo, &entry).ok());
    Status done = c.action >= kRemove ? disk.Remove(*folder, entry)
                  : c.action == kCopy
                      ? CopyOneFile(&env, *folder, entry, Follow::kNo, *folder,
                                    "dst", c.overwrite)
                      : disk.Move(*folder, entry, *folder, "dst");
    CloseHandle(held);
    EXPECT_EQ(done.error_number(), c.error) << done.message();
    EXPECT_TRUE(c.error == 0 ||
                done.message().find(dir / "src") != std::string::npos);
    EXPECT_EQ(dir.Names(), c.names);
    if (c.action >= kRemove) continue;
    ASSERT_TRUE(env.Stat(*folder, "dst", Follow::kNo, &copy).ok());
    EXPECT_EQ(Read(dir / "dst"), c.error != 0 ? "old" : "data");
    EXPECT_EQ(copy.mtime_ns, c.error != 0 ? kTime + 100 : kTime);
    EXPECT_EQ(entry.mode & c.attributes & kKept, c.attributes & kKept);
    EXPECT_TRUE(c.error != 0 || (copy.mode & kKept) == (entry.mode & kKept));
  }
}

// A second run waits for the lock, told once, and may read the lock file
// meanwhile; a lock file the user may not write is refused at once. A new
// settings file is made; a file of one name is replaced and stays hidden;
// one of two names is rewritten in place. The first steps of a save leave
// it as it was, and no step leaves a temporary file.
TEST(WindowsEnvTest, TheLockAndSaves) {
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

  for (const SaveWay way :
       {SaveWay::kNew, SaveWay::kRename, SaveWay::kInPlace}) {
    SCOPED_TRACE(static_cast<int>(way));
    Scratch folder;
    const std::string ini = folder / "Dravelkent.ini";
    const bool exists = way != SaveWay::kNew;
    const std::string old_text = exists ? "[a]\r\nk=1\r\n" : "<none>";
    ASSERT_TRUE(!exists || Write(ini, old_text, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(way != SaveWay::kInPlace ||
                CreateHardLinkW(Long(folder / "b.ini").c_str(),
                                Long(ini).c_str(), nullptr));
    const std::string names = folder.Names();
    ASSERT_TRUE(env->ReadWholeFile(ini, &file).ok());
    ASSERT_EQ(env->ChooseSaveWay(file), way);
    for (const SaveStep step : {SaveStep::kForesee, SaveStep::kFirstOnly}) {
      EXPECT_TRUE(env->SaveWholeFile(file, "[a]\r\nk=22\r\n", way, step).ok());
      EXPECT_EQ(Read(ini), old_text);
      EXPECT_EQ(folder.Names(), names);
    }
    Status saved =
        env->SaveWholeFile(file, "[a]\r\nk=\r\n", way, SaveStep::kAll);
    ASSERT_TRUE(saved.ok()) << saved.message();
    EXPECT_EQ(Read(ini), "[a]\r\nk=\r\n");
    EXPECT_TRUE(way != SaveWay::kInPlace ||
                Read(folder / "b.ini") == "[a]\r\nk=\r\n");
    EXPECT_EQ(GetFileAttributesW(Long(ini).c_str()) & FILE_ATTRIBUTE_HIDDEN,
              exists ? FILE_ATTRIBUTE_HIDDEN : 0u);
    EXPECT_EQ(folder.Names(), exists ? names : "Dravelkent.ini ");
  }
}

}  // namespace
}  // namespace dravelkent
