#include "settings/settings_store.h"

#include <optional>

#include "settings/ini_text.h"

namespace dravelkent {

std::string SettingsStore::Read(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  std::optional<std::string> value;
  if (env_->ReadWholeFile(path_, &file_).ok()) {
    value = FindIniValue(file_.bytes, section, key);
  }
  return value.value_or(std::string(default_value));
}

Status SettingsStore::Write(std::string_view section, std::string_view key,
                            std::string_view value, FileChange* change) {
  FileChange changed;
  Status status = CheckWrite(section, key, value, SaveStep::kAll, &changed);
  if (change != nullptr) *change = status.ok() ? changed : FileChange::kNone;
  return status;
}

Status SettingsStore::CheckWrite(std::string_view section, std::string_view key,
                                 std::string_view value, SaveStep step,
                                 FileChange* change) const {
  *change = FileChange::kNone;
  // A file that cannot be read is never replaced by one holding one key.
  WholeFile& file = file_;
  std::string updated;
  Status status = env_->ReadWholeFile(path_, &file);
  if (status.ok()) {
    const std::string shown = file.target == path_
                                  ? path_
                                  : path_ + " (a link to " + file.target + ")";
    status = SetIniValue(file.bytes, section, key, value, shown, &updated);
  }
  if (!status.ok() ||
      (file.info.kind != FileKind::kMissing && updated == file.bytes)) {
    return status;
  }
  *change = FileChange::kChanged;
  status = env_->SaveWholeFile(file, updated, env_->ChooseSaveWay(file), step);
  // Its bytes may have changed within the file system's clock tick.
  if (step == SaveStep::kAll) file = WholeFile();
  return status;
}

Status SettingsStore::CheckReadable() const {
  Status read = env_->ReadWholeFile(path_, &file_);
  if (!read.ok() || file_.info.kind == FileKind::kMissing) return read;
  return CheckIniText(file_.bytes, path_);
}

bool SettingsStore::FindFile(FileId* id) const {
  if (!env_->ReadWholeFile(path_, &file_).ok() ||
      file_.info.kind == FileKind::kMissing) {
    return false;
  }
  *id = file_.info.id;
  return true;
}

}  // namespace dravelkent
