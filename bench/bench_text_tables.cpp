// Times the text-table step on its own: read BASE.txt and BASE_txts.txt, merge, serialise and
// rewrite BASE_txts.txt, as the run does after converting the screens.
//
// usage: bench_text_tables FOLDER [RUNS]
// FOLDER holds menus.txt and menus_txts.txt as bench_generate writes them (for example
// `build/bench/bench_generate medium utf-8 FOLDER`: two tables of 20,000 records each). They
// are copied to a scratch folder first; FOLDER is never written. Two cases are timed:
//   generated  - the generated tables, menus_txts.txt laid anew before each run;
//   rewritten  - menus_txts.txt as the run before left it (sorted), as on every run after a
//                project's first.
// Each prints the median, the fastest and the slowest run in milliseconds of wall time, and
// the median of the processor time the step took (user and system; page faults count there):
// on a busy machine that is the steadier figure.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/text_table_step.h"

namespace {

namespace fs = std::filesystem;

// The processor time of this thread so far, in milliseconds.
double ThreadMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool ReadAll(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out.good()) return true;
  std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FOLDER [RUNS]\n(FOLDER as written by bench_generate)\n", argv[0]);
    return 2;
  }
  const fs::path folder = argv[1];
  const int runs = argc == 3 ? std::atoi(argv[2]) : 31;
  if (runs < 1) {
    std::fprintf(stderr, "RUNS must be at least 1\n");
    return 2;
  }
  std::string first;
  std::string second;
  if (!ReadAll(folder / "menus.txt", first) || !ReadAll(folder / "menus_txts.txt", second)) {
    std::fprintf(stderr, "%s holds no menus.txt and menus_txts.txt: run bench_generate first\n", argv[1]);
    return 1;
  }
  const fs::path scratch = fs::temp_directory_path() / ("menuconv-bench-texts-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  const fs::path input = scratch / "menus.xml";  // never read: the tables are found beside it
  int status = 0;
  if (!WriteAll(scratch / "menus.txt", first)) status = 1;
  std::printf("%-12s%6s%12s%9s%9s%15s%9s\n", "tables", "runs", "median ms", "min ms", "max ms", "median cpu ms",
              "records");
  for (const bool rewritten : {false, true}) {
    if (status != 0) break;
    std::vector<double> times;
    std::vector<double> cpuTimes;
    std::size_t records = 0;
    if (!WriteAll(scratch / "menus_txts.txt", second)) status = 1;
    // One run first that is not timed: the files are then in the page cache, the code warm.
    for (int run = -1; run < runs && status == 0; ++run) {
      if (!rewritten && !WriteAll(scratch / "menus_txts.txt", second)) status = 1;
      const double cpuStart = ThreadMilliseconds();
      const auto start = std::chrono::steady_clock::now();
      const menuconv::TextTableOutcome outcome = menuconv::RunTextTableStep(input.string(), true);
      const auto end = std::chrono::steady_clock::now();
      const double cpuEnd = ThreadMilliseconds();
      if (!outcome.read.ok() || !outcome.write.ok()) {
        std::fprintf(stderr, "the step failed: %s%s\n", outcome.read.message().c_str(),
                     outcome.write.message().c_str());
        status = 1;
      }
      if (run >= 0) {
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        cpuTimes.push_back(cpuEnd - cpuStart);
      }
      records = outcome.recordsWritten;
    }
    if (status != 0) break;
    const auto [fastest, slowest] = std::minmax_element(times.begin(), times.end());
    std::printf("%-12s%6d%12.2f%9.2f%9.2f%15.2f%9zu\n", rewritten ? "rewritten" : "generated", runs, Median(times),
                *fastest, *slowest, Median(cpuTimes), records);
  }
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return status;
}
