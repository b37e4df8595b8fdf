// Reference for the benchmark: pugixml parsing a file into its tree, nothing else.
#include <cstdio>
#include <pugixml.hpp>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  pugi::xml_document document;
  const pugi::xml_parse_result result = document.load_file(argv[1]);
  if (!result) {
    std::fprintf(stderr, "%s\n", result.description());
    return 1;
  }
  return 0;
}
