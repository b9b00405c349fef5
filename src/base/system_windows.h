#pragma once

// What the Windows files share: UTF-8 and UTF-16, Windows errors as
// failures, and the console. <windows.h> stays out of headers.

#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

// Converts between UTF-8 and UTF-16. A lone surrogate (a name on the disk
// may hold one) becomes the three bytes that would encode it (WTF-8) and
// converts back to itself. WideOf returns false for text that is not UTF-8
// or holds a NUL.
bool WideOf(std::string_view text, std::wstring* wide);
std::string Utf8Of(std::wstring_view wide);

// Returns the failure "what path: reason" for the Windows error |error| (a
// GetLastError value): the system's text, and the errno value it stands
// for. The one place a Windows error becomes a message.
Status WindowsError(const std::string& what, const std::string& path,
                    unsigned long error);

// Sends what is written on standard output and standard error, where they
// are a console, to WriteConsoleW, so that every character shows whatever
// the console's code page; IsTerminal still tells them consoles.
void WriteConsoleInUtf16();

// Writes out all that WriteConsoleInUtf16 still holds and closes the
// standard streams it took. Called once, last.
void FinishConsoleOutput();

}  // namespace dravelkent
