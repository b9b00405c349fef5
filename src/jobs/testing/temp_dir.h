#pragma once

#include <string>

namespace dravelkent::testing {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

  // Returns path() + "/" + |relative|.
  std::string Join(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes |bytes| to |path|, replacing it. Returns false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// Returns the bytes of |path|, or an empty text when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace dravelkent::testing
