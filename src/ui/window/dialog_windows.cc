// The window on Windows: dialog 102 of dialog_windows.rc hosts the start-up
// sequence (gui_module_abi.h), which runs on a thread of its own and posts
// its requests to the window, whose thread stays free to paint and answer.

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
constexpr int kIcon = 128, kStatusLine = 1002, kAboutCommand = 0x10;
constexpr UINT kRequest = WM_APP;  // wParam a Request, lParam its text
enum Request { kStatus, kMessage, kWait, kDone };

struct Window {
  HWND dialog = nullptr;
  bool waiting = false;  // for the user's choice (the window's thread's)
  std::mutex mutex;
  std::condition_variable answered;
  int answer = 0;  // to a request: 1 once a box closed, or IDOK or IDCANCEL
};

// Returns |text| escaped as on standard error and, to |isolate| it, each
// word's direction isolated (U+2068 to U+2069): no name turns the rest.
std::wstring Shown(const std::string& text, bool isolate) {
  std::wstring escaped, shown;
  WideOf(EscapeForLine(text), &escaped);
  for (size_t at = 0, end; isolate && at <= escaped.size(); at = end + 1) {
    end = std::min(escaped.find(L' ', at), escaped.size());
    shown += (at > 0 ? L" \u2068" : L"\u2068") + escaped.substr(at, end - at) +
             L'\u2069';
  }
  return isolate ? shown : escaped;
}

// Posts |request| to the window and, for a box or the choice, waits for the
// answer. Returns 0 (the choice: IDOK or IDCANCEL), or -1 when it failed.
int Ask(Window* window, Request request, const char* text = "",
        size_t length = 0) {
  try {
    std::unique_lock<std::mutex> lock(window->mutex);
    window->answer = 0;
    auto shown = std::make_unique<std::wstring>(
        Shown({text, length}, request == kStatus));
    if (!PostMessageW(window->dialog, kRequest, request,
                      reinterpret_cast<LPARAM>(shown.get()))) {
      return -1;
    }
    shown.release();
    if (request == kMessage || request == kWait) {
      window->answered.wait(lock, [window] { return window->answer != 0; });
    }
    return request == kWait ? window->answer : 0;
  } catch (...) {
    std::fputs("dravelkent: the main window failed\n", stderr);
  }
  return -1;
}

void Answer(Window* window, int answer) {
  std::lock_guard<std::mutex> lock(window->mutex);
  window->answer = answer;
  window->answered.notify_one();
}

void EnableButtons(HWND dialog, bool enable) {
  EnableWindow(GetDlgItem(dialog, IDOK), enable);
  EnableWindow(GetDlgItem(dialog, IDCANCEL), enable);
}

// "実行" or "閉じる" (Escape and the close box too) once the sequence asks
// for the choice; a close during a run is refused.
void Choose(Window* window, int choice) {
  if (window->waiting) {
    window->waiting = false;
    EnableButtons(window->dialog, false);
    Answer(window, choice);
  } else if (choice == IDCANCEL) {
    SetDlgItemTextW(window->dialog, kStatusLine,
                    L"処理中です。終わるまでお待ちください");
  }
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
      EnableButtons(dialog, false);  // until the sequence asks
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
    case WM_CLOSE:
      if (message == WM_CLOSE || LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) {
        Choose(window, message == WM_CLOSE ? IDCANCEL : LOWORD(w));
      }
      return TRUE;
    case kRequest: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(l));
      if (w == kStatus) SetDlgItemTextW(dialog, kStatusLine, text->c_str());
      if (w == kMessage) {
        // Keys typed up to half a second before the box shows are dropped.
        Sleep(500);
        for (MSG typed; PeekMessageW(&typed, nullptr, WM_KEYFIRST, WM_KEYLAST,
                                     PM_REMOVE);) {
        }
        MessageBoxW(dialog, text->c_str(), L"確認", MB_OK);
        Answer(window, 1);
      }
      if (w == kWait) {
        window->waiting = true;
        EnableButtons(dialog, true);
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

// Runs |args| with the window. Returns the exit status, or
// kDravelkentGuiUnavailable where no window is seen (a service's session).
int RunWindow(const DravelkentGuiStartArgs& args) {
  USEROBJECTFLAGS flags = {};
  Window window;
  if ((GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                 sizeof flags, nullptr) &&
       !(flags.dwFlags & WSF_VISIBLE)) ||
      !CreateDialogParamW(GetModuleHandleW(nullptr),
                          MAKEINTRESOURCEW(kMainDialog), nullptr, DialogProc,
                          reinterpret_cast<LPARAM>(&window))) {
    return kDravelkentGuiUnavailable;
  }
  DravelkentGuiHost host{
      &window,
      [](void* self, const char* text, size_t length) {
        return Ask(static_cast<Window*>(self), kStatus, text, length);
      },
      [](void* self, const char* text, size_t length) {
        return Ask(static_cast<Window*>(self), kMessage, text, length);
      },
      [](void*) { return 0; },  // the window goes once the sequence ends
      [](void* self, int (*run)(void*), void* run_context) {
        const int choice = Ask(static_cast<Window*>(self), kWait);
        return choice == IDOK ? run(run_context) : choice > 0 ? 0 : -1;
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
    std::fputs("dravelkent: the main window failed\n", stderr);
  }
  return 1;
}
