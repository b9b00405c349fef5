#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <csignal>
#include <random>

#include "base/text_util.h"
#include "fsutil/env_posix.h"
#include "fsutil/testing/temp_folder.h"
#include "settings/ini_text.h"
#include "settings/settings_store.h"
#include "settings/testing/ini_fuzz_checks.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using testing::ListTree;
using testing::ReadFile;

#define KIHON "\x8a\xee\x96\x7b"   // 基本 in CP932
#define SETTEI "\x90\xdd\x92\xe8"  // 設定 in CP932
#define HYO "\x95\x5c"             // 表: trail byte 0x5C
#define ZO "\x83\x5d"              // ゾ: trail byte "]"
#define BOM16 "\xff\xfe"           // UTF-16LE, where 上 is 0A 4E
#define A16 "[\0a\0]\0\r\0\n\0"    // [a] CRLF in UTF-16LE

// Reads of [section] k, in the encoding our section names, else all lines,
// tell.
TEST(FindIniValueTest, ReadsTheFirstMatchInTheFilesEncoding) {
  const std::tuple<std::string_view, std::string_view,
                   std::optional<std::string>>
      cases[] = {
          {"[Basic]\nK='On'", "bASIC", "On"},
          {" \t[ a ] x\n\t k \t= \t\"On \" \v\f\n", "a", "On "},
          {"[a]\n;k=1\n  ; k=2\nk\nk=3\nk=4", "a", "3"},
          {"[a]\nx=1\n[a]\nk=2\n", "a", std::nullopt},
          {"k=1\n[a]\n[b]k=1\n", "a", std::nullopt},
          {"[a]\nk=\xC0\xAF", "a", "ﾀｯ"},
          {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "C:\\表"},
          {"[" ZO "x]\r\nk=" ZO "\r\n", "ゾx", "ゾ"},
          {"\xEF\xBB\xBF" HYO "\n[a]\nk=表", "a", "表"},
          {"; caf\xE9\n ;" KIHON "\n" HYO "\n[基本]\nk=On", "基本", "On"},
          {"[a]\nx=—\nk=" HYO "\n[" HYO "]", "a", "表"},
          {"[基本]\nx=\x83\x8d\n[設定]\nk=On", "設定", "On"},
          {"[" KIHON "]\nk=" HYO "\n[基本]\nk=1", "基本", "1"},
          {"[基本]\n[" KIHON "]\nk=" HYO "\n[ " SETTEI " ]", "基本", "表"},
          {BOM16 A16 "k\0=\0\x0A\x4E\x3D\xD8\x00\xDE"sv, "a", "上😀"}};
  for (const auto& [file, section, expected] : cases) {
    EXPECT_EQ(FindIniValue(file, section, "k"), expected)
        << ::testing::PrintToString(file);
  }
}

// Writes of [section] key: the file after, or why not.
TEST(SetIniValueTest, EditsOnlyWhatTheWriteNamesOrSaysWhyNot) {
  const std::tuple<std::string_view, std::string_view, std::string_view,
                   std::string_view, std::string_view>
      cases[] = {
          {"[a]\r\n K = 1 \r\n", "a", "k", "2", "[a]\r\n K =2\r\n"},
          {"[a]\nk= \"On\" \n", "a", "k", "On", "[a]\nk= \"On\" \n"},
          {"[a]\nk=1", "a", "k", " x ", "[a]\nk=\" x \""},
          {"[a]\nk=1\n", "a", "k", "'x'", "[a]\nk=\"'x'\"\n"},
          {"[a]\n;e\n\n[b]\n", "a", "k", "", "[a]\n;e\nk=\n\n[b]\n"},
          {"[a]\rx=1\r", "b", "k", "v", "[a]\rx=1\r[b]\rk=v\r"},
          {"[a]\r\nx=1", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
          {"\xEF\xBB\xBF[a]", "a", "k", "表", "\xEF\xBB\xBF[a]\nk=表\n"},
          {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "k", "D:\\表\\",
           "[" KIHON "]\r\nk=D:\\" HYO "\\\r\n"},
          {"[a]\rx=1\n\n", "a", "k", "2", "[a]\rx=1\nk=2\n\n"},
          {";caf\xE9=1\n[a]\n", "b", "k", "v", ";caf\xE9=1\n[a]\n[b]\nk=v\n"},
          {"; " KIHON "\r\n", "基本", "k", "表",
           "; " KIHON "\r\n[" KIHON "]\r\nk=" HYO "\r\n"},
          {BOM16 A16 "k\0=\0\x0A\x4E\r\0\n\0"sv, "a", "k", "表",
           BOM16 A16 "k\0=\0\x68\x88\r\0\n\0"sv},
          {BOM16 A16 "x\0=\0\x0A\x4E"sv, "a", "k", "v",
           BOM16 A16 "x\0=\0\x0A\x4E\r\0\n\0k\0=\0v\0\r\0\n\0"sv},
          {BOM16 "[\0a\0]\0x"sv, "b", "k", "v",
           BOM16 "[\0a\0]\0\n\0[\0b\0]\0\n\0k\0=\0v\0\n\0x"sv},
          {"[a]\r\nk=" HYO "\r\n", "a", "k", "😀",
           "the value has no form in the file's encoding (CP932)"},
          {"\xFE\xFF\0[\0a\0]"sv, "a", "k", "1",
           "the file's encoding (UTF-16BE) cannot be written"},
          {"[a]\nk=" HYO "\n\xC2\xB2=1\n", "a", "k", "1",  // ²
           "the file is CP932 only because of the old value; without it the "
           "file would read as UTF-8 and its other lines would change"},
          {"", "a", "k=x", "1\r", "the name or the value would not read back"},
          {"", "a]b", "k", "1", "the name or the value would not read back"},
          {"\xEF\xBB\xBF[" KIHON "]\n", "基本", "k", "1",
           "the section is not in the file, and 1 of its lines (the first is "
           "line 1) are not valid UTF-8 with byte order mark; one of them may "
           "be the section, so none is added"},
          {BOM16 "[\0a\0]\0\n\0x\0=\0\x00\xD8\n\0"sv, "b", "k", "1",
           "the section is not in the file, and 1 of its lines (the first is "
           "line 2) are not valid UTF-16LE; one of them may be the section, "
           "so none is added"}};
  for (const auto& [before, section, key, value, expected] : cases) {
    std::string after;
    const Status status = SetIniValue(before, section, key, value, "f", &after);
    EXPECT_EQ(status.ok() ? after : status.message(),
              status.ok() ? std::string(expected)
                          : FormatText("cannot write %s in [%s] of f: %s",
                                       {key, section, expected}))
        << ::testing::PrintToString(before);
  }
}

// What the fuzzer found, its seeds and random slices of a soup pass its checks.
TEST(IniFuzzChecksTest, FoundInputsSeedsAndSlicesPass) {
  std::vector<std::string> files;
  for (const char* folder : {"regressions", "corpus"}) {
    for (const auto& entry : fs::directory_iterator(
             fs::path(DRAVELKENT_FUZZ_DIR) / folder / "settings")) {
      files.push_back(ReadFile(entry.path()));
    }
  }
  EXPECT_GT(files.size(), 12u);
  const std::string soup = "[a]\r\n k = 'x'\n;[A ]\rkk=\"\x81" HYO ZO
                           "\v表\n[b]= \"\t\xEF\xBB\xBF\xFF\xFE" +
                           std::string(1, '\0');
  std::mt19937 random(12345);
  while (files.size() < 1500) {
    std::string& file = files.emplace_back();
    for (int i = static_cast<int>(random() % 12); i > 0; --i) {
      file += soup.substr(random() % soup.size(), random() % 8);
    }
  }
  for (const std::string& file : files) {
    EXPECT_EQ(CheckSettingsFile(file), "") << ::testing::PrintToString(file);
  }
}

// A new file follows the umask; a replaced one keeps its mode and names; one
// a rename would part from its owner, attributes or names is rewritten.
TEST(SettingsStoreTest, SaveKeepsTheModeOwnerAndEveryNameOfTheFile) {
  enum Link { kNew, kNone, kHard, kSymbolic, kOwner, kAttribute };
  const std::pair<Link, mode_t> cases[] = {{kNew, 0640},   {kNone, 0604},
                                           {kHard, 0660},  {kSymbolic, 0600},
                                           {kOwner, 0664}, {kAttribute, 0644}};
  for (const auto& [link, mode] : cases) {
    SCOPED_TRACE(link);
    testing::TempFolder dir;
    const std::string path = dir / "Dravelkent.ini";
    const std::string file =
        link == kHard || link == kSymbolic ? dir / "real.ini" : path;
    if (link != kNew) testing::WriteFile(file, "[a]\r\nk=1\r\n", mode);
    if (link == kHard) fs::create_hard_link(file, path);
    if (link == kSymbolic) fs::create_symlink("real.ini", path);
    // Only root gives a file away; some file systems take no attributes.
    if ((link == kOwner &&
         (geteuid() != 0 || chown(file.c_str(), 1234, 5678))) ||
        (link == kAttribute &&
         setxattr(file.c_str(), "user.note", "x", 1, 0))) {
      continue;
    }
    struct stat old_info = {}, info;
    stat(file.c_str(), &old_info);
    SettingsStore store(Env::Default(), path);
    FileChange change;
    EXPECT_TRUE(
        store.CheckWrite("a", "k", "", SaveStep::kFirstOnly, &change).ok());
    const mode_t old_mask = umask(027);
    ASSERT_TRUE(store.Write("a", "k", "").ok());
    umask(old_mask);
    EXPECT_EQ(ReadFile(file), link == kNew ? "[a]\nk=\n" : "[a]\r\nk=\r\n");
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    EXPECT_EQ(info.st_uid, old_info.st_uid);
    EXPECT_EQ(info.st_ino == old_info.st_ino, link == kHard || link >= kOwner);
    EXPECT_EQ(fs::is_symlink(path), link == kSymbolic);
    EXPECT_EQ(ListTree(dir.path()),
              file == path ? "Dravelkent.ini " : "Dravelkent.ini real.ini ");
  }
}

enum Block { kSizeLimit, kFsyncFails, kReadOnlyFile, kUnreadable, kFolder };

// Saves in |dir| with |block| in the way; returns what went wrong, or "".
// Only a folder that takes no new file lets the save through, in place.
std::string CheckBlockedSave(int block, const std::string& dir) {
  const std::string path = dir + "/Dravelkent.ini", old_bytes = "[a]\nk=1\n";
  fs::create_directory(dir);
  testing::WriteFile(path, old_bytes,
                     block == kReadOnlyFile ? 0444
                     : block == kUnreadable ? 0200
                                            : 0644);
  if (block == kFolder) chmod(dir.c_str(), 0555);
  const struct rlimit limit = {8, 8};
  struct sock_filter fail_fsync[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
  struct sock_fprog filter = {std::size(fail_fsync), fail_fsync};
  if ((block == kSizeLimit && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
                               setrlimit(RLIMIT_FSIZE, &limit) != 0)) ||
      (block == kFsyncFails &&
       (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0))) {
    return "cannot block the save";
  }
  PosixEnv env;  // of this user, as the child has become
  SettingsStore store(&env, path);
  const std::string value(100, 'x');
  FileChange change;
  const Status same = store.Write("a", "k", "1");
  const Status probed =
      store.CheckWrite("a", "k", value, SaveStep::kFirstOnly, &change);
  const Status written = store.Write("a", "k", value);
  chmod(dir.c_str(), 0755);
  chmod(path.c_str(), 0600);
  const bool saved = block == kFolder;
  const bool probe_fails = !saved && block != kFsyncFails;
  if (same.ok() == (block == kUnreadable)) return "same: " + same.message();
  if (probed.ok() == probe_fails ||
      (probe_fails && probed.message() != written.message())) {
    return "probe: " + probed.message();  // an fsync fails in the save only
  }
  if (written.ok() != saved ||
      (!saved && written.message().find(path) == std::string::npos)) {
    return "write: " + written.message();
  }
  if (ReadFile(path) != (saved ? "[a]\nk=" + value + "\n" : old_bytes)) {
    return "the bytes";
  }
  return ListTree(dir) == "Dravelkent.ini " ? "" : "a file stayed behind";
}

TEST(SettingsStoreTest, BlockedSaveKeepsTheOldBytesAndNoTemporaryFile) {
  testing::TempFolder temp;
  ASSERT_EQ(chmod(temp.path().c_str(), 0777), 0);  // for nobody
  for (int block = kSizeLimit; block <= kFolder; ++block) {
    pid_t child = fork();
    if (child == 0) {  // as nobody: root may write any file
      std::string broken =
          geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)
              ? CheckBlockedSave(block, temp / std::to_string(block))
              : "cannot become nobody";
      if (!broken.empty()) std::fprintf(stderr, "%s\n", broken.c_str());
      _exit(broken.empty() ? 0 : 1);
    }
    int status = 0;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0) << block;
  }
}

}  // namespace
}  // namespace dravelkent
