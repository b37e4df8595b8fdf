// Shared by the tests: fresh temporary folders and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace menuconv::testing_support {

namespace fs = std::filesystem;

// The error a folder gives where a file is expected: Windows refuses it as access denied.
#ifdef _WIN32
inline constexpr int kDirectoryError = EACCES;
#else
inline constexpr int kDirectoryError = EISDIR;
#endif

// Creates a new, empty folder below the system's temporary folder.
inline fs::path MakeTempFolder(const std::string& prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    const fs::path candidate = fs::temp_directory_path() / (prefix + "-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate;
    if (error) throw fs::filesystem_error("cannot create a temporary folder", candidate, error);
  }
}

// A temporary folder that is removed with everything in it when the test ends.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "menuconv-test") : path_(MakeTempFolder(prefix)) {}
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// The file's bytes, or nothing when it is not a regular file.
inline std::optional<std::string> ReadBytes(const std::string& path) {
  if (!fs::is_regular_file(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes written as hexadecimal pairs, blanks ignored: "FF FE 6B 00".
inline std::string BytesFromHex(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit =
        std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  EXPECT_LT(high, 0) << "odd number of hex digits in " << text;
  return bytes;
}

// "41 42 ..." for failure messages.
inline std::string HexOf(std::string_view bytes) {
  std::string out;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", c);
    out += digits;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

#ifndef _WIN32
// Gives what `work` gives when run while files may not grow past `bytes`; SIGXFSZ is ignored
// meanwhile, so that a write past the limit fails instead of ending the process.
template <class Work>
auto WithFileSizeLimit(rlim_t bytes, Work&& work) {
  rlimit previous{};
  EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  rlimit small = previous;
  small.rlim_cur = bytes;
  void (*previousHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto result = work();
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);
  return result;
}
#endif

}  // namespace menuconv::testing_support
