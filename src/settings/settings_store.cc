#include "settings/settings_store.h"

namespace dravelkent {

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

std::string SettingsStore::Read(std::string_view, std::string_view,
                                std::string_view default_value) const {
  return std::string(default_value);
}

Status SettingsStore::Write(std::string_view, std::string_view,
                            std::string_view) {
  return Status::Ok();
}

std::string SettingsPathFor(const std::string& current_directory) {
  return current_directory + "/Dravelkent.ini";
}

}  // namespace dravelkent
