#include "jobs/reports.h"

#include <cerrno>

#include "base/text_util.h"

namespace dravelkent {

void ActionLog::FolderMade(const std::string& folder) {
  Write("mkdir " + EscapeForLine(folder));
}

void ActionLog::Moved(const std::string& from, const std::string& to) {
  Write("move " + EscapeForLine(from) + " -> " + EscapeForLine(to));
}

void ActionLog::Copied(const std::string& from, const std::string& to) {
  Write("copy " + EscapeForLine(from) + " -> " + EscapeForLine(to));
}

void ActionLog::NotNewer(const std::string& from, const std::string& to) {
  Write("skip " + EscapeForLine(from) + " -> " + EscapeForLine(to) +
        " (not newer)");
}

void ActionLog::Deleted(const std::string& file) {
  Write("delete " + EscapeForLine(file));
}

void ActionLog::SettingWritten(const std::string& file,
                               std::string_view section, std::string_view key,
                               std::string_view value) {
  std::string line = "set " + EscapeForLine(file) + " [";
  line.append(section).append("] ").append(key).append("=");
  Write(line + EscapeForLine(value));
}

void ActionLog::Write(const std::string& line) {
  if (out_ == nullptr || !status_.ok()) return;
  const std::string text = line + "\n";
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() ||
      std::fflush(out_) != 0) {
    status_ = Status::FromErrno("cannot write the action lines to",
                                "standard output", errno);
  }
}

void StreamFailureLog::Report(const Status& status) {
  ++count_;
  if (written_.insert(status.message()).second) Note(status.message());
}

void StreamFailureLog::Note(const std::string& text) {
  std::fprintf(stream_, "dravelkent: %s\n", EscapeForLine(text).c_str());
  std::fflush(stream_);
}

}  // namespace dravelkent
