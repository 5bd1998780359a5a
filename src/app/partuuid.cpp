#include "app/partuuid.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/layout.h"

std::string Partuuid(uint32_t signature, unsigned partition) {
  char text[24];
  snprintf(text, sizeof text, "%08x-%02x", (unsigned)signature, partition);
  return text;
}

std::vector<DiskPartition> PartitionsOfLayout(const uint8_t *reply, uint32_t bytes) {
  std::vector<DiskPartition> partitions;
  if (bytes < LAYOUT_HEADER_SIZE) return partitions;
  uint32_t count = LoadLe32(reply);
  uint32_t fit = (bytes - LAYOUT_HEADER_SIZE) / LAYOUT_ENTRY_SIZE;
  if (count > fit) count = fit;
  unsigned logical = 5;
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t *e = reply + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE;
    uint64_t start = LoadLe32(e) | (uint64_t)LoadLe32(e + 4) << 32;
    uint64_t length = LoadLe32(e + 8) | (uint64_t)LoadLe32(e + 12) << 32;
    uint8_t type = e[24];
    bool container = type == 0x05 || type == 0x0F || type == 0x85;
    if (length == 0 || type == 0) continue;
    if (i < 4)
      partitions.push_back({i + 1, start, length, type, container, i});
    else if (!container)
      partitions.push_back({logical++, start, length, type, false, i});
  }
  return partitions;
}

std::vector<unsigned> LinuxPartitionNumbers(const uint8_t *reply, uint32_t bytes) {
  std::vector<unsigned> numbers;
  for (const DiskPartition &p : PartitionsOfLayout(reply, bytes))
    numbers.push_back(p.number);
  return numbers;
}

namespace {

bool IsNameChar(char c) {
  return isalnum((unsigned char)c) || c == '_';
}

// Value of n hexadecimal digits at p, or -1.
long long Hex(const char *p, int n) {
  long long value = 0;
  for (int i = 0; i < n; i++) {
    if (!isxdigit((unsigned char)p[i])) return -1;
    value = value * 16 + (isdigit((unsigned char)p[i]) ? p[i] - '0' : (tolower(p[i]) - 'a' + 10));
  }
  return value;
}

// Calls found(at) for each PARTUUID=<signature>-NN of a line, at the first
// of the eight digits.
template <typename Found> void ScanLine(const std::string &line, uint32_t signature, Found found) {
  size_t blank = line.find_first_not_of(" \t");
  if (blank != std::string::npos && line[blank] == '#') return;
  static const char kName[] = "partuuid=";
  const size_t name_length = sizeof kName - 1;
  for (size_t at = 0; at + name_length <= line.size(); at++) {
    if (strncasecmp(line.c_str() + at, kName, name_length) != 0) continue;
    if (at > 0 && IsNameChar(line[at - 1])) continue;
    const char *p = line.c_str() + at + name_length;
    if (*p == '"' || *p == '\'') p++;
    if (strlen(p) < 11 || p[8] != '-') continue;
    long long sig = Hex(p, 8), part = Hex(p + 9, 2);
    if (sig < 0 || part < 0 || IsNameChar(p[11])) continue;
    if ((uint32_t)sig == signature) found((size_t)(p - line.c_str()), (unsigned)part);
  }
}

// Each line of contents with its number and start.
template <typename Each> void EachLine(const std::string &contents, Each each) {
  unsigned number = 0;
  for (size_t start = 0; start < contents.size();) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    each(++number, start, contents.substr(start, end - start));
    start = end + 1;
  }
}

} // namespace

void FindPartuuidReferences(const std::string &file, const std::string &contents,
                            uint32_t signature, std::vector<PartuuidReference> *found) {
  EachLine(contents, [&](unsigned number, size_t, const std::string &line) {
    ScanLine(line, signature, [&](size_t, unsigned part) {
      found->push_back({file, number, part});
    });
  });
}

std::string ReplacePartuuids(const std::string &contents, uint32_t old_signature,
                             uint32_t new_signature, unsigned *count) {
  std::string out = contents;
  *count = 0;
  EachLine(contents, [&](unsigned, size_t start, const std::string &line) {
    ScanLine(line, old_signature, [&](size_t at, unsigned) {
      // In the case the line wrote it in.
      bool upper = false;
      for (int i = 0; i < 8; i++)
        upper = upper || isupper((unsigned char)line[at + i]);
      char digits[16];
      snprintf(digits, sizeof digits, upper ? "%08X" : "%08x", (unsigned)new_signature);
      out.replace(start + at, 8, digits);
      ++*count;
    });
  });
  return out;
}
