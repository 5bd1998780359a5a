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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = (char)tolower((unsigned char)c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// One line at a time; every byte read goes through At, which counts it.
class LineScanner {
public:
  LineScanner(std::string_view text, size_t start, size_t end, unsigned line, uint64_t *steps,
              const std::function<void(const PartuuidToken &)> &each)
      : text_(text), start_(start), end_(end), line_(line), steps_(steps), each_(each) {}

  void Scan() {
    size_t first = start_;
    while (first < end_ && IsBlank(At(first)))
      first++;
    if (first < end_ && At(first) == '#') return;
    size_t word = end_; // where the current word starts; end_: between words
    for (size_t i = start_; i < end_; i++) {
      char c = At(i);
      if (c == '=' && Named(i, "partuuid"))
        Value(i + 1, true);
      else if (c == '/' && Named(i, "by-partuuid"))
        Value(i + 1, false);
      if (IsBlank(c) && word != end_) {
        Word(word, i);
        word = end_;
      } else if (!IsBlank(c) && word == end_) {
        word = i;
      }
    }
    if (word != end_) Word(word, end_);
    EndCommand();
  }

private:
  char At(size_t i) {
    if (steps_) ++*steps_;
    return text_[i];
  }

  // name (lower case) ends just before i, in any case, and is not the
  // tail of a longer name.
  bool Named(size_t i, const char *name) {
    size_t n = strlen(name);
    if (i - start_ < n) return false;
    for (size_t k = 0; k < n; k++)
      if (tolower((unsigned char)At(i - n + k)) != name[k]) return false;
    return i - start_ == n || !IsNameChar(At(i - n - 1));
  }

  // XXXXXXXX-NN at i (after an optional quote when quoted); found says it.
  bool Value(size_t i, bool quoted, bool found = true) {
    if (quoted && i < end_ && (At(i) == '"' || At(i) == '\'')) i++;
    if (end_ - i < 11 || At(i + 8) != '-') return false;
    uint32_t signature = 0;
    unsigned partition = 0;
    for (size_t k = 0; k < 11; k++) {
      if (k == 8) continue;
      int d = HexDigit(At(i + k));
      if (d < 0) return false;
      if (k < 8)
        signature = signature << 4 | (uint32_t)d;
      else
        partition = partition << 4 | (unsigned)d;
    }
    if (i + 11 < end_ && IsNameChar(At(i + 11))) return false;
    if (found) each_({i, line_, signature, partition});
    return true;
  }

  // The word [begin, end): GRUB's search commands, each up to a ';'. The
  // first word that is a PARTUUID is the one searched for.
  void Word(size_t begin, size_t end) {
    bool last = At(end - 1) == ';';
    if (last) end--;
    size_t n = end - begin;
    if (n == 6 && Is(begin, "search")) {
      EndCommand();
      search_ = true;
    } else if (n == 16 && Is(begin, "search.part_uuid")) {
      EndCommand();
      search_ = part_uuid_ = true;
    } else if (search_ && n == 11 && Is(begin, "--part-uuid")) {
      part_uuid_ = true;
    } else if (search_ && !candidate_ && n >= 11 && n <= 13) {
      size_t value = begin + (At(begin) == '"' || At(begin) == '\'' ? 1 : 0);
      if (end - value == 11 + (value > begin ? 1 : 0) && Value(value, false, false))
        candidate_ = value + 1;
    }
    if (last) EndCommand();
  }

  bool Is(size_t at, const char *word) {
    for (size_t k = 0; word[k]; k++)
      if (At(at + k) != word[k]) return false;
    return true;
  }

  void EndCommand() {
    if (search_ && part_uuid_ && candidate_) Value(candidate_ - 1, false);
    search_ = part_uuid_ = false;
    candidate_ = 0;
  }

  std::string_view text_;
  size_t start_, end_;
  unsigned line_;
  uint64_t *steps_;
  const std::function<void(const PartuuidToken &)> &each_;
  bool search_ = false, part_uuid_ = false;
  size_t candidate_ = 0; // 1 + where a search's PARTUUID starts
};

} // namespace

void ScanPartuuids(std::string_view text, const std::function<void(const PartuuidToken &)> &each,
                   uint64_t *steps) {
  unsigned line = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (steps) *steps += end - start + 1;
    LineScanner(text, start, end, ++line, steps, each).Scan();
    start = end + 1;
  }
}

void FindPartuuidReferences(const std::string &file, std::string_view contents, uint32_t signature,
                            std::vector<PartuuidReference> *found) {
  ScanPartuuids(contents, [&](const PartuuidToken &t) {
    if (t.signature == signature) found->push_back({file, t.line, t.partition});
  });
}

std::string ReplacePartuuids(const std::string &contents, uint32_t old_signature,
                             uint32_t new_signature, unsigned *count) {
  std::string out; // a copy made at the first change
  *count = 0;
  ScanPartuuids(contents, [&](const PartuuidToken &t) {
    if (t.signature != old_signature) return;
    if (*count == 0) out = contents;
    // In the case the line wrote it in.
    bool upper = false;
    for (int i = 0; i < 8; i++)
      upper = upper || isupper((unsigned char)contents[t.at + i]);
    char digits[16];
    snprintf(digits, sizeof digits, upper ? "%08X" : "%08x", (unsigned)new_signature);
    out.replace(t.at, 8, digits);
    ++*count;
  });
  if (*count == 0) return contents;
  return out;
}
