#include <cerrno>
#include <deque>
#include <vector>

#include "jobs/job_engine.h"

namespace dravelkent {
namespace {

// Links followed on one walk before giving up, as the kernel does.
constexpr int kMostLinks = 40;

// One name still to walk, and the text that names the folder it leads to.
struct Step {
  std::string name;
  std::string shown;
};

// Returns the names of |rest|, the part of |text| after its start, each
// shown as |text| up to it and a separator.
std::deque<Step> StepsOf(const std::string& text, const std::string& rest) {
  std::deque<Step> steps;
  size_t pos = text.size() - rest.size();
  while (pos < text.size()) {
    size_t end = pos;
    while (end < text.size() && !IsPathSeparator(text[end])) ++end;
    steps.push_back({text.substr(pos, end - pos),
                     text.substr(0, end) +
                         (end < text.size() ? text[end] : kPathSeparator)});
    pos = end + 1;
  }
  return steps;
}

Status Walk(Disk* disk, ActionLog* actions, const std::string& text,
            bool create, std::unique_ptr<Folder>* opened) {
  if (text.size() >= 2 && IsPathSeparator(text[0]) &&
      IsPathSeparator(text[1])) {
    create = false;  // a network path
  }
  const std::string shown = text.empty() || IsPathSeparator(text.back())
                                ? text
                                : text + kPathSeparator;
  std::vector<std::unique_ptr<Folder>> walked(1);
  // Most days every folder is there and no link on the way: opened at once.
  Status status =
      text.empty() ? Status::Error("") : disk->OpenPath(text, &walked[0]);
  if (status.ok()) {
    walked[0]->set_path(shown);
    *opened = std::move(walked[0]);
    return status;
  }
  std::string rest;
  status = disk->OpenStart(text, &walked[0], &rest);
  if (!status.ok()) return status;
  std::deque<Step> steps = StepsOf(text, rest);
  int links = 0;
  while (!steps.empty()) {
    const Step step = std::move(steps.front());
    steps.pop_front();
    const Folder& here = *walked.back();
    if (step.name.empty()) {
      // A trailing separator, or two in a row, after which nothing is made.
      create = create && steps.empty();
      continue;
    }
    if (step.name == ".") continue;
    if (step.name == "..") {
      if (walked.size() > 1) {
        walked.pop_back();
      } else {
        std::unique_ptr<Folder> up;
        status = disk->OpenParent(here, &up);
        if (!status.ok()) {
          return status.Reworded("cannot open folder", step.shown);
        }
        walked.back() = std::move(up);
      }
      continue;
    }
    const std::string made = step.shown.substr(0, step.shown.size() - 1);
    std::unique_ptr<Folder> next;
    status = disk->OpenFolder(here, step.name, &next);
    if (status.error_number() == ENOENT && create) {
      status = disk->MakeFolder(here, step.name, nullptr, &next);
      if (status.ok()) {
        actions->FolderMade(made);
      } else if (status.error_number() == EEXIST) {
        status = disk->OpenFolder(here, step.name, &next);  // made meanwhile
      } else {
        return status.Reworded("cannot create folder", made);
      }
    }
    if (status.error_number() == ELOOP) {
      FileInfo link;
      std::string target;
      status = disk->Stat(here, step.name, Follow::kNo, &link);
      if (status.ok() && !disk->env()->MayFollowLink(link)) {
        return Status::Failure(
            "cannot follow", here.path() + step.name,
            "the link belongs to user " + std::to_string(link.owner) +
                ", neither to the system nor to the user running this "
                "program",
            EPERM);
      }
      if (status.ok() && ++links > kMostLinks) {
        status = Status::FromErrno("cannot open folder", step.shown, ELOOP);
      }
      if (status.ok()) status = disk->ReadLink(here, step.name, &target);
      if (!status.ok()) return status;
      std::string target_rest = target;
      if (!target.empty() && IsPathSeparator(target[0])) {
        std::unique_ptr<Folder> start;
        status = disk->OpenStart(target, &start, &target_rest);
        if (!status.ok()) return status;
        walked.resize(1);
        walked[0] = std::move(start);
      }
      std::deque<Step> more = StepsOf(target, target_rest);
      for (auto it = more.rbegin(); it != more.rend(); ++it) {
        steps.push_front({it->name, step.shown});
      }
      continue;
    }
    if (!status.ok()) return status.Reworded("cannot open folder", step.shown);
    walked.push_back(std::move(next));
  }
  *opened = std::move(walked.back());
  if (!text.empty()) (*opened)->set_path(shown);
  return Status::Ok();
}

}  // namespace

Status MakeDirectoryPath(Disk* disk, ActionLog* actions,
                         const std::string& folder,
                         std::unique_ptr<Folder>* opened) {
  return Walk(disk, actions, folder, true, opened);
}

Status OpenDirectoryPath(Disk* disk, const std::string& folder,
                         std::unique_ptr<Folder>* opened) {
  ActionLog none;
  return Walk(disk, &none, folder, false, opened);
}

}  // namespace dravelkent
