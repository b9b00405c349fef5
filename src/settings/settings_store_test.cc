#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

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

struct stat StatOf(const std::string& path) {
  struct stat info = {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

// Makes every later fsync of this process fail with EIO.
bool FailEveryFsync() {
  struct sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
  struct sock_fprog program = {std::size(code), code};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs |body| in a child process, as nobody when run by root. Returns true
// when it returns ""; else it printed what went wrong.
template <typename Body>
bool AsOrdinaryUser(Body body) {
  pid_t child = fork();
  if (child == 0) {
    std::string said = "cannot become nobody";
    if (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) {
      said = body();
    }
    std::fprintf(stderr, "%s\n", said.c_str());
    _exit(said.empty() ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && status == 0;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "dravelkent_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/Dravelkent.ini";
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;
  std::string path_;
};

TEST_F(SettingsStoreTest, NewFileFollowsTheUmaskAndEveryReadSeesTheFile) {
  SettingsStore store(path_);
  EXPECT_EQ(store.Read("基本", "VIEW", "-"), "-");
  mode_t old_mask = umask(027);
  Status written = store.Write("基本", "VIEW", "Off");
  umask(old_mask);
  ASSERT_TRUE(written.ok()) << written.message();
  EXPECT_EQ(ReadBytes(path_), "[基本]\nVIEW=Off\n");
  EXPECT_EQ(StatOf(path_).st_mode & 07777, 0640u);
  EXPECT_EQ(store.Read("基本", "view", "-"), "Off");
  WriteBytes(path_, "[基本]\nVIEW=\n");  // shrunk in place
  EXPECT_EQ(store.Read("基本", "VIEW", "-"), "");
  WriteBytes(dir_ + "/new", "[基本]\nVIEW=On\n");
  fs::rename(dir_ + "/new", path_);
  EXPECT_EQ(store.Read("基本", "VIEW", "-"), "On");
}

TEST_F(SettingsStoreTest, SaveKeepsTheModeAndEveryNameOfTheFile) {
  enum Link { kNone, kHard, kSymbolic };
  const struct {
    mode_t mode;
    Link link;
  } cases[] = {{0640, kNone}, {0604, kNone}, {0640, kHard}, {0600, kSymbolic}};
  const std::string real = dir_ + "/real.ini";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    fs::remove(path_);
    WriteBytes(real, "[a]\r\nk=1\r\n");
    ASSERT_EQ(chmod(real.c_str(), c.mode), 0);
    if (c.link == kHard) fs::create_hard_link(real, path_);
    if (c.link == kSymbolic) fs::create_symlink("real.ini", path_);
    if (c.link == kNone) fs::rename(real, path_);
    const std::string file = c.link == kNone ? path_ : real;
    ino_t inode = StatOf(file).st_ino;
    SettingsStore store(path_);
    EXPECT_TRUE(store.ProbeWrite("a", "k", "2").ok());
    ASSERT_TRUE(store.Write("a", "k", "2").ok());
    EXPECT_EQ(ReadBytes(file), "[a]\r\nk=2\r\n");
    EXPECT_EQ(StatOf(file).st_mode & 07777, c.mode);
    EXPECT_EQ(StatOf(file).st_ino == inode, c.link == kHard);
    EXPECT_EQ(fs::is_symlink(path_), c.link == kSymbolic);
    EXPECT_EQ(CountEntries(dir_), c.link == kNone ? 1u : 2u);
  }
}

// A size limit or a failed flush shows in the save only; ProbeWrite gives
// the failures it can see as Write does.
TEST_F(SettingsStoreTest, FailedSaveKeepsTheOldBytesAndNoTemporaryFile) {
  enum Block { kSizeLimit, kFsyncFails, kReadOnlyFolder, kReadOnlyFile };
  for (Block block :
       {kSizeLimit, kFsyncFails, kReadOnlyFolder, kReadOnlyFile}) {
    SCOPED_TRACE(block);
    const std::string dir = dir_ + "/" + std::to_string(block);
    const std::string path = dir + "/Dravelkent.ini";
    EXPECT_TRUE(AsOrdinaryUser([&]() -> std::string {
      fs::create_directory(dir);
      WriteBytes(path, "[a]\nk=1\n");
      const struct rlimit limit = {8, 8};
      if (block == kSizeLimit && (signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
                                  setrlimit(RLIMIT_FSIZE, &limit) != 0)) {
        return "no size limit";
      }
      if (block == kFsyncFails && !FailEveryFsync()) return "no filter";
      if (block == kReadOnlyFolder) chmod(dir.c_str(), 0555);
      if (block == kReadOnlyFile) chmod(path.c_str(), 0444);
      SettingsStore store(path);
      Status same = store.Write("a", "k", "1");
      Status probed = store.ProbeWrite("a", "k", std::string(100, 'x'));
      Status written = store.Write("a", "k", std::string(100, 'x'));
      chmod(dir.c_str(), 0755);
      if (!same.ok()) return "same value: " + same.message();
      if (block < kReadOnlyFolder ? !probed.ok()
                                  : probed.message() != written.message()) {
        return "probe: " + probed.message();
      }
      if (written.ok() || written.message().find(path) == std::string::npos) {
        return "write: " + written.message();
      }
      if (ReadBytes(path) != "[a]\nk=1\n") return "the bytes changed";
      return CountEntries(dir) == 1 ? "" : "a file stayed behind";
    }));
  }
}

}  // namespace
}  // namespace dravelkent
