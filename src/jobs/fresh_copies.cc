#include "jobs/fresh_copies.h"

#include <filesystem>

namespace dravelkent {
namespace {

// The same file composed from "dst", "dst/" or "./dst/" has one text.
std::string Normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace

void FreshCopies::AddPath(const std::string& path) {
  paths_.insert(Normal(path));
}

void FreshCopies::AddDatedTree(const std::string& folder,
                               const std::string& date_text) {
  std::string normal = Normal(folder + "/");
  if (normal.empty() || normal.back() != '/') normal.push_back('/');
  dated_trees_.emplace(std::move(normal), date_text);
}

bool FreshCopies::Contains(const std::string& path) const {
  const std::string normal = Normal(path);
  if (paths_.count(normal) != 0) return true;
  const size_t slash = normal.rfind('/');
  const std::string_view name = std::string_view(normal).substr(
      slash == std::string::npos ? 0 : slash + 1);
  for (const auto& [folder, date_text] : dated_trees_) {
    if (normal.compare(0, folder.size(), folder) == 0 &&
        name.substr(0, date_text.size()) == date_text) {
      return true;
    }
  }
  return false;
}

}  // namespace dravelkent
