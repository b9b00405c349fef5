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

// Forwards a call to the real Env: counted and failed as |kind| says.
#define DRAVELKENT_FORWARD(kind, call)             \
  {                                                \
    return Hit(kind, [&] { return real_->call; }); \
  }
#define DRAVELKENT_PASS(call) \
  { return real_->call; }
  // clang-format off
  bool MayFollowLink(const FileInfo& l) override DRAVELKENT_PASS(MayFollowLink(l))
  Status OpenStart(const std::string& p, std::unique_ptr<Folder>* s,
                   std::string* r) override DRAVELKENT_PASS(OpenStart(p, s, r))
  Status OpenFolder(const Folder& p, const std::string& n,
                    std::unique_ptr<Folder>* f) override
      DRAVELKENT_FORWARD(Call::kOpenFolder, OpenFolder(p, n, f))
  Status ReadLink(const Folder& f, const std::string& n,
                  std::string* t) override DRAVELKENT_PASS(ReadLink(f, n, t))
  Status List(const Folder& f,
              const std::function<void(const FileInfo&)>& each) override
      DRAVELKENT_FORWARD(Call::kList, List(f, each))
  Status Stat(const Folder& f, const std::string& n, Follow w,
              FileInfo* i) override DRAVELKENT_FORWARD(Call::kStat, Stat(f, n, w, i))
  Status MakeFolder(const Folder& p, const std::string& n, const FileInfo* l,
                    std::unique_ptr<Folder>* m) override
      DRAVELKENT_FORWARD(Call::kMakeFolder, MakeFolder(p, n, l, m))
  Status FinishFolder(const Folder& f, const FileInfo& l) override
      DRAVELKENT_FORWARD(Call::kFinishFolder, FinishFolder(f, l))
  Status MayChangeNames(const Folder& f) override DRAVELKENT_PASS(MayChangeNames(f))
  Status MayRemove(const Folder& f, const FileInfo& e, Leave l) override
      DRAVELKENT_PASS(MayRemove(f, e, l))
  Status MayRead(const Folder& f, const std::string& n) override
      DRAVELKENT_PASS(MayRead(f, n))
  Status Remove(const Folder& f, const std::string& n) override
      DRAVELKENT_FORWARD(Call::kRemove, Remove(f, n))
  Status Rename(const Folder& f, const std::string& n, const Folder& t,
                const std::string& m) override
      DRAVELKENT_FORWARD(Call::kRename, Rename(f, n, t, m))
  Status OpenForCopy(const Folder& f, const std::string& n, Follow w,
                     std::unique_ptr<OpenFile>* o, FileInfo* i) override
      DRAVELKENT_FORWARD(Call::kOpenForCopy, OpenForCopy(f, n, w, o, i))
  Status StatOpen(OpenFile& f, FileInfo* i) override DRAVELKENT_PASS(StatOpen(f, i))
  Status CreateTemp(const Folder& f, const std::string* l,
                    std::unique_ptr<OpenFile>* t) override
      DRAVELKENT_FORWARD(Call::kCreateTemp, CreateTemp(f, l, t))
  Status CopyData(OpenFile& f, const FileInfo& i, OpenFile& t) override
      DRAVELKENT_FORWARD(Call::kCopyData, CopyData(f, i, t))
  Status SetAttributes(OpenFile& t, const FileInfo& l, Owner o) override
      DRAVELKENT_FORWARD(Call::kSetAttributes, SetAttributes(t, l, o))
  Status Flush(const std::vector<OpenFile*>& f) override
      DRAVELKENT_FORWARD(Call::kFlush, Flush(f))
  Status Publish(OpenFile& t, const std::string& n, Replace r) override
      DRAVELKENT_FORWARD(Call::kPublish, Publish(t, n, r))
  Status FlushFolder(const Folder& f) override
      DRAVELKENT_FORWARD(Call::kFlushFolder, FlushFolder(f))
  Status ReadWholeFile(const std::string& p, WholeFile* f) override
      DRAVELKENT_PASS(ReadWholeFile(p, f))
  SaveWay ChooseSaveWay(const WholeFile& f) override DRAVELKENT_PASS(ChooseSaveWay(f))
  Status SaveWholeFile(const WholeFile& f, std::string_view b, SaveWay w,
                       SaveStep s) override
      DRAVELKENT_FORWARD(Call::kSave, SaveWholeFile(f, b, w, s))
  Status LockFile(const std::string& p, SaveStep s,
                  const std::function<void()>& w,
                  std::unique_ptr<FileLock>* l) override
      DRAVELKENT_PASS(LockFile(p, s, w, l))
  // clang-format on
#undef DRAVELKENT_FORWARD
#undef DRAVELKENT_PASS

          private : template <typename Forward>
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
