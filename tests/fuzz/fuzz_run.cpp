// The whole run on an arbitrary input document in a scratch folder: menu documents and text
// tables are written there, never elsewhere.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "app/run.h"
#include "fuzz_util.h"

using namespace menuconv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  const fs::path folder = fuzz::ScratchFolder() / "run";
  fs::remove_all(folder);
  fs::create_directories(folder / "work");
  fuzz::WriteFile(folder / "work" / "menus.xml", std::string_view(reinterpret_cast<const char*>(data), size));
  const fs::path home = fs::current_path();
  fs::current_path(folder / "work");
  fuzz::SilentReporter reporter;
  RunContext context(reporter);
  const int status = RunConversion("menus.xml", context);
  fs::current_path(home);
  if (status != 0 && status != 1) std::abort();
  // Names that leave the current folder are refused: nothing may appear beside it.
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != "work") std::abort();
  }
  return 0;
}
