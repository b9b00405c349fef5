#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Checks of the settings text functions on arbitrary file contents, shared
// by the fuzz target and the regression test that replays what it found.

// Takes |file_bytes| as the contents of a settings file, reads a few keys
// (the program's own sections and keys, and names found in the bytes) and
// writes a few values (fixed ones and ones taken from the bytes), and checks
// what every read and write must keep:
// - a value read is UTF-8; reads of other keys are the same after a write;
// - a write that succeeds reads back as written, and doing it again changes
//   nothing; writing the value a key already holds changes nothing;
// - a write either replaces the text after the "=" of one line or inserts
//   whole lines at a line boundary: every other byte of the file stays, and
//   every line of the file stays a line of its own;
// - as many lines cannot be decoded after a write as before;
// - a write is refused only for the documented reasons.
// Returns the empty text when all of this holds, otherwise a description of
// the first thing that broke.
std::string CheckSettingsFile(std::string_view file_bytes);

// Returns |bytes| with everything outside printable ASCII as \xNN, for
// messages.
std::string EscapeBytes(std::string_view bytes);

}  // namespace dravelkent
