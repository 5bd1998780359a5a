#include "argvector.h"

#include <gtest/gtest.h>

#include <string>

static std::string g_line;
static std::string g_module = "C:\\kormelde.exe";
const char *ArgSourceCommandLine() { return g_line.c_str(); }
unsigned ArgSourceModulePath(char *buffer, unsigned size) {
  if (g_module.empty() || g_module.size() >= size) return 0;
  g_module.copy(buffer, g_module.size());
  buffer[g_module.size()] = '\0';
  return (unsigned)g_module.size();
}
