#include "jobs/action_log.h"

#include <cerrno>

#include "base/text_util.h"

namespace dravelkent {

void ActionLog::OnDiskChange(DiskChange change, const std::string& path,
                             const std::string& to) {
  switch (change) {
    case DiskChange::kFolderMade:
      Write("mkdir " + EscapeForLine(path));
      return;
    case DiskChange::kFileMoved:
      Write("move " + EscapeForLine(path) + " -> " + EscapeForLine(to));
      return;
    case DiskChange::kFileCopied:
      Write("copy " + EscapeForLine(path) + " -> " + EscapeForLine(to));
      return;
    case DiskChange::kFileRemoved:
      Write("delete " + EscapeForLine(path));
      return;
  }
}

void ActionLog::OnNotNewer(const std::string& from, const std::string& to) {
  Write("skip " + EscapeForLine(from) + " -> " + EscapeForLine(to) +
        " (not newer)");
}

void ActionLog::OnSettingWritten(const std::string& path,
                                 std::string_view section, std::string_view key,
                                 std::string_view value) {
  Write("set " + EscapeForLine(path) + " [" + EscapeForLine(section) + "] " +
        EscapeForLine(key) + "=" + EscapeForLine(value));
}

void ActionLog::Write(const std::string& line) {
  if (!status_.ok()) return;
  const std::string text = line + "\n";
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() ||
      std::fflush(out_) != 0) {
    status_ = Status::FromErrno("cannot write the action lines to",
                                "standard output", errno);
  }
}

}  // namespace dravelkent
