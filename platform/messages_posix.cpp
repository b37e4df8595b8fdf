// POSIX messages: one line "CAPTION: TEXT" on stderr, then the details indented by two blanks.
#include <cstdio>

#include "platform/messages.h"

namespace menuconv::platform {

void ShowMessage(const std::string& caption, const std::string& text,
                       const std::vector<std::string>& details) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  for (std::string line : details) {
    // Every line of a detail stays indented, whatever it holds.
    for (std::size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at + 3)) {
      line.insert(at + 1, "  ");
    }
    std::fprintf(stderr, "  %s\n", line.c_str());
  }
  std::fflush(stderr);
}

void ShowWarning(const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); }

}  // namespace menuconv::platform
