#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "fsutil/env.h"

namespace dravelkent::testing {

// A fresh folder in $TMPDIR (else /tmp), removed with all in it at the end.
class TempFolder {
 public:
  TempFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    path_ = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/dkXXXXXX";
    if (mkdtemp(path_.data()) == nullptr) path_.clear();
  }
  TempFolder(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::string& path() const { return path_; }  // no trailing "/"
  std::string operator/(const std::string& relative) const {
    return path_ + "/" + relative;
  }

 private:
  std::string path_;
};

// Sets the mtime of |path| itself (not followed).
inline bool SetMtime(const std::string& path, int64_t mtime_ns) {
  const struct timespec times[2] = {
      {0, UTIME_OMIT}, {mtime_ns / 1000000000, mtime_ns % 1000000000}};
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// Writes |path| with |mode|, and with |mtime_ns| unless 0.
inline bool WriteFile(const std::string& path, const std::string& content,
                      mode_t mode = 0644, int64_t mtime_ns = 0) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return out && chmod(path.c_str(), mode) == 0 &&
         (mtime_ns == 0 || SetMtime(path, mtime_ns));
}

// Writes each file of |names| below |root|, its name as its content.
inline void WriteFiles(const std::string& root,
                       std::initializer_list<std::string> names) {
  for (const std::string& name : names) {
    std::filesystem::create_directories(root + "/" +
                                        name.substr(0, name.rfind('/') + 1));
    WriteFile(root + "/" + name, name);
  }
}

inline std::string ReadFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return "<missing>";
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {})
            : "<missing>";
}

// The sorted names below |path|, each + " ", folders ending in "/"; with
// |contents|, a file's bytes after "=", a link's target after " -> ".
inline std::string ListTree(const std::string& path, bool contents = false) {
  std::set<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    std::string name = it->path().lexically_relative(path).string();
    if (it->is_symlink(error)) {
      if (contents) name += " -> " + read_symlink(it->path(), error).string();
    } else if (it->is_directory(error)) {
      name += "/";
    } else if (contents) {
      name += "=" + ReadFile(it->path());
    }
    names.insert(name + " ");
  }
  std::string all;
  for (const std::string& name : names) all += name;
  return all;
}

// Opens the folder |path| through |env|, name by name.
inline std::unique_ptr<Folder> OpenPath(Env* env, const std::string& path) {
  std::unique_ptr<Folder> folder, next;
  std::string rest;
  if (!env->OpenStart(path, &folder, &rest).ok()) return nullptr;
  std::stringstream names(rest);
  for (std::string name; std::getline(names, name, '/');) {
    if (name.empty()) continue;
    if (!env->OpenFolder(*folder, name, &next).ok()) return nullptr;
    folder = std::move(next);
  }
  return folder;
}

}  // namespace dravelkent::testing
