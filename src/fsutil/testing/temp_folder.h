#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace dravelkent::testing {

// A fresh, uniquely named folder below |base| (the system's temporary folder
// by default), removed with everything in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& base = "");
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  // The folder's path, without a trailing "/"; empty when it could not be
  // made.
  const std::string& path() const { return path_; }

  // Returns path() + "/" + |relative|.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes |content| to the new or truncated file |path| with |mode|, then
// sets its mtime to |mtime_ns| unless that is 0. Returns false on failure.
bool WriteFile(const std::string& path, const std::string& content,
               mode_t mode = 0644, int64_t mtime_ns = 0);

// Returns the whole content of |path|, or "<missing>" when it cannot be
// read.
std::string ReadFile(const std::string& path);

// Sets the mtime of |path| itself (not followed) to |mtime_ns|. Returns
// false on failure.
bool SetMtime(const std::string& path, int64_t mtime_ns);

// Returns the mtime of |path| itself (not followed), or -1 when it has no
// entry.
int64_t MtimeOf(const std::string& path);

// Returns the permission bits of |path|, or -1 when it has no entry.
int ModeOf(const std::string& path);

// Returns whether |path| has an entry (a dangling link has one).
bool Exists(const std::string& path);

// Returns the names in the folder |path|, "." and ".." left out, sorted.
std::vector<std::string> ListNames(const std::string& path);

// Returns the names below |path| at every depth, relative to it, folders
// ending in "/", sorted; "" entries never appear.
std::vector<std::string> ListTree(const std::string& path);

// Returns the st_dev of |path|, or 0 when it has no entry.
uint64_t DeviceOf(const std::string& path);

}  // namespace dravelkent::testing
