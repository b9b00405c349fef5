#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <utility>

#include "fsutil/env_posix.h"

namespace dravelkent::testing {

// The calls of an Env that a FaultyEnv counts and can fail.
// clang-format off
enum class Call { kOpenFolder, kList, kStat, kMakeFolder, kFinishFolder,
                  kRemove, kRename, kOpenForCopy, kCreateTemp, kCopyData,
                  kSetAttributes, kFlush, kPublish, kFlushFolder,
                  kSaveWholeFile, kCount };
// clang-format on

// The POSIX Env on 8 December 2026, counting calls of each kind, failing
// some and running an action before others.
class FaultyEnv : public PosixEnv {
 public:
  // Makes the |n|th call of |call| from now (from 1) fail with |error|.
  void FailAt(Call call, int n, int error = EIO) {
    faults_[{call, count(call) + n}] = error;
  }
  // Runs |action| just before the |n|th call of |call| from now.
  void Before(Call call, int n, std::function<void()> action) {
    actions_[{call, count(call) + n}] = std::move(action);
  }
  int count(Call call) const { return counts_[static_cast<int>(call)]; }

  CivilDate Today() override { return {2026, 12, 8}; }

 private:
  template <typename Forward>
  Status Hit(Call call, Forward forward) {
    const std::pair<Call, int> at{call, ++counts_[static_cast<int>(call)]};
    if (auto action = actions_.find(at); action != actions_.end()) {
      action->second();
    }
    const auto fault = faults_.find(at);
    return fault == faults_.end()
               ? forward()
               : Status::FromErrno("injected failure", "", fault->second);
  }

  int counts_[static_cast<int>(Call::kCount)] = {};
  std::map<std::pair<Call, int>, int> faults_;
  std::map<std::pair<Call, int>, std::function<void()>> actions_;

 public:
  using Dir = const Folder&;
  using Name = const std::string&;
  // clang-format off
#define DRAVELKENT_HIT(call, ...) override \
  { return Hit(Call::k##call, [&] { return PosixEnv::call(__VA_ARGS__); }); }
  Status OpenFolder(Dir p, Name n, std::unique_ptr<Folder>* f)
      DRAVELKENT_HIT(OpenFolder, p, n, f)
  Status List(Dir f, const std::function<void(const FileInfo&)>& e)
      DRAVELKENT_HIT(List, f, e)
  Status Stat(Dir f, Name n, Follow w, FileInfo* i)
      DRAVELKENT_HIT(Stat, f, n, w, i)
  Status MakeFolder(Dir p, Name n, const FileInfo* l,
                    std::unique_ptr<Folder>* m)
      DRAVELKENT_HIT(MakeFolder, p, n, l, m)
  Status FinishFolder(Dir f, const FileInfo& l)
      DRAVELKENT_HIT(FinishFolder, f, l)
  Status Remove(Dir f, Name n) DRAVELKENT_HIT(Remove, f, n)
  Status Rename(Dir f, Name n, Dir t, Name m) DRAVELKENT_HIT(Rename, f, n, t, m)
  Status OpenForCopy(Dir f, Name n, Follow w, std::unique_ptr<OpenFile>* o,
                     FileInfo* i) DRAVELKENT_HIT(OpenForCopy, f, n, w, o, i)
  Status CreateTemp(Dir f, const std::string* l, std::unique_ptr<OpenFile>* t)
      DRAVELKENT_HIT(CreateTemp, f, l, t)
  Status CopyData(OpenFile& f, const FileInfo& i, OpenFile& t)
      DRAVELKENT_HIT(CopyData, f, i, t)
  Status SetAttributes(OpenFile& t, const FileInfo& l, Owner o)
      DRAVELKENT_HIT(SetAttributes, t, l, o)
  Status Flush(const std::vector<OpenFile*>& f) DRAVELKENT_HIT(Flush, f)
  Status Publish(OpenFile& t, Name n, Replace r)
      DRAVELKENT_HIT(Publish, t, n, r)
  Status FlushFolder(Dir f) DRAVELKENT_HIT(FlushFolder, f)
  Status SaveWholeFile(const WholeFile& f, std::string_view b, SaveWay w,
                       SaveStep s) DRAVELKENT_HIT(SaveWholeFile, f, b, w, s)
#undef DRAVELKENT_HIT
  // clang-format on
};

}  // namespace dravelkent::testing
