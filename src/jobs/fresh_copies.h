#pragma once

#include <set>
#include <string>
#include <utility>

namespace dravelkent {

// The files that the run's rotations wrote, kept for the whole run and
// known by full path. No expiry deletes them: with DELETEALL, with a
// last-run date older than the retention days, or as a later job's copy
// over the same target folder, it would otherwise delete a copy just made,
// and in move mode that is the only copy of the file.
class FreshCopies {
 public:
  // Records the file |path| as written now.
  void AddPath(const std::string& path);

  // Records that every file below |folder| whose name begins with
  // |date_text| was written now (a dated tree transfer writes all of its
  // names so).
  void AddDatedTree(const std::string& folder, const std::string& date_text);

  // Returns true when the file |path| was written now.
  bool Contains(const std::string& path) const;

 private:
  std::set<std::string> paths_;
  // (folder ending in "/", date text)
  std::set<std::pair<std::string, std::string>> dated_trees_;
};

}  // namespace dravelkent
