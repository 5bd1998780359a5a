#include "app/undo.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kHeader[] = "kormelde undo 1\n";

std::string Hex4(const uint8_t *b) {
  char text[16];
  snprintf(text, sizeof text, "%02x%02x%02x%02x", b[0], b[1], b[2], b[3]);
  return text;
}

bool ParseHex4(const std::string &text, uint8_t *b) {
  if (text.size() != 8 || text.find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  for (int i = 0; i < 4; i++)
    b[i] = (uint8_t)strtoul(text.substr(i * 2, 2).c_str(), nullptr, 16);
  return true;
}

bool ParseNumber(const std::string &text, uint64_t *value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = strtoull(text.c_str(), nullptr, 10);
  return true;
}

// The next line of data from *at (without its newline); false at the end.
bool NextLine(const uint8_t *data, size_t size, size_t *at, std::string *line) {
  const void *nl = *at < size ? memchr(data + *at, '\n', size - *at) : nullptr;
  if (!nl) return false;
  size_t end = (size_t)((const uint8_t *)nl - data);
  line->assign((const char *)data + *at, end - *at);
  *at = end + 1;
  return true;
}

} // namespace

std::string FormatUndoRecords(const UndoRecords &records) {
  std::string text = kHeader;
  for (const BytePatch &p : records.patches) {
    std::string what = p.what;
    for (char &c : what)
      if (c == '\n' || c == '\r') c = ' ';
    text += "patch " + std::to_string(p.offset) + " " + Hex4(p.old_bytes) + " " +
            Hex4(p.new_bytes) + " " + what + "\n";
  }
  for (const FileVersion &f : records.files)
    text += "file " + std::to_string(f.contents.size()) + " " + f.path + "\n" + f.contents + "\n";
  return text + "end\n";
}

bool ParseUndoRecords(const uint8_t *data, size_t size, UndoRecords *records) {
  *records = UndoRecords();
  if (size == 0) return true;
  size_t at = 0;
  std::string line;
  if (!NextLine(data, size, &at, &line) || line + "\n" != kHeader) return false;
  while (NextLine(data, size, &at, &line)) {
    if (line == "end") return at == size;
    size_t s1 = line.find(' '), s2 = line.find(' ', s1 + 1);
    if (s1 == std::string::npos || s2 == std::string::npos) return false;
    std::string kind = line.substr(0, s1), number = line.substr(s1 + 1, s2 - s1 - 1);
    uint64_t value;
    if (!ParseNumber(number, &value)) return false;
    if (kind == "patch") {
      size_t s3 = line.find(' ', s2 + 1), s4 = line.find(' ', s3 + 1);
      if (s3 == std::string::npos || s4 == std::string::npos) return false;
      BytePatch p;
      p.offset = value;
      if (!ParseHex4(line.substr(s2 + 1, s3 - s2 - 1), p.old_bytes) ||
          !ParseHex4(line.substr(s3 + 1, s4 - s3 - 1), p.new_bytes))
        return false;
      p.what = line.substr(s4 + 1);
      records->patches.push_back(p);
    } else if (kind == "file") {
      FileVersion f;
      f.path = line.substr(s2 + 1);
      if (f.path.empty() || value > size - at || size - at - value < 1 || data[at + value] != '\n')
        return false;
      f.contents.assign((const char *)data + at, (size_t)value);
      at += (size_t)value + 1;
      records->files.push_back(f);
    } else {
      return false;
    }
  }
  return false;
}

std::vector<BytePatch> ReversePatches(const std::vector<BytePatch> &patches) {
  std::vector<BytePatch> undo;
  for (size_t i = patches.size(); i-- > 0;) {
    BytePatch p = patches[i];
    memcpy(p.old_bytes, patches[i].new_bytes, 4);
    memcpy(p.new_bytes, patches[i].old_bytes, 4);
    undo.push_back(p);
  }
  return undo;
}
