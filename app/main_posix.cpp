// The command-line shell of the converter on POSIX systems.
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/run.h"

#ifndef MENUCONV_VERSION
#define MENUCONV_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: menuconv EDITOR-DOCUMENT.xml\n"
    "\n"
    "Writes one menu document per MENU_MODULE of the editor document into the current\n"
    "folder (named by the screen's text followed by \".xml\"), then merges the text tables\n"
    "BASE.txt and BASE_txts.txt beside the input (BASE: the path before its last \".\") into\n"
    "BASE_txts.txt. The arguments are joined by single blanks to form the path.\n"
    "\n"
    "Exit status: 0 on success, 1 after a failure message.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2) {
    const std::string_view only = argv[1];
    if (only == "--help" || only == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (only == "--version") {
      std::printf("menuconv %s\n", MENUCONV_VERSION);
      return 0;
    }
  }
  // A full disk or a file size limit must fail a write, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) path += ' ';
    path += argv[i];
  }
  return menuconv::RunConversion(path);
}
