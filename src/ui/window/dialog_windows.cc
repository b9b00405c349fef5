// The window on Windows: dialog 102 of dialog_windows.rc as the host of the
// program's start-up sequence (gui_module_abi.h). The sequence runs on a
// thread of its own and posts its requests to the window, whose thread
// stays free to paint and answer.

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/system_windows.h"
#include "base/text_util.h"
#include "ui/window/gui_module_abi.h"

namespace dravelkent {
namespace {

constexpr int kAboutBox = 100, kAboutEntry = 101, kMainDialog = 102;
constexpr int kIcon = 128, kStatusLine = 1002;
constexpr UINT kAboutCommand = 0x10;
constexpr UINT kRequest = WM_APP;  // wParam a Request, lParam its text
enum Request { kStatus, kMessage, kWait, kDone };

// The window and what its two threads share.
struct Window {
  HWND dialog = nullptr;
  bool waiting = false;  // for "実行" or "閉じる"; the window's thread's
  std::mutex mutex;
  std::condition_variable answered;
  int answer = 0;  // to the pending request: 1 once a box closed, IDOK or
                   // IDCANCEL for the user's choice
};

// Returns |text| as the user reads it: escaped as on standard error and,
// for the status line, each word with its direction isolated (U+2068 to
// U+2069), so that no name turns the text around it.
std::wstring Shown(const std::string& text, bool isolate) {
  std::wstring escaped, shown;
  WideOf(EscapeForLine(text), &escaped);
  if (!isolate) return escaped;
  for (size_t at = 0, end; at <= escaped.size(); at = end + 1) {
    end = std::min(escaped.find(L' ', at), escaped.size());
    if (at > 0) shown += L' ';
    shown += L'\u2068' + escaped.substr(at, end - at) + L'\u2069';
  }
  return shown;
}

// Runs |operation| for a caller across the module boundary, which no
// exception may reach. Returns 0, or -1 when it threw (said on stderr).
template <typename Operation>
int Guarded(Operation operation) {
  try {
    return operation();
  } catch (...) {
    std::fputs("dravelkent: unexpected error in the main window\n", stderr);
  }
  return -1;
}

// Posts |request| with |text| to the window and, unless a status text,
// waits for its answer. Called by the run's thread.
int Ask(Window* window, Request request, const std::string& text = "") {
  std::unique_lock<std::mutex> lock(window->mutex);
  window->answer = 0;
  auto* shown = new std::wstring(Shown(text, request == kStatus));
  if (!PostMessageW(window->dialog, kRequest, request,
                    reinterpret_cast<LPARAM>(shown))) {
    delete shown;
    return -1;
  }
  if (request != kStatus && request != kDone) {
    window->answered.wait(lock, [window] { return window->answer != 0; });
  }
  return window->answer;
}

void Answer(Window* window, int answer) {
  std::lock_guard<std::mutex> lock(window->mutex);
  window->answer = answer;
  window->answered.notify_one();
}

// The user's choice, once it is asked for: the buttons then work, and
// pressing one disables both.
void Choose(Window* window, int choice) {
  HWND dialog = window->dialog;
  if (!window->waiting && choice == IDCANCEL) {
    SetDlgItemTextW(dialog, kStatusLine,
                    L"処理中です。終わるまでお待ちください");
  }
  if (!window->waiting) return;
  window->waiting = false;
  EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
  Answer(window, choice);
}

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM w, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
    EndDialog(box, 0);
  }
  return message == WM_INITDIALOG;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
  auto* window =
      reinterpret_cast<Window*>(GetWindowLongPtrW(dialog, DWLP_USER));
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  auto icon = [instance](int metric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIcon),
                                         IMAGE_ICON, GetSystemMetrics(metric),
                                         GetSystemMetrics(metric), 0));
  };
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, l);
      reinterpret_cast<Window*>(l)->dialog = dialog;
      wchar_t entry[64];
      HMENU menu = GetSystemMenu(dialog, FALSE);
      if (menu != nullptr && LoadStringW(instance, kAboutEntry, entry, 64)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, entry);
      }
      SendMessageW(dialog, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(icon(SM_CXICON)));
      SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(icon(SM_CXSMICON)));
      // The buttons wait for the sequence to ask for the user's choice.
      EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
      EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((w & 0xFFF0) != kAboutCommand) return FALSE;
      DialogBoxParamW(instance, MAKEINTRESOURCEW(kAboutBox), dialog, AboutProc,
                      0);
      return TRUE;
    case WM_PAINT: {
      if (!IsIconic(dialog)) return FALSE;
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      RECT client;
      GetClientRect(dialog, &client);
      DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
               (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2,
               icon(SM_CXICON));
      EndPaint(dialog, &paint);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) Choose(window, LOWORD(w));
      return TRUE;
    case WM_CLOSE:
      Choose(window, IDCANCEL);
      return TRUE;
    case kRequest: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(l));
      if (w == kStatus) SetDlgItemTextW(dialog, kStatusLine, text->c_str());
      if (w == kMessage) {
        // Only what the user does once the box shows counts.
        MSG typed;
        while (
            PeekMessageW(&typed, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
        }
        MessageBoxW(dialog, text->c_str(), L"確認", MB_OK);
        Answer(window, 1);
      }
      if (w == kWait) {
        window->waiting = true;
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        SetFocus(GetDlgItem(dialog, IDOK));
      }
      if (w == kDone) {
        DestroyWindow(dialog);
        PostQuitMessage(0);
      }
      return TRUE;
    }
  }
  return FALSE;
}

// Shows the window and runs |args| with it. Returns the exit status, or
// kDravelkentGuiUnavailable where no window can be seen (a service's or
// a scheduled task's session without a desktop).
int RunWindow(const DravelkentGuiStartArgs& args) {
  USEROBJECTFLAGS flags = {};
  if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                sizeof flags, nullptr) &&
      !(flags.dwFlags & WSF_VISIBLE)) {
    return kDravelkentGuiUnavailable;
  }
  Window window;
  if (!CreateDialogParamW(GetModuleHandleW(nullptr),
                          MAKEINTRESOURCEW(kMainDialog), nullptr, DialogProc,
                          reinterpret_cast<LPARAM>(&window))) {
    return kDravelkentGuiUnavailable;
  }
  DravelkentGuiHost host{
      &window,
      [](void* self, const char* text, size_t length) {
        return Guarded([&] {
          return Ask(static_cast<Window*>(self), kStatus, {text, length});
        });
      },
      [](void* self, const char* text, size_t length) {
        return Guarded([&] {
          return Ask(static_cast<Window*>(self), kMessage, {text, length}) > 0
                     ? 0
                     : -1;
        });
      },
      [](void*) { return 0; },  // the window goes once the sequence ends
      [](void* self, int (*run)(void*), void* run_context) {
        return Guarded([&] {
          const int choice = Ask(static_cast<Window*>(self), kWait);
          return choice == IDOK ? run(run_context) : choice > 0 ? 0 : -1;
        });
      }};
  int exit_status = 1;
  std::thread sequence([&] {
    exit_status = args.start_up(args.start_up_context, &host);
    Ask(&window, kDone);
  });
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window.dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  sequence.join();
  return exit_status;
}

}  // namespace
}  // namespace dravelkent

extern "C" int DravelkentGuiMain(const DravelkentGuiStartArgs* args) {
  if (args == nullptr ||
      args->struct_size != static_cast<int>(sizeof(DravelkentGuiStartArgs)) ||
      args->start_up == nullptr) {
    return dravelkent::kDravelkentGuiUnavailable;
  }
  try {
    return dravelkent::RunWindow(*args);
  } catch (...) {
    std::fputs("dravelkent: unexpected error in the main window\n", stderr);
  }
  return 1;
}
