// dravelkentw.exe links the dialog (DRAVELKENT_WINDOWED); dravelkent.exe,
// for consoles, keeps to the console.

#include "app/start_up.h"

#ifdef DRAVELKENT_WINDOWED
extern "C" int DravelkentGuiMain(const DravelkentGuiStartArgs* args);
#endif

namespace dravelkent {

DravelkentGuiMainFunction LoadWindowModule() {
#ifdef DRAVELKENT_WINDOWED
  return DravelkentGuiMain;
#else
  return nullptr;
#endif
}

}  // namespace dravelkent
