#include "settings/settings_store.h"

#include <optional>

#include "settings/ini_text.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

Status EditFailure(IniEditResult result, std::string_view section,
                   std::string_view key, const std::string& path,
                   std::string_view file_bytes) {
  TextEncoding encoding = DetectEncoding(file_bytes);
  std::string message = "cannot write ";
  message.append(key).append(" in [").append(section).append("] of ");
  message.append(path).append(": ");
  switch (result) {
    case IniEditResult::kNotEncodable:
      message.append("the value has no form in the file's encoding (");
      message.append(EncodingName(encoding)).append(")");
      break;
    case IniEditResult::kUnknownEncoding:
      message.append("the file's encoding (").append(EncodingName(encoding));
      message.append(") cannot be written");
      break;
    case IniEditResult::kEncodingWouldChange:
      message.append("the file is ").append(EncodingName(encoding));
      message.append(
          " only because of the old value; without it the file "
          "would read as ");
      message.append(encoding == TextEncoding::kCp932 ? "UTF-8" : "CP932");
      message.append(" and its other lines would change");
      break;
    case IniEditResult::kUndecodableLines: {
      UndecodableLines bad = FindUndecodableLines(file_bytes);
      message.append("the section is not in the file, and ");
      message.append(std::to_string(bad.count));
      message.append(" of its lines (the first is line ");
      message.append(std::to_string(bad.first));
      message.append(") are not valid ").append(EncodingName(encoding));
      message.append("; one of them may be the section, so none is added");
      break;
    }
    case IniEditResult::kMalformed:
    case IniEditResult::kDone:
      message.append("the name or the value would not read back");
      break;
  }
  return Status::Error(std::move(message));
}

}  // namespace

Status SettingsStore::PlanWrite(std::string_view section, std::string_view key,
                                std::string_view value, Plan* plan) const {
  // A file that cannot be read is never replaced by a template holding the
  // one key written.
  Status read = env_->ReadWholeFile(path_, &plan->file);
  if (!read.ok()) return read;
  const std::string& bytes = plan->file.bytes;
  const std::string shown = plan->file.target == path_
                                ? path_
                                : path_ + " (a link to " + plan->file.target +
                                      ")";
  IniEditResult result =
      SetIniValue(bytes, section, key, value, &plan->updated);
  if (result != IniEditResult::kDone) {
    return EditFailure(result, section, key, shown, bytes);
  }
  const bool missing = plan->file.info.kind == FileKind::kMissing;
  plan->change = missing || plan->updated != bytes ? FileChange::kChanged
                                                   : FileChange::kNone;
  plan->way = env_->ChooseSaveWay(plan->file);
  return Status::Ok();
}

std::string SettingsStore::Read(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  WholeFile file;
  if (!env_->ReadWholeFile(path_, &file).ok()) {
    return std::string(default_value);
  }
  std::optional<std::string> value = FindIniValue(file.bytes, section, key);
  return value ? *value : std::string(default_value);
}

Status SettingsStore::Write(std::string_view section, std::string_view key,
                            std::string_view value, FileChange* change) {
  if (change != nullptr) *change = FileChange::kNone;
  Plan plan;
  Status status = PlanWrite(section, key, value, &plan);
  if (!status.ok() || plan.change == FileChange::kNone) return status;
  status = env_->SaveWholeFile(plan.file, plan.updated, plan.way, SaveStep::kAll);
  if (status.ok() && change != nullptr) *change = FileChange::kChanged;
  return status;
}

Status SettingsStore::CheckWrite(std::string_view section, std::string_view key,
                                 std::string_view value, SaveStep step,
                                 FileChange* change) const {
  Plan plan;
  Status status = PlanWrite(section, key, value, &plan);
  *change = plan.change;
  if (!status.ok() || plan.change == FileChange::kNone) return status;
  return env_->SaveWholeFile(plan.file, plan.updated, plan.way, step);
}

Status SettingsStore::CheckReadable() const {
  WholeFile file;
  Status read = env_->ReadWholeFile(path_, &file);
  if (!read.ok() || file.info.kind == FileKind::kMissing) return read;
  const std::string& bytes = file.bytes;
  TextEncoding encoding = DetectEncoding(bytes);
  if (!TextCodec(encoding).usable()) {
    return Status::Error("cannot read " + path_ + ": text in " +
                         EncodingName(encoding) + " cannot be read");
  }
  UndecodableLines bad = FindUndecodableLines(bytes);
  if (bad.count > 0) {
    bool one = bad.count == 1;
    std::string first = std::to_string(bad.first);
    std::string where = one ? "line " + first + " of " + path_
                            : std::to_string(bad.count) + " lines of " + path_ +
                                  " (the first is line " + first + ")";
    std::string they = one ? "it is" : "they are";
    return Status::Error("cannot read " + where + ": not valid " +
                         EncodingName(encoding) + "; " + they +
                         " ignored and kept as " + they);
  }
  return Status::Ok();
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
