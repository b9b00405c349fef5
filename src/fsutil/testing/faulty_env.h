#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fsutil/env.h"

namespace dravelkent::testing {

// The calls of an Env that a FaultyEnv counts and can fail.
// clang-format off
enum class Call { kOpenFolder, kList, kStat, kMakeFolder, kFinishFolder,
                  kRemove, kRename, kOpenForCopy, kCreateTemp, kCopyData,
                  kSetAttributes, kFlush, kPublish, kFlushFolder, kSave,
                  kCount };
// clang-format on

// An Env that forwards every call to another, counts the calls of each
// kind, fails the ones it is told to, runs an action before others, and
// tells the date it is given.
class FaultyEnv : public Env {
 public:
  explicit FaultyEnv(Env* real = Env::Default()) : real_(real) {}

  // Makes the |n|th call of |call| from now (from 1) fail with |error|.
  void FailAt(Call call, int n, int error = EIO) {
    faults_[{call, counts_[static_cast<int>(call)] + n}] = error;
  }
  // Runs |action| just before the |n|th call of |call| from now.
  void Before(Call call, int n, std::function<void()> action) {
    actions_[{call, counts_[static_cast<int>(call)] + n}] = std::move(action);
  }
  // Forgets every failure and action still to come.
  void ClearFaults() {
    faults_.clear();
    actions_.clear();
  }
  int count(Call call) const { return counts_[static_cast<int>(call)]; }
  void set_today(CivilDate today) { today_ = today; }

  CivilDate Today() override { return today_; }
  bool MayFollowLink(const FileInfo& link) override {
    return real_->MayFollowLink(link);
  }
  Status OpenStart(const std::string& path, std::unique_ptr<Folder>* start,
                   std::string* rest) override {
    return real_->OpenStart(path, start, rest);
  }
  Status OpenFolder(const Folder& parent, const std::string& name,
                    std::unique_ptr<Folder>* folder) override {
    return Hit(Call::kOpenFolder, [&] {
      return real_->OpenFolder(parent, name, folder);
    });
  }
  Status ReadLink(const Folder& folder, const std::string& name,
                  std::string* target) override {
    return real_->ReadLink(folder, name, target);
  }
  Status List(const Folder& folder,
              const std::function<void(const FileInfo&)>& each) override {
    return Hit(Call::kList, [&] { return real_->List(folder, each); });
  }
  Status Stat(const Folder& folder, const std::string& name, Follow follow,
              FileInfo* info) override {
    return Hit(Call::kStat,
               [&] { return real_->Stat(folder, name, follow, info); });
  }
  Status MakeFolder(const Folder& parent, const std::string& name,
                    const FileInfo* like,
                    std::unique_ptr<Folder>* made) override {
    return Hit(Call::kMakeFolder,
               [&] { return real_->MakeFolder(parent, name, like, made); });
  }
  Status FinishFolder(const Folder& folder, const FileInfo& like) override {
    return Hit(Call::kFinishFolder,
               [&] { return real_->FinishFolder(folder, like); });
  }
  Status MayChangeNames(const Folder& folder) override {
    return real_->MayChangeNames(folder);
  }
  Status MayRemove(const Folder& folder, const FileInfo& entry) override {
    return real_->MayRemove(folder, entry);
  }
  Status MayRead(const Folder& folder, const std::string& name) override {
    return real_->MayRead(folder, name);
  }
  Status Remove(const Folder& folder, const std::string& name) override {
    return Hit(Call::kRemove, [&] { return real_->Remove(folder, name); });
  }
  Status Rename(const Folder& from, const std::string& from_name,
                const Folder& to, const std::string& to_name) override {
    return Hit(Call::kRename,
               [&] { return real_->Rename(from, from_name, to, to_name); });
  }
  Status OpenForCopy(const Folder& folder, const std::string& name,
                     Follow follow, std::unique_ptr<OpenFile>* file,
                     FileInfo* info) override {
    return Hit(Call::kOpenForCopy, [&] {
      return real_->OpenForCopy(folder, name, follow, file, info);
    });
  }
  Status StatOpen(OpenFile& file, FileInfo* info) override {
    return real_->StatOpen(file, info);
  }
  Status CreateTemp(const Folder& folder, const std::string* link_target,
                    std::unique_ptr<OpenFile>* temp) override {
    return Hit(Call::kCreateTemp,
               [&] { return real_->CreateTemp(folder, link_target, temp); });
  }
  Status CopyData(OpenFile& from, const FileInfo& info, OpenFile& to) override {
    return Hit(Call::kCopyData,
               [&] { return real_->CopyData(from, info, to); });
  }
  Status SetAttributes(OpenFile& to, const FileInfo& like,
                       Owner owner) override {
    return Hit(Call::kSetAttributes,
               [&] { return real_->SetAttributes(to, like, owner); });
  }
  Status Flush(const std::vector<OpenFile*>& files) override {
    return Hit(Call::kFlush, [&] { return real_->Flush(files); });
  }
  Status Publish(OpenFile& temp, const std::string& name,
                 Replace replace) override {
    return Hit(Call::kPublish,
               [&] { return real_->Publish(temp, name, replace); });
  }
  Status FlushFolder(const Folder& folder) override {
    return Hit(Call::kFlushFolder, [&] { return real_->FlushFolder(folder); });
  }
  Status ReadWholeFile(const std::string& path, WholeFile* file) override {
    return real_->ReadWholeFile(path, file);
  }
  SaveWay ChooseSaveWay(const WholeFile& file) override {
    return real_->ChooseSaveWay(file);
  }
  Status SaveWholeFile(const WholeFile& file, std::string_view bytes,
                       SaveWay way, SaveStep step) override {
    return Hit(Call::kSave, [&] {
      return real_->SaveWholeFile(file, bytes, way, step);
    });
  }
  Status LockFile(const std::string& path, SaveStep step,
                  const std::function<void()>& on_wait,
                  std::unique_ptr<FileLock>* lock) override {
    return real_->LockFile(path, step, on_wait, lock);
  }

 private:
  template <typename Forward>
  Status Hit(Call call, Forward forward) {
    const std::pair<Call, int> at{call, ++counts_[static_cast<int>(call)]};
    if (auto action = actions_.find(at); action != actions_.end()) {
      action->second();
    }
    if (auto fault = faults_.find(at); fault != faults_.end()) {
      return Status::FromErrno("injected failure", "", fault->second);
    }
    return forward();
  }

  Env* real_;
  CivilDate today_{2026, 12, 8};
  int counts_[static_cast<int>(Call::kCount)] = {};
  std::map<std::pair<Call, int>, int> faults_;
  std::map<std::pair<Call, int>, std::function<void()>> actions_;
};

}  // namespace dravelkent::testing
