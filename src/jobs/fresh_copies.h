#pragma once

#include <set>
#include <string>

namespace dravelkent {

// The dated copies that the job's rotation wrote in this run. The expiry
// never deletes them: with DELETEALL, or with a last-run date older than the
// retention days, it would otherwise delete the copy just made, and in move
// mode that is the only copy of the file.
class FreshCopies {
 public:
  // Records the name |name| written directly in the target folder.
  void AddName(const std::string& name) { names_.insert(name); }

  // Records that every name beginning with |date_text| was written now (a
  // dated tree transfer writes all of its names so).
  void AddDatePrefix(const std::string& date_text) { date_prefix_ = date_text; }

  // Returns true when the target folder's entry |name| was written now.
  bool Contains(const std::string& name) const;

  void Clear() {
    names_.clear();
    date_prefix_.clear();
  }

 private:
  std::set<std::string> names_;
  std::string date_prefix_;
};

}  // namespace dravelkent
