// Writes every text of texts.h to a file as NAME, a tab and its bytes,
// control characters escaped, one text a line. Built for Windows (code page
// 932 bytes) and natively (UTF-8) so that a script can compare the two.
//   textdump OUTPUT
// Built natively with the Windows build's execution character set, it finds
// every text, as compiled, in a Windows binary instead (no Wine needed):
//   textdump --find BINARY
#include <cstdio>
#include <cstring>
#include <string>

#include "texts.h"

static FILE *g_out;

static void Print(const char *name, const char *text) {
  fprintf(g_out, "%s\t", name);
  for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
    if (*p == '\n')
      fputs("\\n", g_out);
    else if (*p == '\r')
      fputs("\\r", g_out);
    else if (*p == '\t')
      fputs("\\t", g_out);
    else if (*p < 0x20 || *p == 0x7F)
      fprintf(g_out, "\\x%02X", *p);
    else
      fputc(*p, g_out);
  }
  fputc('\n', g_out);
}

// Each text with its terminating NUL must occur in the binary.
static int Find(const char *path) {
  FILE *in = fopen(path, "rb");
  if (!in) {
    perror(path);
    return 2;
  }
  std::string binary;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, in)) > 0;)
    binary.append(buffer, n);
  fclose(in);
  int found = 0, missing = 0;
  auto check = [&](const char *name, const char *text) {
    if (binary.find(std::string(text, strlen(text) + 1)) != std::string::npos) {
      found++;
    } else {
      printf("missing %s\n", name);
      missing++;
    }
  };
#define TEXT(name) check(#name, name);
#include "texts.inc"
#undef TEXT
  printf("%d texts found, %d missing\n", found, missing);
  return missing ? 1 : 0;
}

int main(int argc, char **argv) {
  if (argc == 3 && !strcmp(argv[1], "--find")) return Find(argv[2]);
  // Binary mode: the bytes as compiled, no line-end translation.
  g_out = argc == 2 ? fopen(argv[1], "wb") : nullptr;
  if (!g_out) {
    fprintf(stderr, "usage: textdump OUTPUT\n");
    return 2;
  }
#define TEXT(name) Print(#name, name);
#include "texts.inc"
#undef TEXT
  return fclose(g_out) == 0 ? 0 : 1;
}
