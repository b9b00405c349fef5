// dravelkentw.exe links the dialog (DRAVELKENT_WINDOWED); dravelkent.exe,
// for consoles, keeps to the console.

#include "app/start_up.h"

extern "C" int DravelkentGuiMain(const DravelkentGuiStartArgs* args);

DravelkentGuiMainFunction dravelkent::LoadWindowModule() {
#ifdef DRAVELKENT_WINDOWED
  return DravelkentGuiMain;
#endif
  return nullptr;
}
