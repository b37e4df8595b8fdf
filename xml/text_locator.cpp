#include "xml/text_locator.h"

#include <algorithm>

#include "base/byte_scan.h"

namespace menuconv {

void TextLocator::CountPlain(std::size_t begin, std::size_t end) {
  const char* const stop = text_.data() + end;
  for (const char* q = text_.data() + begin; (q = byte_scan::Find(q, stop, '\n')) != nullptr; ++q) {
    ++lineBreaks_;
    lineStart_ = static_cast<std::size_t>(q - text_.data()) + 1;
  }
}

TextPlace TextLocator::Locate(std::size_t offset) {
  offset = std::min(offset, text_.size());
  if (offset < at_) *this = TextLocator(text_);
  if (offset > at_) CountPlain(at_, offset);
  at_ = offset;
  return TextPlace{lineBreaks_ + 1, offset - lineStart_ + 1};
}

}  // namespace menuconv
