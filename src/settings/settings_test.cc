#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "fsutil/env_posix.h"
#include "settings/ini_text.h"
#include "settings/settings_store.h"
#include "settings/testing/ini_fuzz_checks.h"

namespace dravelkent {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

#define KIHON "\x8a\xee\x96\x7b"   // 基本 in CP932
#define SETTEI "\x90\xdd\x92\xe8"  // 設定 in CP932
#define HYO "\x95\x5c"             // 表: trail byte 0x5C
#define ZO "\x83\x5d"              // ゾ: trail byte "]"
#define LOG "\x83\x8d\x83\x4f"     // ログ in CP932
#define BOM16 "\xff\xfe"           // UTF-16LE, where 上 is 0A 4E
#define A16 "[\0a\0]\0\r\0\n\0"    // [a] CRLF in UTF-16LE

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

size_t CountEntries(const std::string& dir) {
  return std::distance(fs::directory_iterator(dir), {});
}

// Reads of [section] k; the encoding is decided by our own section names, or
// else by all lines.
TEST(FindIniValueTest, ReadsTheFirstMatchInTheFilesEncoding) {
  const std::tuple<std::string_view, std::string_view,
                   std::optional<std::string>>
      cases[] = {
          {"[Basic]\nK=On", "bASIC", "On"},
          {" \t[ a ] x\n\t k \t= \tOn \v\f\n", "a", "On"},
          {"[a]\nk=\"C:\\My Files\"", "a", "C:\\My Files"},
          {"[a]\nk='x'", "a", "x"},
          {"[a]\nk=1\nk=2\n[a]\nk=3\n", "a", "1"},
          {"[a]\nx=1\n[a]\nk=2\n", "a", std::nullopt},
          {"[a]\n;k=1\n  ; k=2\nk\nk=3", "a", "3"},
          {"k=1\n[a]\n[b]k=1\n", "a", std::nullopt},
          {"[a]\nk=\xC0\xAF", "a", "ﾀｯ"},
          {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "C:\\表"},
          {"[" ZO "x]\r\nk=" ZO "\r\n", "ゾx", "ゾ"},
          {"\xEF\xBB\xBF" HYO "\n[a]\nk=表", "a", "表"},
          {"; caf\xE9\n ;" KIHON "\n" HYO "\n[基本]\nk=On", "基本", "On"},
          {"[a]\nx=—\nk=" HYO "\n[" HYO "]", "a", "表"},
          {"[基本]\nx=" LOG "\n[設定]\nk=On", "設定", "On"},
          {"[設定]\nx=\xC4rger\nk=On", "設定", "On"},
          {"[" KIHON "]\nk=" HYO "\n[基本]\nk=1", "基本", "1"},
          {"[基本]\n[" KIHON "]\nk=" HYO "\n[ " SETTEI " ]", "基本", "表"},
          {BOM16 A16 "k\0=\0\x0A\x4E\x3D\xD8\x00\xDE"sv, "a", "上😀"}};
  for (const auto& [file, section, expected] : cases) {
    EXPECT_EQ(FindIniValue(file, section, "k"), expected)
        << testing::PrintToString(file);
  }
}

TEST(SetIniValueTest, EditsOnlyWhatTheWriteNames) {
  const std::tuple<std::string_view, std::string_view, std::string_view,
                   std::string_view>
      cases[] = {
          // file, section, value, file after; the key is "k"
          {"[a]\r\n K = 1 \r\n", "a", "2", "[a]\r\n K =2\r\n"},
          {"[a]\nk= \"On\" \n", "a", "On", "[a]\nk= \"On\" \n"},
          {"[a]\nk=1", "a", " x ", "[a]\nk=\" x \""},
          {"[a]\nk=1\n", "a", "\"x'", "[a]\nk=\"x'\n"},
          {"[a]\nx=1\n\n[b]\n", "a", "2", "[a]\nx=1\nk=2\n\n[b]\n"},
          {"[a]\r\n;e\r\n\r\n", "a", "", "[a]\r\n;e\r\nk=\r\n\r\n"},
          {"[a]\rx=1\r", "b", "v", "[a]\rx=1\r[b]\rk=v\r"},
          {"[a]\r\nx=1", "b", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
          {"\xEF\xBB\xBF[a]", "a", "表", "\xEF\xBB\xBF[a]\nk=表\n"},
          {"[" KIHON "]\r\nk=C:\\" HYO "\r\n", "基本", "D:\\表\\",
           "[" KIHON "]\r\nk=D:\\" HYO "\\\r\n"},
          {"[" ZO "]\r\nx=1\r\n", "ゾ", "2", "[" ZO "]\r\nx=1\r\nk=2\r\n"},
          {"[a]\rx=1\n\n", "a", "2", "[a]\rx=1\nk=2\n\n"},
          {";caf\xE9=1\n[a]\n", "b", "v", ";caf\xE9=1\n[a]\n[b]\nk=v\n"},
          {"[A]\nK=1\n", "a", "2", "[A]\nK=2\n"},
          {"; " KIHON "\r\n", "基本", "表",
           "; " KIHON "\r\n[" KIHON "]\r\nk=" HYO "\r\n"},
          {BOM16 A16 "k\0=\0\x0A\x4E\r\0\n\0"sv, "a", "表",
           BOM16 A16 "k\0=\0\x68\x88\r\0\n\0"sv},
          {BOM16 A16 "x\0=\0\x0A\x4E"sv, "a", "v",
           BOM16 A16 "x\0=\0\x0A\x4E\r\0\n\0k\0=\0v\0\r\0\n\0"sv},
          {BOM16 "[\0a\0]\0x"sv, "b", "v",
           BOM16 "[\0a\0]\0\n\0[\0b\0]\0\n\0k\0=\0v\0\n\0x"sv}};
  for (const auto& [before, section, value, expected] : cases) {
    std::string after;
    ASSERT_TRUE(SetIniValue(before, section, "k", value, "f", &after).ok())
        << testing::PrintToString(before);
    EXPECT_EQ(after, expected);
  }
}

// Each refusal says why, after "cannot write KEY in [SECTION] of f: ".
TEST(SetIniValueTest, RefusesWritesThatWouldNotReadBack) {
  const std::tuple<std::string_view, std::string_view, std::string_view,
                   std::string_view, std::string_view>
      cases[] = {
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
          {"k=caf\xE9\n[a]\n", "b", "k", "1",
           "1 of its lines (the first is line 1)"},
          {BOM16 "x\0=\0\x00\xD8\n\0"sv, "a", "k", "1",
           "(the first is line 1) are not valid UTF-16LE"}};
  for (const auto& [before, section, key, value, expected] : cases) {
    std::string after;
    const std::string message =
        SetIniValue(before, section, key, value, "f", &after).message();
    EXPECT_EQ(message.substr(0, message.find(": ") + 2),
              "cannot write " + std::string(key) + " in [" +
                  std::string(section) + "] of f: ");
    EXPECT_NE(message.find(expected), std::string::npos) << message;
  }
}

// What the fuzzer found, its seeds and random slices of a soup pass its checks.
TEST(IniFuzzChecksTest, FoundInputsSeedsAndSlicesPass) {
  std::vector<std::string> files;
  for (const char* folder : {"regressions", "corpus"}) {
    for (const auto& entry : fs::directory_iterator(
             fs::path(DRAVELKENT_FUZZ_DIR) / folder / "settings")) {
      files.push_back(ReadBytes(entry.path()));
    }
  }
  EXPECT_GT(files.size(), 12u);
  const std::string soup = "[a]\r\n k = 'x'\n;[A ]\rkk=\"\x81" HYO ZO
                           "\v表\n[b]= \"\t\xEF\xBB\xBF\xFF\xFE" +
                           std::string(1, '\0');
  std::mt19937 random(12345);
  for (int round = 0; round < 1500; ++round) {
    std::string& file = files.emplace_back();
    for (int i = static_cast<int>(random() % 12); i > 0; --i) {
      file += soup.substr(random() % soup.size(), random() % 8);
    }
  }
  for (const std::string& file : files) {
    EXPECT_EQ(CheckSettingsFile(file), "") << testing::PrintToString(file);
  }
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);  // for nobody
    path_ = dir_ + "/Dravelkent.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_ = fs::temp_directory_path() / "dravelkent_XXXXXX";
  std::string path_;
};

// A new file follows the umask; a replaced one keeps its mode and names,
// and one a rename would take from its owner, group, ACL or other names is
// rewritten in place.
TEST_F(SettingsStoreTest, SaveKeepsTheModeOwnerAndEveryNameOfTheFile) {
  enum Link { kNew, kNone, kHard, kSymbolic, kOwner, kAttribute };
  const struct {
    mode_t mode;
    Link link;
  } cases[] = {{0640, kNew},      {0604, kNone},  {0660, kHard},
               {0600, kSymbolic}, {0664, kOwner}, {0644, kAttribute}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    fs::remove(path_);
    const std::string file =
        c.link <= kNone || c.link >= kOwner ? path_ : dir_ + "/real.ini";
    if (c.link != kNew) WriteBytes(file, "[a]\r\nk=1\r\n");
    chmod(file.c_str(), c.mode);
    if (c.link == kHard) fs::create_hard_link(file, path_);
    if (c.link == kSymbolic) fs::create_symlink("real.ini", path_);
    if (c.link == kOwner &&
        (geteuid() != 0 || chown(file.c_str(), 1234, 5678))) {
      continue;  // only root gives a file away
    }
    if (c.link == kAttribute &&
        setxattr(file.c_str(), "user.note", "x", 1, 0) != 0) {
      continue;  // no extended attributes here
    }
    struct stat old_info = {}, info;
    stat(file.c_str(), &old_info);
    SettingsStore store(Env::Default(), path_);
    EXPECT_EQ(store.Read("A", "K", "-"), c.link == kNew ? "-" : "1");
    FileChange change;
    EXPECT_TRUE(
        store.CheckWrite("a", "k", "", SaveStep::kFirstOnly, &change).ok());
    mode_t old_mask = umask(027);
    ASSERT_TRUE(store.Write("a", "k", "").ok());
    umask(old_mask);
    EXPECT_EQ(store.Read("A", "K", "-"), "");
    EXPECT_EQ(ReadBytes(file), c.link == kNew ? "[a]\nk=\n" : "[a]\r\nk=\r\n");
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(info.st_uid, old_info.st_uid);
    EXPECT_EQ(info.st_ino == old_info.st_ino,
              c.link == kHard || c.link >= kOwner);
    EXPECT_EQ(fs::is_symlink(path_), c.link == kSymbolic);
    EXPECT_EQ(CountEntries(dir_), c.link <= kNone ? 1u : 2u);
  }
}

enum Block {
  kSizeLimit,
  kFsyncFails,
  kReadOnlyFile,
  kUnreadable,
  kReadOnlyFolder
};

// Blocks saves of |path| in |dir| by |block|; returns what went wrong, or "".
std::string CheckFailedSave(int block, const std::string& dir,
                            const std::string& path) {
  fs::create_directory(dir);
  WriteBytes(path, "[a]\nk=1\n");
  const struct rlimit limit = {8, 8};
  struct sock_filter fail_fsync[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
  struct sock_fprog filter = {std::size(fail_fsync), fail_fsync};
  if (block == kSizeLimit && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
                              setrlimit(RLIMIT_FSIZE, &limit) != 0)) {
    return "no size limit";
  }
  if (block == kFsyncFails &&
      (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
       prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)) {
    return "no seccomp filter";
  }
  if (block == kReadOnlyFolder) chmod(dir.c_str(), 0555);
  if (block == kReadOnlyFile) chmod(path.c_str(), 0444);
  if (block == kUnreadable) chmod(path.c_str(), 0200);
  PosixEnv env;  // of this user, as the child has become
  SettingsStore store(&env, path);
  // Never a template holding only the key written in place of the file.
  if (block == kUnreadable) {
    const bool refused = !store.Write("a", "k", "2").ok();
    chmod(path.c_str(), 0600);
    return refused && ReadBytes(path) == "[a]\nk=1\n" ? "" : "replaced";
  }
  if (!store.Write("a", "k", "1").ok()) return "the same value was saved";
  FileChange change;
  Status probed = store.CheckWrite("a", "k", std::string(100, 'x'),
                                   SaveStep::kFirstOnly, &change);
  Status written = store.Write("a", "k", std::string(100, 'x'));
  chmod(dir.c_str(), 0755);
  // A folder that takes no new file: the file itself is rewritten.
  if (block == kReadOnlyFolder) {
    return written.ok() && probed.ok() && CountEntries(dir) == 1
               ? ""
               : "not saved in place: " + written.message();
  }
  if (block == kFsyncFails ? !probed.ok()  // shows in the save only
                           : probed.message() != written.message()) {
    return "probe: " + probed.message();
  }
  if (written.ok() || written.message().find(path) == std::string::npos) {
    return "write: " + written.message();
  }
  if (ReadBytes(path) != "[a]\nk=1\n") return "the bytes changed";
  return CountEntries(dir) == 1 ? "" : "a file stayed behind";
}

TEST_F(SettingsStoreTest, FailedSaveKeepsTheOldBytesAndNoTemporaryFile) {
  for (int block = kSizeLimit; block <= kReadOnlyFolder; ++block) {
    const std::string dir = dir_ + "/" + std::to_string(block);
    pid_t child = fork();
    if (child == 0) {  // as nobody: root may write any file
      std::string broken =
          geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)
              ? CheckFailedSave(block, dir, dir + "/Dravelkent.ini")
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
