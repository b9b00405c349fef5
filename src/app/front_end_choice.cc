#include "app/front_end_choice.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "app/start_up.h"
#include "app/window_front_end.h"
#include "jobs/texts.h"
#include "settings/settings_store.h"
#include "ui/console.h"
#include "ui/window/gui_module_abi.h"

namespace dravelkent {
namespace {

bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

// Returns the path of the running program, or an empty text.
std::string ExecutablePath() {
  std::vector<char> buffer(256);
  while (true) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Loads the first GUI module found and returns its entry point, or null.
// The module stays loaded for the life of the process: the toolkit's
// libraries do not survive being unloaded.
DravelkentGuiMainFunction LoadGuiEntryPoint() {
  for (const std::string& path : GuiModuleCandidates(ExecutablePath())) {
    if (access(path.c_str(), R_OK) != 0) continue;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    void* entry = dlsym(module, kGuiEntryPointName);
    if (entry != nullptr) {
      return reinterpret_cast<DravelkentGuiMainFunction>(entry);
    }
    dlclose(module);
  }
  return nullptr;
}

}  // namespace

DisplayPresence DisplayFromEnvironment(const char* display,
                                       const char* wayland_display) {
  return IsSet(display) || IsSet(wayland_display) ? DisplayPresence::kPresent
                                                  : DisplayPresence::kNone;
}

FrontEnd ChooseFrontEnd(DisplayPresence display, const std::string& view,
                        const std::string& message) {
  if (display != DisplayPresence::kPresent) return FrontEnd::kConsole;
  if (view != texts::kOff || message == texts::kOn) return FrontEnd::kGui;
  return FrontEnd::kConsole;
}

std::vector<std::string> GuiModuleCandidates(
    const std::string& executable_path) {
  size_t slash = executable_path.rfind('/');
  if (slash == std::string::npos) return {};
  std::string folder = executable_path.substr(0, slash + 1);
  return {folder + kGuiModuleFileName,
          folder + "../lib/dravelkent/" + kGuiModuleFileName};
}

int RunFrontEnd(const std::string& current_directory, const RunOptions& options,
                std::FILE* in, std::FILE* out, std::FILE* err) {
  DisplayPresence display = DisplayFromEnvironment(
      std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (display == DisplayPresence::kPresent &&
      options.run_kind == RunKind::kReal) {
    // Only reads here: the start-up sequence reads VIEW again and writes
    // back what it must.
    SettingsStore settings(Env::Default(), SettingsPathFor(current_directory));
    std::string view =
        settings.Read(texts::kBasicSection, texts::kView, texts::kOff);
    std::string message =
        settings.Read(texts::kBasicSection, texts::kMessage, "");
    if (ChooseFrontEnd(display, view, message) == FrontEnd::kGui) {
      if (DravelkentGuiMainFunction gui_main = LoadGuiEntryPoint()) {
        std::fflush(out);
        std::fflush(err);
        int status = 1;
        if (RunInWindow(gui_main, current_directory, options, out, err,
                        &status) == WindowOutcome::kRan) {
          return status;
        }
      }
    }
  }
  Console host(in, out, err, TerminalOf(in), TerminalOf(err));
  return RunStartUp(current_directory, options, &host, out, err);
}

}  // namespace dravelkent
