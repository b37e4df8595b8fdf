// Where the Windows command-line tail begins. The C runtime's own WinMain start-up compares
// signed chars, so it takes the bytes above 0x7F that begin a tail in the ANSI code page for
// blanks and drops them; this is its rule on unsigned bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace menuconv {

// The program name runs to the first character of code 0x20 or below outside double quotes
// (each quote switches quoting); the characters of code 1 to 0x20 after it are skipped. The
// rest is the tail, unchanged: its quotes and trailing blanks stay.
inline std::string_view CommandLineTail(std::string_view commandLine) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  std::size_t at = 0;
  bool quoted = false;
  for (; at < commandLine.size() && (quoted || !blank(commandLine[at])); ++at) {
    if (commandLine[at] == '"') quoted = !quoted;
  }
  while (at < commandLine.size() && blank(commandLine[at])) ++at;
  return commandLine.substr(at);
}

}  // namespace menuconv
