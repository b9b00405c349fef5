#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/start_up.h"
#include "base/system.h"

namespace dravelkent {

// The first module found beside the program, then in ../lib/dravelkent/.
DravelkentGuiMainFunction LoadWindowModule() {
  const std::string folder = ProgramFolder();
  if (folder.empty() ||
      !HasDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    return nullptr;
  }
  for (const std::string& path :
       {folder + kGuiModuleFileName,
        folder + "../lib/dravelkent/" + kGuiModuleFileName}) {
    if (access(path.c_str(), R_OK) != 0) continue;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    if (void* entry = dlsym(module, kGuiEntryPointName)) {
      return reinterpret_cast<DravelkentGuiMainFunction>(entry);
    }
    dlclose(module);
  }
  return nullptr;
}

}  // namespace dravelkent
