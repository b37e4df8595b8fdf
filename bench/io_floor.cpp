// Reference for the benchmark: the cost of the input and output alone. Takes the input whole,
// then creates the files a run of menuconv wrote, one after the other, each with the same
// size, its bytes copied from the input; no parsing, no conversion.
//
//   bench_io_floor [--mapped] INPUT MANIFEST
//     --mapped  maps the input read-only instead of reading it into fresh memory: the floor
//               of a program that never copies its input
//     MANIFEST  lines "SIZE PATH" (PATH relative to the current folder, or absolute)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool mapped = argc == 4 && std::string(argv[1]) == "--mapped";
  if (argc != 3 && !mapped) {
    std::fprintf(stderr, "usage: %s [--mapped] INPUT MANIFEST\n", argv[0]);
    return 2;
  }
  if (mapped) ++argv;
  std::vector<std::pair<std::size_t, std::string>> outputs;
  std::ifstream manifest(argv[2]);
  std::size_t size = 0;
  std::string path;
  while (manifest >> size && manifest.get() == ' ' && std::getline(manifest, path)) outputs.emplace_back(size, path);

  const int in = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (in < 0 || ::fstat(in, &info) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto inputSize = static_cast<std::size_t>(info.st_size);
  std::vector<char> buffer;
  const char* input = nullptr;
  if (mapped) {
    void* map = ::mmap(nullptr, inputSize, PROT_READ, MAP_PRIVATE, in, 0);
    if (map == MAP_FAILED) {
      std::perror(argv[1]);
      return 1;
    }
    input = static_cast<const char*>(map);
  } else {
    buffer.resize(inputSize);
    for (std::size_t done = 0; done < inputSize;) {
      const ssize_t n = ::read(in, buffer.data() + done, inputSize - done);
      if (n <= 0) {
        std::perror(argv[1]);
        return 1;
      }
      done += static_cast<std::size_t>(n);
    }
    input = buffer.data();
  }
  ::close(in);

  for (const auto& [bytes, name] : outputs) {
    const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) {
      std::perror(name.c_str());
      return 1;
    }
    // An output larger than the input repeats it.
    for (std::size_t left = bytes; left > 0;) {
      const std::size_t step = std::min(left, inputSize);
      if (step == 0 || !WriteAll(out, input, step)) {
        std::perror(name.c_str());
        return 1;
      }
      left -= step;
    }
    ::close(out);
  }
  return 0;
}
