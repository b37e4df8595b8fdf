// The Windows GUI entry point: the whole command-line tail, unchanged, is the input path.
#include <windows.h>

#include "app/run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
  return menuconv::RunConversion(commandLineTail ? commandLineTail : "");
}
