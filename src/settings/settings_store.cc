#include "settings/settings_store.h"

#include <optional>

#include "settings/ini_text.h"

namespace dravelkent {

std::string SettingsStore::Read(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  WholeFile file;
  std::optional<std::string> value;
  if (env_->ReadWholeFile(path_, &file).ok()) {
    value = FindIniValue(file.bytes, section, key);
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
  // A file that cannot be read is never replaced by a template holding the
  // one key written.
  WholeFile file;
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
  return env_->SaveWholeFile(file, updated, env_->ChooseSaveWay(file), step);
}

Status SettingsStore::CheckReadable() const {
  WholeFile file;
  Status read = env_->ReadWholeFile(path_, &file);
  if (!read.ok() || file.info.kind == FileKind::kMissing) return read;
  return CheckIniText(file.bytes, path_);
}

bool SettingsStore::FindFile(FileId* id) const {
  WholeFile file;
  if (!env_->ReadWholeFile(path_, &file).ok() ||
      file.info.kind == FileKind::kMissing) {
    return false;
  }
  *id = file.info.id;
  return true;
}

}  // namespace dravelkent
