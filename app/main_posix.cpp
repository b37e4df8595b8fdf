// The command-line shell of the converter on POSIX systems.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "platform/temporary_names.h"

#ifndef MENUCONV_VERSION
#define MENUCONV_VERSION "unknown"
#endif

namespace {

constexpr int kUsageStatus = 2;

int UsageError(const std::string& what) {
  std::fprintf(stderr, "menuconv: %s\n\n%s", what.c_str(), menuconv::UsageText());
  return kUsageStatus;
}

void PrintSummary(const menuconv::RunContext& context, double seconds) {
  std::fprintf(stderr,
               "menuconv: %zu screens converted, %zu files written, %zu text records merged, %zu written, "
               "%zu warnings, %.3f s\n",
               context.screensConverted, context.written.size(), context.textRecordsMerged, context.textRecordsWritten,
               context.warnings, seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const menuconv::Options options = menuconv::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (options.help) {
    std::fputs(menuconv::UsageText(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("menuconv %s\n", MENUCONV_VERSION);
    return 0;
  }
  if (!options.usageError.empty()) return UsageError(options.usageError);
  std::error_code error;
  if (!options.outputDir.empty() && !std::filesystem::is_directory(options.outputDir, error)) {
    return UsageError("the output folder " + options.outputDir + " is not a folder");
  }
  // A full disk or a file size limit must fail a write, not end the process; an interrupted
  // run leaves no temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
  menuconv::platform::RemoveTemporaryFilesOnInterrupt();

  const auto start = std::chrono::steady_clock::now();
  menuconv::PlatformReporter reporter;
  menuconv::RunContext context(reporter, menuconv::RunSettings{options.outputDir, options.listOutputs});
  int status = menuconv::RunConversion(options.path, context);
  if (options.listOutputs) {
    for (const std::string& path : context.written) std::printf("%s\n", path.c_str());
  }
  if (options.strict && status == 0 && context.warnings > 0) {
    std::fprintf(stderr, "menuconv: %zu warnings fail the run (--strict)\n", context.warnings);
    status = 1;
  }
  if (options.verbose) {
    PrintSummary(context, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return status;
}
