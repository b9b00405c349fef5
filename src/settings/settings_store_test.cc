#include "settings/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace dravelkent {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "dravelkent_settings_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/Dravelkent.ini";
  }

  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add,
                    ignored);
    fs::remove_all(dir_, ignored);
  }

  static void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }

  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Names in |dir|, to see that no temporary file stays behind.
  static std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  static struct stat StatOf(const std::string& path) {
    struct stat info = {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(SettingsStoreTest, UnreadableFileGivesDefaultsAndIsNotReplaced) {
  enum class Obstacle { kMissing, kFolder, kUnderAFile, kFifo, kUtf16 };
  struct Case {
    Obstacle obstacle;
    bool readable;  // CheckReadable succeeds
    bool writable;  // Write succeeds
  } cases[] = {
      {Obstacle::kMissing, true, true},
      {Obstacle::kFolder, false, false},
      {Obstacle::kUnderAFile, false, false},
      {Obstacle::kFifo, false, false},
      {Obstacle::kUtf16, false, false},
  };
  const std::string utf16("\xFF\xFE[\0a\0]\0\n\0", 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.obstacle));
    fs::remove_all(dir_ + "/case");
    fs::create_directory(dir_ + "/case");
    std::string path = dir_ + "/case/Dravelkent.ini";
    switch (c.obstacle) {
      case Obstacle::kMissing:
        break;
      case Obstacle::kFolder:
        fs::create_directory(path);
        break;
      case Obstacle::kUnderAFile:
        WriteBytes(dir_ + "/case/file", "[a]\nk=1\n");
        path = dir_ + "/case/file/Dravelkent.ini";
        break;
      case Obstacle::kFifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
      case Obstacle::kUtf16:
        WriteBytes(path, utf16);
        break;
    }
    std::set<std::string> before = Entries(dir_ + "/case");
    SettingsStore store(path);
    EXPECT_EQ(store.Read("a", "k", "fallback"), "fallback");
    Status readable = store.CheckReadable();
    EXPECT_EQ(readable.ok(), c.readable) << readable.message();
    Status written = store.Write("a", "k", "2");
    EXPECT_EQ(written.ok(), c.writable) << written.message();
    if (c.writable) continue;
    EXPECT_NE(written.message().find(path), std::string::npos)
        << written.message();
    EXPECT_EQ(Entries(dir_ + "/case"), before);
    if (c.obstacle == Obstacle::kUtf16) {
      EXPECT_EQ(ReadBytes(path), utf16);
    }
  }
}

TEST_F(SettingsStoreTest, NewFileIsUtf8WithLfAndEveryReadGoesToTheFile) {
  mode_t old_mask = umask(077);
  SettingsStore store(path_);
  Status written = store.Write("基本", "VIEW", "Off");
  EXPECT_EQ(umask(old_mask), 077u);
  ASSERT_TRUE(written.ok()) << written.message();
  EXPECT_EQ(ReadBytes(path_), "[基本]\nVIEW=Off\n");
  EXPECT_EQ(StatOf(path_).st_mode & 07777, 0600u);
  EXPECT_TRUE(store.CheckReadable().ok());

  EXPECT_EQ(store.Read("基本", "view", ""), "Off");
  WriteBytes(path_, "[基本]\nVIEW=On\n");
  EXPECT_EQ(store.Read("基本", "VIEW", ""), "On");
}

TEST_F(SettingsStoreTest, EveryReadSeesTheFileAsItIsNow) {
  // Each step changes the file (or what the path names), then reads.
  enum class Change { kInPlace, kRenamedOver, kRemoved, kFolder, kLinked };
  struct Step {
    Change change;
    const char* bytes;
    const char* expected;  // "-" for the default
  } steps[] = {
      {Change::kInPlace, "[a]\nk=1\n", "1"},
      {Change::kInPlace, "[a]\nk=22222222\n", "22222222"},  // grown
      {Change::kInPlace, "[a]\nk=3\n", "3"},                // shrunk
      {Change::kRenamedOver, "[a]\nk=4\n", "4"},
      {Change::kInPlace, "[a]\nk=55\n", "55"},  // not the size of 4
      {Change::kRemoved, "", "-"},
      {Change::kInPlace, "[a]\nk=6\n", "6"},
      {Change::kFolder, "", "-"},
      {Change::kLinked, "[a]\nk=7\n", "7"},
      {Change::kRenamedOver, "[a]\nk=8\n", "8"},
  };
  SettingsStore store(path_);
  EXPECT_EQ(store.Read("a", "k", "-"), "-");
  int n = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(n++);
    std::string other = dir_ + "/other" + std::to_string(n);
    switch (step.change) {
      case Change::kInPlace:
        WriteBytes(path_, step.bytes);
        break;
      case Change::kRenamedOver:
        WriteBytes(other, step.bytes);
        ASSERT_EQ(rename(other.c_str(), path_.c_str()), 0);
        break;
      case Change::kRemoved:
        fs::remove_all(path_);
        break;
      case Change::kFolder:
        fs::remove_all(path_);
        fs::create_directory(path_);
        break;
      case Change::kLinked:
        fs::remove_all(path_);
        WriteBytes(other, step.bytes);
        fs::create_symlink(other, path_);
        break;
    }
    EXPECT_EQ(store.Read("a", "k", "-"), step.expected);
    EXPECT_EQ(store.Read("a", "k", "-"), step.expected);  // once open
  }
}

TEST_F(SettingsStoreTest, SaveReplacesTheFileAndKeepsItsPermissionBits) {
  struct Case {
    mode_t mode;
    bool hard_linked;  // then rewritten in place, both names seeing it
  } cases[] = {{0600, false}, {0640, false}, {0604, false},
               {0755, false}, {02660, false}, {0640, true}};
  const std::string other = dir_ + "/other name";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    WriteBytes(path_, "[a]\r\nk=1\r\n");
    ASSERT_EQ(chmod(path_.c_str(), c.mode), 0);
    if (c.hard_linked) {
      ASSERT_EQ(link(path_.c_str(), other.c_str()), 0);
    }
    ino_t old_inode = StatOf(path_).st_ino;
    Status written = SettingsStore(path_).Write("a", "k", "2");
    ASSERT_TRUE(written.ok()) << written.message();
    EXPECT_EQ(ReadBytes(path_), "[a]\r\nk=2\r\n");
    struct stat info = StatOf(path_);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(info.st_ino == old_inode, c.hard_linked);
    std::set<std::string> names = {"Dravelkent.ini"};
    if (c.hard_linked) {
      EXPECT_EQ(ReadBytes(other), "[a]\r\nk=2\r\n");
      names.insert("other name");
    }
    EXPECT_EQ(Entries(dir_), names);
    fs::remove(path_);
    fs::remove(other);
  }
}

TEST_F(SettingsStoreTest, SaveThroughSymbolicLinksKeepsThemLinks) {
  fs::create_directories(dir_ + "/links");
  fs::create_directories(dir_ + "/real");
  const std::string real = dir_ + "/real/settings.ini";
  struct Case {
    const char* name;
    std::string first_link;   // where the settings path points
    std::string second_link;  // where links/hop points, when used
    bool target_exists;
  } cases[] = {
      {"chain of relative links", "links/hop", "../real/settings.ini", true},
      {"absolute link", real, "", true},
      {"dangling link", "real/settings.ini", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(path_);
    fs::remove(dir_ + "/links/hop");
    fs::remove(real);
    if (c.target_exists) WriteBytes(real, "; mine\n[a]\nk=1\n");
    fs::create_symlink(c.first_link, path_);
    if (!c.second_link.empty()) {
      fs::create_symlink(c.second_link, dir_ + "/links/hop");
    }

    Status written = SettingsStore(path_).Write("a", "k", "2");
    ASSERT_TRUE(written.ok()) << written.message();
    EXPECT_TRUE(fs::is_symlink(path_));
    if (!c.second_link.empty()) {
      EXPECT_TRUE(fs::is_symlink(dir_ + "/links/hop"));
    }
    EXPECT_EQ(ReadBytes(real),
              c.target_exists ? "; mine\n[a]\nk=2\n" : "[a]\nk=2\n");
    EXPECT_EQ(SettingsStore(path_).Read("a", "k", ""), "2");
    EXPECT_EQ(Entries(dir_ + "/real"), std::set<std::string>{"settings.ini"});
  }
}

TEST_F(SettingsStoreTest, WriteOfTheSameValueLeavesTheFileAlone) {
  const char* files[] = {"[a]\nk=On\n", "[a]\r\n k = \"On\" \r\n"};
  for (const char* file : files) {
    SCOPED_TRACE(file);
    WriteBytes(path_, file);
    const struct timespec old_times[2] = {{978307200, 0}, {978307200, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), old_times, 0), 0);
    ino_t old_inode = StatOf(path_).st_ino;

    Status written = SettingsStore(path_).Write("A", "K", "On");
    ASSERT_TRUE(written.ok()) << written.message();
    struct stat info = StatOf(path_);
    EXPECT_EQ(info.st_mtim.tv_sec, 978307200);
    EXPECT_EQ(info.st_ino, old_inode);
    EXPECT_EQ(ReadBytes(path_), file);
  }
}

// Makes saves of the settings file |path| fail while it lives.
class SaveBlocker {
 public:
  enum class Method { kFileSizeLimit, kReadOnlyFolder, kReadOnlyFile };

  SaveBlocker(Method method, const std::string& path)
      : method_(method), path_(path), dir_(fs::path(path).parent_path()) {
    if (method_ == Method::kFileSizeLimit) {
      // Works for root too: writing past the limit fails with EFBIG.
      old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
      getrlimit(RLIMIT_FSIZE, &old_limit_);
      struct rlimit limit = old_limit_;
      limit.rlim_cur = 8;
      setrlimit(RLIMIT_FSIZE, &limit);
    } else if (method_ == Method::kReadOnlyFolder) {
      chmod(dir_.c_str(), 0555);
    } else {
      chmod(path_.c_str(), 0444);
    }
  }
  ~SaveBlocker() {
    if (method_ == Method::kFileSizeLimit) {
      setrlimit(RLIMIT_FSIZE, &old_limit_);
      std::signal(SIGXFSZ, old_handler_);
    } else {
      chmod(dir_.c_str(), 0755);
      chmod(path_.c_str(), 0644);
    }
  }

 private:
  Method method_;
  std::string path_;
  std::string dir_;
  struct rlimit old_limit_ = {};
  void (*old_handler_)(int) = nullptr;
};

// Runs |body| in a child process, as the user nobody when the tests run as
// root (root writes whatever the permission bits say), and returns what it
// returns: what went wrong, or "".
std::string AsOrdinaryUser(const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    std::string said = "cannot become nobody";
    if (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) {
      said = body();
    }
    ssize_t ignored = write(pipe_fds[1], said.data(), said.size());
    (void)ignored;
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string said;
  char chunk[256];
  for (ssize_t got; (got = read(pipe_fds[0], chunk, sizeof chunk)) > 0;) {
    said.append(chunk, static_cast<size_t>(got));
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? said : "the child died";
}

TEST_F(SettingsStoreTest, FailedSaveKeepsTheOldBytesAndNoTemporaryFile) {
  const std::string old_bytes = "[a]\nk=1\n";
  struct Case {
    SaveBlocker::Method method;
    bool probe_sees_it;  // ProbeWrite fails as Write does
  } cases[] = {{SaveBlocker::Method::kFileSizeLimit, false},
               {SaveBlocker::Method::kReadOnlyFolder, true},
               {SaveBlocker::Method::kReadOnlyFile, true}};
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method));
    const std::string dir = dir_ + "/" + std::to_string(int(c.method));
    const std::string path = dir + "/Dravelkent.ini";
    std::string said = AsOrdinaryUser([&]() -> std::string {
      fs::create_directory(dir);
      WriteBytes(path, old_bytes);
      SettingsStore store(path);
      Status unchanged, probed, written;
      {
        SaveBlocker blocker(c.method, path);
        unchanged = store.ProbeWrite("a", "k", "1");
        probed = store.ProbeWrite("a", "k", std::string(100, 'x'));
        written = store.Write("a", "k", std::string(100, 'x'));
      }
      if (!unchanged.ok()) return "unchanged: " + unchanged.message();
      if (probed.ok() == c.probe_sees_it) return "probe: " + probed.message();
      if (c.probe_sees_it && probed.message() != written.message()) {
        return probed.message() + " | " + written.message();
      }
      if (written.ok() || written.message().find(path) == std::string::npos) {
        return "write: " + written.message();
      }
      if (ReadBytes(path) != old_bytes) return "the bytes changed";
      if (Entries(dir) != std::set<std::string>{"Dravelkent.ini"}) {
        return "a file stayed behind";
      }
      return "";
    });
    EXPECT_EQ(said, "");
  }
}

TEST_F(SettingsStoreTest, ValueTheFileCannotHoldIsNotWritten) {
  const std::string cp932 = "[\x8a\xee\x96\x7b]\r\nDIR=C:\\\x95\x5c\r\n";
  struct Case {
    std::string file;
    const char* section;
    const char* key;
    const char* value;
    const char* said;  // part of the message
  } cases[] = {
      {cp932, "基本", "DIR", "C:\\😀", "(CP932)"},
      // The old value is all that makes this file CP932; the "²" key would
      // read as "ﾂｲ" before the write and as "²" after it.
      {"[a]\nDIR=C:\\\x95\x5c\n²=1\n", "a", "DIR", "D:",
       "would read as UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    WriteBytes(path_, c.file);
    SettingsStore store(path_);
    Status written = store.Write(c.section, c.key, c.value);
    EXPECT_FALSE(written.ok());
    EXPECT_NE(written.message().find(c.said), std::string::npos)
        << written.message();
    EXPECT_EQ(ReadBytes(path_), c.file);
  }
  WriteBytes(path_, cp932);
  EXPECT_EQ(SettingsStore(path_).Read("基本", "DIR", ""), "C:\\表");
}

TEST_F(SettingsStoreTest, LinesThatCannotBeDecodedAreNamedAndKept) {
  const std::string cp932_kihon = "[\x8a\xee\x96\x7b]\r\n";
  struct Case {
    const char* name;
    std::string file;
    const char* said;  // the message of CheckReadable, or "" for ok
    bool kihon_added;  // else refused: a line kept may be [基本]
  } cases[] = {
      {"clean CP932", cp932_kihon + "VIEW=On\r\n", "", true},
      {"a lone lead byte", cp932_kihon + "VIEW=On\r\n\x81\r\n",
       "cannot read line 3 of @: not valid CP932; it is ignored and kept as "
       "it is",
       true},
      {"CP932 after a UTF-8 mark", "\xEF\xBB\xBF" + cp932_kihon + "\x81\n",
       "cannot read 2 lines of @ (the first is line 1): not valid UTF-8 with "
       "byte order mark; they are ignored and kept as they are",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(path_, c.file);
    SettingsStore store(path_);
    std::string said = c.said;
    if (size_t at = said.find('@'); at != std::string::npos) {
      said.replace(at, 1, path_);
    }
    EXPECT_EQ(store.CheckReadable().message(), said);
    Status written = store.Write("基本", "TIMESTAMP", "20261206");
    if (!c.kihon_added) {
      EXPECT_NE(written.message().find("2 of its lines (the first is line 1)"
                                       " are not valid UTF-8 with byte order "
                                       "mark; one of them may be the section"),
                std::string::npos)
          << written.message();
      EXPECT_EQ(ReadBytes(path_), c.file);
      continue;
    }
    ASSERT_TRUE(written.ok()) << written.message();
    std::string after = ReadBytes(path_);
    EXPECT_EQ(after.substr(0, c.file.size()), c.file);
    EXPECT_EQ(store.Read("基本", "TIMESTAMP", ""), "20261206");
  }
}

TEST_F(SettingsStoreTest, BinaryGarbageKeepsItsBytesAndGetsNoSections) {
  std::string garbage;
  std::mt19937 random(6);
  while (garbage.size() < 256 * 1024) {
    garbage += static_cast<char>(random() & 0xFF);
  }
  WriteBytes(path_, garbage);
  SettingsStore store(path_);
  Status readable = store.CheckReadable();
  EXPECT_NE(readable.message().find("not valid CP932"), std::string::npos)
      << readable.message();
  EXPECT_EQ(store.Read("基本", "VIEW", "none"), "none");
  EXPECT_FALSE(store.ProbeWrite("基本", "VIEW", "Off").ok());
  EXPECT_FALSE(store.Write("基本", "VIEW", "Off").ok());
  EXPECT_EQ(ReadBytes(path_), garbage);
}

TEST_F(SettingsStoreTest, LongValuesAreKeptWhole) {
  std::string folder = "/srv/";
  while (folder.size() < 1000) folder += "数据フォルダ/";
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("設定", "01DIRNAMETO", folder).ok());
  EXPECT_EQ(store.Read("設定", "01DIRNAMETO", ""), folder);
  EXPECT_EQ(ReadBytes(path_), "[設定]\n01DIRNAMETO=" + folder + "\n");
}

}  // namespace
}  // namespace dravelkent
