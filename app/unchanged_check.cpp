#include "app/unchanged_check.h"

#include <filesystem>

namespace menuconv {

UnchangedCheck::UnchangedCheck(const std::string& existingPath) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(existingPath, error)) return;
  existing_.open(existingPath, std::ios::binary);
  same_ = existing_.is_open();
}

void UnchangedCheck::Add(std::string_view piece) {
  if (!same_ || piece.empty()) return;
  buffer_.resize(piece.size());
  existing_.read(buffer_.data(), static_cast<std::streamsize>(piece.size()));
  same_ = existing_.gcount() == static_cast<std::streamsize>(piece.size()) && std::string_view(buffer_) == piece;
}

bool UnchangedCheck::Unchanged() {
  return same_ && existing_.peek() == std::ifstream::traits_type::eof() && existing_.eof();
}

}  // namespace menuconv
