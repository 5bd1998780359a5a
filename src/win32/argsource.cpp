// Where the argument vector comes from on Windows.
#include <windows.h>

#include "app/argvector.h"

const char *ArgSourceCommandLine() {
  return GetCommandLineA();
}

unsigned ArgSourceModulePath(char *buffer, unsigned size) {
  DWORD length = GetModuleFileNameA(nullptr, buffer, size);
  // A path that filled the buffer was cut (and, on XP, left unterminated).
  if (length == 0 || length >= size) return 0;
  return length;
}
