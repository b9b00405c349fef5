#pragma once

// What the Windows files share: UTF-8 and UTF-16, Windows errors as
// failures, and the console. <windows.h> stays out of headers.

#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

// Converts between UTF-8 and UTF-16; a lone surrogate (a name on the disk
// may hold one) becomes the three bytes that would encode it (WTF-8), and
// back. WideOf returns false for text that is not UTF-8 or holds a NUL.
bool WideOf(std::string_view text, std::wstring* wide);
std::string Utf8Of(std::wstring_view wide);

// Converts |in| of |code_page| (65001: UTF-8) into UTF-16 and back, exactly:
// bytes that stand for no character, or a character the code page lacks
// (rather than write a look-alike), fail the conversion.
bool ToUtf16(unsigned code_page, std::string_view in, std::wstring* out);
bool FromUtf16(unsigned code_page, std::wstring_view in, std::string* out);

// Returns the failure "what path: reason" for the Windows error |error|:
// the system's text, and the errno value it stands for.
Status WindowsError(const std::string& what, const std::string& path,
                    unsigned long error);

// Writes standard output and standard error as bytes, lines ended by LF,
// and where they are a console through WriteConsoleW, so that every
// character shows whatever its code page (IsTerminal still says console).
// FinishConsoleOutput writes out what it still holds; called once, last.
void WriteConsoleInUtf16();
void FinishConsoleOutput();

}  // namespace dravelkent
