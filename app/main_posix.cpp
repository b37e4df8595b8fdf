// The command-line shell of the converter on POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dependency_file.h"
#include "app/options.h"
#include "app/run.h"
#include "platform/large_blocks.h"
#include "platform/temporary_names.h"

#ifndef MENUCONV_VERSION
#define MENUCONV_VERSION "unknown"
#endif

namespace {

constexpr int kUsageStatus = 2;

int UsageError(const std::string& what) {
  std::fprintf(stderr, "menuconv: %s\nTry 'menuconv --help' for more information.\n", what.c_str());
  return kUsageStatus;
}

// What the program prints on stdout; a list that cannot be written whole is a failure, not an
// empty success.
int PrintOnStdout(const std::string& text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  const int writeError = errno;
  if (std::fflush(stdout) == 0 && written) return 0;
  const int error = writeError != 0 ? writeError : errno;
  std::fprintf(stderr, "menuconv: write error: %s\n", std::strerror(error != 0 ? error : EIO));
  return 1;
}

void PrintSummary(const menuconv::RunContext& context, bool keepUnchanged, double seconds) {
  const std::string files = context.settings.writeNothing
                                ? std::to_string(context.written.size()) + " files would be written"
                                : std::to_string(context.written.size() - context.kept) + " files written";
  const std::string kept = keepUnchanged ? ", " + std::to_string(context.kept) + " kept unchanged" : "";
  std::fprintf(stderr,
               "menuconv: %zu screens converted, %s%s, %zu text records merged, %zu written, %zu warnings, %.3f s\n",
               context.screensConverted, files.c_str(), kept.c_str(), context.textRecordsMerged,
               context.textRecordsWritten, context.warnings, seconds);
}

// A standard stream that whoever started the program closed would hand its number to the
// first file the run opens, and what is written to the stream would land in that file (the
// text table, say). Each closed one is held open on /dev/null for reading only, so that writes
// to it still fail as on a closed stream, and no file takes its number.
void ReserveClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", O_RDONLY);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ReserveClosedStandardStreams();
  menuconv::platform::KeepFreedMemoryForReuse();
  const menuconv::Options options = menuconv::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (options.help) return PrintOnStdout(menuconv::UsageText());
  if (options.version) return PrintOnStdout(std::string("menuconv ") + MENUCONV_VERSION + "\n");
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
  menuconv::RunSettings settings{options.outputDir, options.listOutputs, options.textsOut, options.keepUnchanged};
  menuconv::RunContext context(reporter, std::move(settings));
  int status = menuconv::RunConversion(options.path, context);
  if (options.strict && status == 0 && context.warnings > 0) {
    std::fprintf(stderr, "menuconv: %zu warnings fail the run (--strict)\n", context.warnings);
    status = 1;
  }
  if (status == 0 && !options.depfile.empty()) status = menuconv::WriteDependencyFile(options.depfile, context);
  if (options.listOutputs) {
    std::string list;
    for (const std::string& path : context.written) list += path + "\n";
    if (PrintOnStdout(list) != 0) status = 1;
  }
  if (options.verbose) {
    PrintSummary(context, options.keepUnchanged,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return status;
}
