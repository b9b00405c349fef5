#include "fsutil/disk_interface.h"

#include <utility>

namespace dravelkent {
namespace {

// Makes each copy at once; Finish only hands the results over.
class ImmediateCopyBatch : public CopyBatch {
 public:
  explicit ImmediateCopyBatch(DiskInterface* disk) : disk_(disk) {}

  void AddAt(const FolderHandle& from_dir, const std::string& from_name,
             const FolderHandle& to_dir, const std::string& to_name,
             Overwrite overwrite) override {
    results_.push_back(
        disk_->CopyFileAt(from_dir, from_name, to_dir, to_name, overwrite));
  }
  bool full() const override { return false; }
  std::vector<Status> Finish() override { return std::exchange(results_, {}); }

 private:
  DiskInterface* disk_;
  std::vector<Status> results_;
};

}  // namespace

std::unique_ptr<CopyBatch> DiskInterface::StartCopyBatch() {
  return std::make_unique<ImmediateCopyBatch>(this);
}

}  // namespace dravelkent
