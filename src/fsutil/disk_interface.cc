#include "fsutil/disk_interface.h"

#include <cerrno>
#include <utility>

namespace dravelkent {
namespace {

// Makes each copy at once; Finish only hands the results over.
class ImmediateCopyBatch : public CopyBatch {
 public:
  explicit ImmediateCopyBatch(DiskInterface* disk) : disk_(disk) {}

  void Add(const std::string& from, const std::string& to) override {
    results_.push_back(disk_->CopyFile(from, to));
  }
  bool full() const override { return false; }
  std::vector<Status> Finish() override { return std::exchange(results_, {}); }

 private:
  DiskInterface* disk_;
  std::vector<Status> results_;
};

}  // namespace

Status DiskInterface::CopySymlink(const std::string& from,
                                  const std::string& to) {
  return Status::FromErrno("cannot copy link", from + " to " + to, ENOSYS);
}

std::unique_ptr<CopyBatch> DiskInterface::StartCopyBatch() {
  return std::make_unique<ImmediateCopyBatch>(this);
}

}  // namespace dravelkent
