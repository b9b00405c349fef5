#include "app/run_services.h"

namespace dravelkent {
namespace {

constexpr char kSettingsFileName[] = "Dravelkent.ini";

}  // namespace

std::string SettingsPathFor(const std::string& current_directory) {
  return current_directory + "/" + kSettingsFileName;
}

RunServices::RunServices(const std::string& current_directory, std::FILE* err)
    : current_directory_(current_directory),
      settings_(SettingsPathFor(current_directory)),
      failures_(err),
      run_lock_(current_directory) {}

EngineEnv RunServices::EnvFor(Host* host) {
  EngineEnv env;
  env.settings = &settings_;
  env.disk = &disk_;
  env.clock = &clock_;
  env.host = host;
  env.failures = &failures_;
  env.current_directory = current_directory_;
  env.run_lock = &run_lock_;
  return env;
}

}  // namespace dravelkent
