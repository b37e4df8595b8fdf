// Lines and columns of byte offsets into a parsed text, which the parser keeps as it was read.
#pragma once

#include <cstddef>
#include <string_view>

namespace menuconv {

// 1-based line and column; the column counts the bytes of the text held in memory.
struct TextPlace {
  std::size_t line = 0;
  std::size_t column = 0;
};

class TextLocator {
 public:
  // The text must outlive the locator.
  explicit TextLocator(std::string_view text) : text_(text) {}

  // Offsets asked for in increasing order cost one pass over the text altogether.
  TextPlace Locate(std::size_t offset);

  // True when the locator counts in this very text.
  bool Reads(std::string_view text) const { return text.data() == text_.data() && text.size() == text_.size(); }

 private:
  void CountPlain(std::size_t begin, std::size_t end);

  std::string_view text_;
  std::size_t at_ = 0;  // everything before it is counted
  std::size_t lineBreaks_ = 0;
  std::size_t lineStart_ = 0;
};

}  // namespace menuconv
