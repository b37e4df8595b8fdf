// The Windows GUI entry point: the whole command-line tail, unchanged, is the input path.
#include <windows.h>

#include <string>

#include "app/command_line_tail.h"
#include "app/run.h"

// The tail WinMain is given has lost the non-ASCII bytes it began with; it is found again in
// the whole command line.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* commandLine = GetCommandLineA();
  return menuconv::RunConversion(std::string(menuconv::CommandLineTail(commandLine ? commandLine : "")));
}
