// POSIX messages: one line "CAPTION: TEXT" on stderr, then the details indented by two blanks.
// Names and paths come from the data: a control byte among them (a line feed, an escape
// sequence) would start a line of its own or steer the terminal, so each is shown as "?".
#include <cstdio>
#include <string>

#include "platform/messages.h"

namespace menuconv::platform {

namespace {

std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return text;
}

}  // namespace

void ShowMessage(const std::string& caption, const std::string& text, const std::vector<std::string>& details) {
  std::fprintf(stderr, "%s: %s\n", Printable(caption).c_str(), Printable(text).c_str());
  for (const std::string& line : details) std::fprintf(stderr, "  %s\n", Printable(line).c_str());
  std::fflush(stderr);
}

void ShowWarning(const std::string& text) { std::fprintf(stderr, "warning: %s\n", Printable(text).c_str()); }

}  // namespace menuconv::platform
