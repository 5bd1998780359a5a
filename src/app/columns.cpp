#include "app/columns.h"

#include <cstdio>

namespace {

// East Asian Wide and Fullwidth ranges (Unicode 15, abridged to the
// blocks that occur in this program's texts, paths and models).
bool IsWide(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

size_t DisplayWidth(const std::string &text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = (unsigned char)text[i];
    size_t len = c < 0x80             ? 1
                 : (c & 0xE0) == 0xC0 ? 2
                 : (c & 0xF0) == 0xE0 ? 3
                 : (c & 0xF8) == 0xF0 ? 4
                                      : 1;
    if (i + len > text.size()) len = 1;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; k++)
      cp = cp << 6 | ((unsigned char)text[i + k] & 0x3F);
    width += IsWide(cp) ? 2 : 1;
    i += len;
  }
  return width;
}

std::string HumanSize(uint64_t bytes) {
  static const char kLetters[] = "BKMGTPE";
  int exp = 0;
  while (exp < 60 && bytes >= (1ULL << (exp + 10)))
    exp += 10;
  uint64_t whole = bytes >> exp;
  uint64_t frac = exp ? bytes & ((1ULL << exp) - 1) : 0;
  if (frac) {
    // Three digits after the point, then rounded to one.
    frac = frac >= UINT64_MAX / 1000 ? (frac / 1024 * 1000) >> (exp - 10) : (frac * 1000) >> exp;
    frac = (frac + 50) / 100;
    if (frac == 10) {
      whole++;
      frac = 0;
    }
  }
  char text[64];
  if (frac)
    snprintf(text, sizeof text, "%llu.%llu%c", (unsigned long long)whole, (unsigned long long)frac,
             kLetters[exp / 10]);
  else
    snprintf(text, sizeof text, "%llu%c", (unsigned long long)whole, kLetters[exp / 10]);
  return text;
}

std::string Columns(const std::vector<std::vector<std::string>> &rows) {
  std::vector<size_t> widths;
  for (const auto &row : rows)
    for (size_t i = 0; i < row.size(); i++) {
      if (widths.size() <= i) widths.resize(i + 1, 0);
      size_t w = DisplayWidth(row[i]);
      if (w > widths[i]) widths[i] = w;
    }
  std::string out;
  for (const auto &row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); i++) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - DisplayWidth(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    out += line + "\n";
  }
  return out;
}
