// POSIX messages: one line "CAPTION: TEXT" on stderr, then the lines that point at the input
// ("DOC:LINE:COL: error: REASON", as compilers write them, for editors and CI annotators to
// find), then the details indented by two blanks. Warnings are "WHERE: warning: TEXT".
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

void ShowMessage(const std::string& caption, const std::string& text, const std::vector<std::string>& errors,
                 const std::vector<std::string>& details) {
  std::fprintf(stderr, "%s: %s\n", Printable(caption).c_str(), Printable(text).c_str());
  for (const std::string& line : errors) std::fprintf(stderr, "%s\n", Printable(line).c_str());
  for (const std::string& line : details) std::fprintf(stderr, "  %s\n", Printable(line).c_str());
  std::fflush(stderr);
}

void ShowWarning(const std::string& where, const std::string& text) {
  const std::string line = (where.empty() ? "" : where + ": ") + "warning: " + text;
  std::fprintf(stderr, "%s\n", Printable(line).c_str());
}

}  // namespace menuconv::platform
