// POSIX messages: one line "CAPTION: TEXT" on stderr, then the lines that point at the input
// ("DOC:LINE:COL: error: REASON", as compilers write them, for editors and CI annotators to
// find), then the details indented by two blanks. Warnings are "WHERE: warning: TEXT".
// Names and paths come from the data: a control byte among them (a line feed, an escape
// sequence) would start a line of its own or steer the terminal, so each is shown as "?": the
// C0 controls, DEL, and the C1 controls U+0080 to U+009F (CSI among them), whether as the
// UTF-8 the run holds or as a stray byte that a terminal of a single-byte code page would
// take for one.
#include <cstdio>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "platform/messages.h"

namespace menuconv::platform {

namespace {

// The length of the well-formed UTF-8 sequence of several bytes at `at`, or 0.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const std::size_t size = Utf8LeadOf(static_cast<unsigned char>(text[at])).length;
  if (size < 2 || at + size > text.size()) return 0;
  return IsValidUtf8(text.substr(at, size)) ? size : 0;
}

std::string Printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t sequence = c >= 0x80 ? SequenceLength(text, at) : 0;
    if (c < 0x20 || c == 0x7F || (sequence == 0 && c >= 0x80 && c <= 0x9F)) {
      shown += '?';
      ++at;
    } else if (sequence == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      shown += '?';  // U+0080 to U+009F
      at += 2;
    } else {
      const std::size_t size = sequence == 0 ? 1 : sequence;
      shown.append(text.substr(at, size));
      at += size;
    }
  }
  return shown;
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
