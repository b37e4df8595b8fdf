// Helpers shared by the fuzz targets: a private scratch folder, whole-file writes and reads,
// and a reporter that shows nothing.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/reporter.h"

namespace menuconv::fuzz {

inline std::filesystem::path ScratchFolder() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / ("menuconv-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Shows nothing: the fuzzers look at what the run does, not what it says.
class SilentReporter final : public Reporter {
 public:
  void Failure(const std::string&, const std::string&, const std::vector<std::string>&,
               const std::vector<std::string>&) override {}
  void Warning(const std::string&, const std::string&) override {}
};

}  // namespace menuconv::fuzz
