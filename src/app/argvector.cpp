#include "app/argvector.h"

#include <cstdlib>
#include <cstring>

static int s_count = 0;
static char *s_table[MAX_ARGS];
static char *s_copy = nullptr;
static char s_module_path[MODULE_PATH_SIZE];

int SplitArguments(char *text, char **table) {
  int count = 0;
  char *p = text;
  while (*p == ' ')
    p++;
  while (*p != '\0' && count < MAX_ARGS) {
    char close = ' ';
    if (*p == '"' || *p == '\'') {
      close = *p++;
      if (*p == '\0') break;
    }
    table[count++] = p;
    while (*p != '\0' && *p != close)
      p++;
    if (*p == '\0') break;
    *p++ = '\0';
    while (*p == ' ')
      p++;
  }
  return count;
}

static void BuildArgVector() {
  for (int i = 0; i < MAX_ARGS; i++)
    s_table[i] = nullptr;
  s_count = 0;
  // A vector built with no argument is built again; its copy is not kept.
  free(s_copy);
  const char *line = ArgSourceCommandLine();
  size_t length = line ? strlen(line) : 0;
  s_copy = static_cast<char *>(malloc(length + 1));
  if (!s_copy) return;
  memcpy(s_copy, line ? line : "", length + 1);
  s_count = SplitArguments(s_copy, s_table);
  s_module_path[0] = '\0';
  if (ArgSourceModulePath(s_module_path, sizeof s_module_path) != 0) {
    s_module_path[sizeof s_module_path - 1] = '\0';
    s_table[0] = s_module_path;
  }
}

int GetArgCount() {
  if (s_count == 0) BuildArgVector();
  return s_count;
}

char **GetArgVector() {
  if (s_count == 0) BuildArgVector();
  return s_table;
}

static char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

int FindOption(const char *option) {
  if (GetArgCount() <= 1) return 0;
  size_t n = strlen(option);
  for (int i = 1; i < GetArgCount(); i++) {
    const char *arg = GetArgVector()[i];
    size_t k = 0;
    while (k < n && arg[k] != '\0' && Lower(arg[k]) == Lower(option[k]))
      k++;
    if (k == n) return i;
  }
  return 0;
}

void ResetArgVector() {
  s_count = 0;
}
