#include "app/shown.h"

#include <cstdint>
#include <cstdio>

size_t Utf8Length(const unsigned char *p, size_t n) {
  unsigned c = p[0];
  size_t len = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
  if (len == 0 || len > n) return 0;
  uint32_t cp = len == 1 ? c : c & (0x7F >> len);
  for (size_t i = 1; i < len; i++) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (p[i] & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsUtf8(const std::string &text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
  for (size_t i = 0, len; i < text.size(); i += len)
    if ((len = Utf8Length(p + i, text.size() - i)) == 0) return false;
  return true;
}

std::string Shown(const std::string &text) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
  size_t n = text.size();
  std::string out;
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    size_t len = Utf8Length(p + i, n - i);
    // C0, DEL and C1 (U+0080..U+009F, encoded C2 80..C2 9F).
    bool control = len == 1 ? c < 0x20 || c == 0x7F : len == 2 && c == 0xC2 && p[i + 1] < 0xA0;
    if (len == 1 && c == '\\') {
      out += "\\\\";
    } else if (len == 1 && control && (c == 0x1B || c == '\n' || c == '\t' || c == '\r')) {
      out += c == 0x1B ? "\\e" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
    } else if (len == 0 || control) {
      for (size_t k = 0; k < (len ? len : 1); k++) {
        char escaped[8];
        snprintf(escaped, sizeof escaped, "\\x%02x", p[i + k]);
        out += escaped;
      }
    } else {
      out.append(text, i, len);
    }
    i += len ? len : 1;
  }
  return out;
}
