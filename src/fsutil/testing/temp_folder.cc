#include "fsutil/testing/temp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace dravelkent::testing {
namespace {

// Removes |name| in |parent_fd| with everything below it, going by folder
// descriptors, so that trees deeper than any path can be removed too.
void RemoveTreeAt(int parent_fd, const char* name) {
  if (unlinkat(parent_fd, name, 0) == 0) return;
  fchmodat(parent_fd, name, 0700, 0);
  int fd = openat(parent_fd, name,
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  while (struct dirent* entry = readdir(dir)) {
    std::string child = entry->d_name;
    if (child != "." && child != "..") RemoveTreeAt(fd, child.c_str());
  }
  closedir(dir);
  unlinkat(parent_fd, name, AT_REMOVEDIR);
}

}  // namespace

TempFolder::TempFolder(const std::string& base) {
  std::error_code error;
  std::string root = base.empty()
                         ? std::filesystem::temp_directory_path(error).string()
                         : base;
  if (root.empty()) root = "/tmp";
  std::string name = root + "/dravelkent_test_XXXXXX";
  if (mkdtemp(name.data()) != nullptr) path_ = name;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code error;
  // Make every folder writable again first, or a test that took write
  // permission away would leave its folder behind.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied,
           error);
       !error && it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      chmod(it->path().c_str(), 0700);
    }
  }
  chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, error);
  if (error) RemoveTreeAt(AT_FDCWD, path_.c_str());
}

std::string TempFolder::operator/(const std::string& relative) const {
  return path_ + "/" + relative;
}

bool WriteFile(const std::string& path, const std::string& content,
               mode_t mode, int64_t mtime_ns) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = write(fd, content.data(), content.size()) ==
                static_cast<ssize_t>(content.size()) &&
            fchmod(fd, mode) == 0;
  ok = close(fd) == 0 && ok;
  return ok && (mtime_ns == 0 || SetMtime(path, mtime_ns));
}

std::string ReadFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "<missing>";
  std::string content;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    content.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return got < 0 ? "<missing>" : content;
}

bool SetMtime(const std::string& path, int64_t mtime_ns) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = mtime_ns / 1000000000;
  times[1].tv_nsec = mtime_ns % 1000000000;
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t MtimeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
         st.st_mtim.tv_nsec;
}

int ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListNames(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(path, error);
       !error && it != std::filesystem::directory_iterator();
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListTree(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    std::string name =
        it->path().lexically_relative(path).string();
    if (it->is_directory(error) && !it->is_symlink(error)) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint64_t DeviceOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_dev;
}

}  // namespace dravelkent::testing
