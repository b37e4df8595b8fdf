// Lines and columns of byte offsets into a parsed text. The parser squeezes the blanks out of
// element texts in place, which loses the line breaks they held: each such text that held
// any is remembered, so that places after it keep their true line.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace menuconv {

// An element text [begin, end) squeezed in place, and the line breaks it held.
struct SqueezedText {
  std::size_t begin, end;
  std::size_t lineBreaks;  // at least one: texts without any need no record
  std::size_t lastBreak;   // the offset of the last of them
};

// 1-based line and column; the column counts the bytes of the text held in memory.
struct TextPlace {
  std::size_t line = 0;
  std::size_t column = 0;
};

class TextLocator {
 public:
  // Both must outlive the locator. Offsets inside a squeezed text are never asked for: the
  // places of interest are tags and their parts.
  TextLocator(std::string_view text, const std::vector<SqueezedText>& squeezed) : text_(text), squeezed_(&squeezed) {}

  // Offsets asked for in increasing order cost one pass over the text altogether.
  TextPlace Locate(std::size_t offset);

  // True when the locator counts in this very text and list of squeezed texts.
  bool Reads(std::string_view text, const std::vector<SqueezedText>& squeezed) const {
    return text.data() == text_.data() && text.size() == text_.size() && &squeezed == squeezed_;
  }

 private:
  void CountPlain(std::size_t begin, std::size_t end);

  std::string_view text_;
  const std::vector<SqueezedText>* squeezed_;
  std::size_t at_ = 0;  // everything before it is counted
  std::size_t lineBreaks_ = 0;
  std::size_t lineStart_ = 0;
  std::size_t nextSqueezed_ = 0;
};

}  // namespace menuconv
