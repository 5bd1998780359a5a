// Writes every text of texts.h to a file as NAME, a tab and its bytes,
// control characters escaped, one text a line. Built for Windows (code page
// 932 bytes) and natively (UTF-8) so that a script can compare the two.
//   textdump OUTPUT
#include <cstdio>

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

int main(int argc, char **argv) {
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
