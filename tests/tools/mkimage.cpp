// Writes disk images for the tests: AT and PC-9821 boot areas, GPT, broken
// boot marks, the score-3 cases, and the containers the Linux backend reads
// (raw, fixed VHD, HDI, NHD), including headers that lie. Files are sparse
// where the platform allows it. Plain C++ so that it also runs under Wine.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: mkimage KIND OUT [--sig HEX] [--container raw|vhd|hdi|nhd] [--sectors N]\n"
    "               [--heads H --spt S]\n"
    "kinds:\n"
    "  at           MBR: primary, extended with 4 logical partitions (20 entries)\n"
    "  at-4k        the at disk in 4096-byte logical sectors\n"
    "  at-primary   MBR: 4 primary entries, the second empty\n"
    "  pc98         PC-9821 IPL, 2 partitions, signature at 0x2000 (default 8x17)\n"
    "  gpt          protective MBR and GPT with one partition\n"
    "  nomark       AT tables without the boot mark at 0x1FE\n"
    "  swapped      AT tables with 0xAA 0x55 at 0x1FE\n"
    "  score3-at    AT, signature 0, zeros at 0x1B8 and 0x2000\n"
    "  score3-pc98  PC-9821, signature 0, zeros at 0x1B8 and 0x2000\n"
    "  neither      AT tables, \"IPL1\" without the 0xFE mark, signature at both\n"
    "               places: a boot area whose format cannot be settled\n"
    "  short        an MBR on fewer than 32 sectors (default 16)\n"
    "  hdi-lying    AT in HDI whose data size exceeds the file\n"
    "  hdi-secsize  AT in HDI with a sector size of 256\n"
    "  nhd-lying    AT in NHD whose header size points past the end\n"
    "  vhd-badsum   AT in a fixed VHD whose footer checksum is wrong\n"
    "  nhd-wrap     AT in NHD whose geometry x 512 wraps past 2^64 to a size that fits\n"
    "  hdi-geometry AT in HDI whose geometry (100000 cylinders) does not fit its data\n"
    "  vhd-small    AT in a fixed VHD whose current size is half its data\n"
    "default size: 131072 sectors (64 MiB)\n";

enum { SECTOR = 512, HDI_HEADER = 4096, NHD_HEADER = 512, VHD_FOOTER = 512 };

void Put16(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
void Put64(uint8_t *p, uint64_t v) {
  Put32(p, (uint32_t)v);
  Put32(p + 4, (uint32_t)(v >> 32));
}
void PutBe(uint8_t *p, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; i--, v >>= 8)
    p[i] = (uint8_t)v;
}

uint32_t Crc32(const uint8_t *p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) {
    crc ^= p[i];
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The data area as a set of non-zero sectors; the rest reads as zero.
struct Image {
  uint64_t sectors = 0;
  std::vector<uint64_t> numbers;
  std::vector<std::vector<uint8_t>> data;

  uint8_t *At(uint64_t n) {
    for (size_t i = 0; i < numbers.size(); i++)
      if (numbers[i] == n) return data[i].data();
    numbers.push_back(n);
    data.push_back(std::vector<uint8_t>(SECTOR, 0));
    return data.back().data();
  }
};

struct Options {
  std::string kind, out, container = "raw";
  uint64_t sectors = 0;
  uint32_t sig = 0;
  bool sig_given = false;
  uint32_t heads = 8, spt = 17;
};

// CHS of an LBA for MBR entries, 255 x 63, saturated at cylinder 1023.
void PutChs(uint8_t *p, uint64_t lba) {
  uint64_t c = lba / (255 * 63);
  uint32_t h = (uint32_t)(lba / 63 % 255), s = (uint32_t)(lba % 63 + 1);
  if (c > 1023) {
    c = 1023;
    h = 254;
    s = 63;
  }
  p[0] = (uint8_t)h;
  p[1] = (uint8_t)(s | ((c >> 2) & 0xC0));
  p[2] = (uint8_t)c;
}

void PutMbrEntry(uint8_t *sector, int index, uint8_t boot, uint8_t type, uint64_t abs_first,
                 uint64_t rel_first, uint64_t count) {
  uint8_t *e = sector + 0x1BE + index * 16;
  e[0] = boot;
  PutChs(e + 1, abs_first);
  e[4] = type;
  PutChs(e + 5, abs_first + count - 1);
  Put32(e + 8, (uint32_t)rel_first);
  Put32(e + 12, (uint32_t)count);
}

// The signature at byte at, between non-zero bytes (four before, and the
// two before an MBR's table after): a write that touches a byte beside it
// shows.
void PutSignature(Image &img, uint64_t at, uint32_t sig) {
  static const uint8_t kBeside[6] = {0xE8, 0x5A, 0xA5, 0xC3, 0xA5, 0x5A};
  for (int i = 0; i < 6; i++) {
    uint64_t b = i < 4 ? at - 4 + i : at + i;
    img.At(b / SECTOR)[b % SECTOR] = kBeside[i];
  }
  Put32(img.At(at / SECTOR) + at % SECTOR, sig);
}

void Mark(uint8_t *sector) {
  sector[0x1FE] = 0x55;
  sector[0x1FF] = 0xAA;
}

// Primary, extended, four logical partitions; each EBR links to the next.
void BuildAt(Image &img, uint32_t sig) {
  uint64_t n = img.sectors;
  uint64_t u = n / 16;
  uint64_t gap = u / 2 < 2048 ? u / 2 : 2048;
  uint8_t *mbr = img.At(0);
  mbr[0] = 0xEB;
  mbr[1] = 0x63;
  mbr[2] = 0x90;
  PutSignature(img, 0x1B8, sig);
  Mark(mbr);
  PutMbrEntry(mbr, 0, 0x80, 0x07, gap, gap, 4 * u - gap);
  uint64_t ext = 4 * u;
  PutMbrEntry(mbr, 1, 0, 0x05, ext, ext, n - ext);
  static const uint8_t types[4] = {0x07, 0x06, 0x0B, 0x83};
  for (int k = 0; k < 4; k++) {
    uint64_t ebr = ext + 3 * u * k;
    uint64_t end = k == 3 ? n : ext + 3 * u * (k + 1);
    uint8_t *s = img.At(ebr);
    Mark(s);
    PutMbrEntry(s, 0, 0, types[k], ebr + gap, gap, end - ebr - gap);
    if (k < 3) {
      uint64_t next = ebr + 3 * u;
      uint64_t next_end = k == 2 ? n : next + 3 * u;
      PutMbrEntry(s, 1, 0, 0x05, next, next - ext, next_end - next);
    }
  }
}

void BuildAtPrimary(Image &img, uint32_t sig) {
  uint64_t n = img.sectors, u = n / 16;
  uint64_t gap = u / 2 < 2048 ? u / 2 : 2048;
  uint8_t *mbr = img.At(0);
  PutSignature(img, 0x1B8, sig);
  Mark(mbr);
  PutMbrEntry(mbr, 0, 0x80, 0x07, gap, gap, 4 * u - gap);
  PutMbrEntry(mbr, 2, 0, 0x0C, 4 * u, 4 * u, 6 * u);
  PutMbrEntry(mbr, 3, 0, 0x83, 10 * u, 10 * u, n - 10 * u);
}

// A FAT16 boot sector recording the geometry, as a PC-98 format would.
void PutFatBoot(uint8_t *s, uint64_t hidden, uint64_t sectors, uint32_t heads, uint32_t spt) {
  s[0] = 0xEB;
  s[1] = 0x3C;
  s[2] = 0x90;
  memcpy(s + 3, "MKIMAGE ", 8);
  Put16(s + 0x0B, SECTOR);
  s[0x0D] = 16;
  Put16(s + 0x0E, 1);
  s[0x10] = 2;
  Put16(s + 0x11, 512);
  if (sectors < 65536) Put16(s + 0x13, (uint32_t)sectors);
  s[0x15] = 0xF8;
  Put16(s + 0x16, (uint32_t)(sectors / 16 / 256 + 1));
  Put16(s + 0x18, spt);
  Put16(s + 0x1A, heads);
  Put32(s + 0x1C, (uint32_t)hidden);
  if (sectors >= 65536) Put32(s + 0x20, (uint32_t)sectors);
  s[0x24] = 0x80;
  s[0x26] = 0x29;
  Put32(s + 0x27, 0x19821000);
  memcpy(s + 0x2B, "NO NAME    FAT16   ", 19);
  Mark(s);
}

void PutPc98Entry(uint8_t *table, int index, uint32_t first_cyl, uint32_t last_cyl, uint32_t heads,
                  uint32_t spt, const char *name) {
  uint8_t *e = table + index * 32;
  e[0] = 0xA0; // bootable, DOS
  e[1] = 0xA1; // active, FAT16
  Put16(e + 6, first_cyl);
  Put16(e + 10, first_cyl);
  e[12] = (uint8_t)(spt - 1);
  e[13] = (uint8_t)(heads - 1);
  Put16(e + 14, last_cyl);
  memset(e + 16, ' ', 16);
  memcpy(e + 16, name, strlen(name));
}

void BuildPc98(Image &img, uint32_t sig, uint32_t heads, uint32_t spt) {
  uint64_t cyl = heads * spt;
  uint64_t cylinders = img.sectors / cyl;
  uint8_t *ipl = img.At(0);
  ipl[0] = 0xEB;
  ipl[1] = 0x0A;
  ipl[2] = 0x90;
  ipl[3] = 0x90;
  memcpy(ipl + 4, "IPL1", 4);
  ipl[0xFE] = 0x55;
  ipl[0xFF] = 0xAA;
  Mark(ipl);
  PutSignature(img, 0x2000, sig);
  uint8_t *table = img.At(1);
  uint32_t c1 = (uint32_t)(cylinders * 2 / 5);
  uint32_t c2 = (uint32_t)(cylinders - 1);
  PutPc98Entry(table, 0, 1, c1, heads, spt, "MS-DOS 6.20");
  PutPc98Entry(table, 1, c1 + 1, c2, heads, spt, "MS-DOS 6.20");
  PutFatBoot(img.At(cyl), cyl, c1 * cyl, heads, spt);
  PutFatBoot(img.At((c1 + 1) * cyl), (c1 + 1) * cyl, (c2 - c1) * cyl, heads, spt);
}

void BuildGpt(Image &img) {
  uint64_t n = img.sectors;
  uint8_t *mbr = img.At(0);
  uint64_t count = n - 1 > 0xFFFFFFFFull ? 0xFFFFFFFFull : n - 1;
  PutMbrEntry(mbr, 0, 0, 0xEE, 1, 1, count);
  Mark(mbr);

  std::vector<uint8_t> entries(128 * 128, 0);
  static const uint8_t linux_fs[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                       0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
  memcpy(entries.data(), linux_fs, 16);
  for (int i = 0; i < 16; i++)
    entries[16 + i] = (uint8_t)(0x11 * (i + 1));
  Put64(entries.data() + 32, 2048);
  Put64(entries.data() + 40, n - 2049);
  const char name[] = "data";
  for (int i = 0; name[i]; i++)
    entries[56 + 2 * i] = (uint8_t)name[i];
  uint32_t entries_crc = Crc32(entries.data(), entries.size());

  for (int copy = 0; copy < 2; copy++) {
    uint64_t self = copy ? n - 1 : 1, other = copy ? 1 : n - 1;
    uint64_t table = copy ? n - 33 : 2;
    uint8_t *h = img.At(self);
    memcpy(h, "EFI PART", 8);
    Put32(h + 8, 0x00010000);
    Put32(h + 12, 92);
    Put64(h + 24, self);
    Put64(h + 32, other);
    Put64(h + 40, 34);
    Put64(h + 48, n - 34);
    for (int i = 0; i < 16; i++)
      h[56 + i] = (uint8_t)(0xA0 + i);
    Put64(h + 72, table);
    Put32(h + 80, 128);
    Put32(h + 84, 128);
    Put32(h + 88, entries_crc);
    Put32(h + 16, Crc32(h, 92));
    for (int s = 0; s < 32; s++)
      memcpy(img.At(table + s), entries.data() + s * SECTOR, SECTOR);
  }
}

// Fixed VHD geometry, as the VHD format defines it.
void VhdChs(uint64_t total, uint32_t *c, uint32_t *h, uint32_t *s) {
  if (total > 65535ull * 16 * 255) total = 65535ull * 16 * 255;
  uint64_t cth;
  if (total >= 65535ull * 16 * 63) {
    *s = 255;
    *h = 16;
    cth = total / *s;
  } else {
    *s = 17;
    cth = total / *s;
    *h = (uint32_t)((cth + 1023) / 1024);
    if (*h < 4) *h = 4;
    if (cth >= *h * 1024ull || *h > 16) {
      *s = 31;
      *h = 16;
      cth = total / *s;
    }
    if (cth >= *h * 1024ull) {
      *s = 63;
      *h = 16;
      cth = total / *s;
    }
  }
  *c = (uint32_t)(cth / *h);
}

struct Container {
  std::vector<uint8_t> header, footer;
};

// The AT disk in a container whose header or footer lies.
bool LyingContainer(const std::string &kind) {
  for (const char *k : {"hdi-lying", "hdi-secsize", "hdi-geometry", "nhd-lying", "nhd-wrap",
                        "vhd-badsum", "vhd-small"})
    if (kind == k) return true;
  return false;
}

Container MakeContainer(const Options &o, uint64_t sectors) {
  Container c;
  uint64_t bytes = sectors * SECTOR;
  uint32_t heads = o.heads, spt = o.spt;
  bool pc98 = o.kind == "pc98" || o.kind == "score3-pc98";
  if (!pc98) {
    heads = 16;
    spt = 63;
  }
  uint32_t cylinders = (uint32_t)(sectors / ((uint64_t)heads * spt));
  if (o.container == "hdi") {
    c.header.assign(HDI_HEADER, 0);
    Put32(&c.header[8], HDI_HEADER);
    Put32(&c.header[0xC], (uint32_t)bytes);
    Put32(&c.header[0x10], SECTOR);
    Put32(&c.header[0x14], spt);
    Put32(&c.header[0x18], heads);
    Put32(&c.header[0x1C], cylinders);
    if (o.kind == "hdi-lying") Put32(&c.header[0xC], (uint32_t)bytes + (1u << 20));
    if (o.kind == "hdi-secsize") Put32(&c.header[0x10], 256);
    if (o.kind == "hdi-geometry") Put32(&c.header[0x1C], 100000);
  } else if (o.container == "nhd") {
    c.header.assign(NHD_HEADER, 0);
    memcpy(&c.header[0], "T98HDDIMAGE.R0", 15);
    memcpy(&c.header[0x10], "mkimage", 7);
    Put32(&c.header[0x110], NHD_HEADER);
    Put32(&c.header[0x114], cylinders);
    Put16(&c.header[0x118], heads);
    Put16(&c.header[0x11A], spt);
    Put16(&c.header[0x11C], SECTOR);
    if (o.kind == "nhd-lying") Put32(&c.header[0x110], (uint32_t)(NHD_HEADER + bytes + SECTOR));
    if (o.kind == "nhd-wrap") { // 2351922630 x 60074 x 255 x 512 = 2^64 x 1956 + 32835584
      Put32(&c.header[0x114], 2351922630u);
      Put16(&c.header[0x118], 60074);
      Put16(&c.header[0x11A], 255);
    }
  } else if (o.container == "vhd") {
    std::vector<uint8_t> &f = c.footer;
    f.assign(VHD_FOOTER, 0);
    memcpy(&f[0], "conectix", 8);
    PutBe(&f[8], 2, 4);
    PutBe(&f[0xC], 0x00010000, 4);
    PutBe(&f[0x10], 0xFFFFFFFFFFFFFFFFull, 8);
    memcpy(&f[0x1C], "mkim", 4);
    PutBe(&f[0x20], 0x00010000, 4);
    memcpy(&f[0x24], "Wi2k", 4);
    PutBe(&f[0x28], bytes, 8);
    PutBe(&f[0x30], o.kind == "vhd-small" ? bytes / 2 : bytes, 8);
    uint32_t vc, vh, vs;
    VhdChs(sectors, &vc, &vh, &vs);
    PutBe(&f[0x38], vc, 2);
    f[0x3A] = (uint8_t)vh;
    f[0x3B] = (uint8_t)vs;
    PutBe(&f[0x3C], 2, 4);
    for (int i = 0; i < 16; i++)
      f[0x44 + i] = (uint8_t)(0x31 * i + 7);
    uint32_t sum = 0;
    for (uint8_t b : f)
      sum += b;
    PutBe(&f[0x40], ~sum + (o.kind == "vhd-badsum" ? 1 : 0), 4);
  }
  return c;
}

bool Seek(FILE *f, uint64_t offset) {
  if (sizeof(long) < 8 && offset > 0x7FFFFFFFull) return false;
  return fseek(f, (long)offset, SEEK_SET) == 0;
}

bool WriteAt(FILE *f, uint64_t offset, const uint8_t *p, size_t n) {
  return Seek(f, offset) && fwrite(p, 1, n, f) == n;
}

bool WriteImage(const Options &o, Image &img) {
  Container c = MakeContainer(o, img.sectors);
  uint64_t base = c.header.size();
  uint64_t end = base + img.sectors * SECTOR;
  FILE *f = fopen(o.out.c_str(), "wb");
  if (!f) return false;
  bool ok = c.header.empty() || WriteAt(f, 0, c.header.data(), c.header.size());
  // Sectors in ascending order keep the holes simple for every C library.
  std::vector<size_t> order(img.numbers.size());
  for (size_t i = 0; i < order.size(); i++)
    order[i] = i;
  for (size_t i = 1; i < order.size(); i++)
    for (size_t j = i; j > 0 && img.numbers[order[j]] < img.numbers[order[j - 1]]; j--) {
      size_t t = order[j];
      order[j] = order[j - 1];
      order[j - 1] = t;
    }
  for (size_t i : order)
    if (img.numbers[i] < img.sectors)
      ok = ok && WriteAt(f, base + img.numbers[i] * SECTOR, img.data[i].data(), SECTOR);
  static const uint8_t zero[1] = {0};
  ok = ok && WriteAt(f, end - 1, zero, 1);
  if (!c.footer.empty()) ok = ok && WriteAt(f, end, c.footer.data(), c.footer.size());
  ok = fclose(f) == 0 && ok;
  return ok;
}

bool ParseNumber(const char *text, int base, uint64_t *value) {
  if (!*text) return false;
  uint64_t v = 0;
  for (const char *p = text; *p; p++) {
    int d;
    if (*p >= '0' && *p <= '9')
      d = *p - '0';
    else if (base == 16 && *p >= 'a' && *p <= 'f')
      d = *p - 'a' + 10;
    else if (base == 16 && *p >= 'A' && *p <= 'F')
      d = *p - 'A' + 10;
    else
      return false;
    if (v > (0xFFFFFFFFFFFFFFFFull - d) / base) return false;
    v = v * base + d;
  }
  *value = v;
  return true;
}

int Fail(const char *what) {
  fprintf(stderr, "mkimage: %s\n%s", what, kUsage);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    uint64_t v = 0;
    bool has_value = i + 1 < argc;
    if (a == "-h" || a == "--help") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--sig" && has_value) {
      if (!ParseNumber(argv[++i], 16, &v) || v > 0xFFFFFFFFu) return Fail("bad --sig");
      o.sig = (uint32_t)v;
      o.sig_given = true;
    } else if (a == "--sectors" && has_value) {
      if (!ParseNumber(argv[++i], 10, &v) || v == 0) return Fail("bad --sectors");
      o.sectors = v;
    } else if ((a == "--heads" || a == "--spt") && has_value) {
      if (!ParseNumber(argv[++i], 10, &v) || v == 0 || v > 255) return Fail("bad geometry");
      (a == "--heads" ? o.heads : o.spt) = (uint32_t)v;
    } else if (a == "--container" && has_value) {
      o.container = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      return Fail(("unknown option " + a).c_str());
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return Fail("need KIND and OUT");
  o.kind = positional[0];
  o.out = positional[1];
  if (o.kind == "hdi-lying" || o.kind == "hdi-secsize" || o.kind == "hdi-geometry")
    o.container = "hdi";
  if (o.kind == "nhd-lying" || o.kind == "nhd-wrap") o.container = "nhd";
  if (o.kind == "vhd-badsum" || o.kind == "vhd-small") o.container = "vhd";
  if (o.container != "raw" && o.container != "vhd" && o.container != "hdi" && o.container != "nhd")
    return Fail("unknown container");

  Image img;
  bool is_short = o.kind == "short";
  img.sectors = o.sectors ? o.sectors : is_short ? 16 : 131072;
  if (!is_short && img.sectors < 1024) return Fail("--sectors must be at least 1024");
  bool pc98 = o.kind == "pc98" || o.kind == "score3-pc98";
  // Containers with a geometry hold whole cylinders.
  uint64_t cyl = pc98 ? (uint64_t)o.heads * o.spt : 16 * 63;
  if (pc98 || o.container == "hdi" || o.container == "nhd") img.sectors = img.sectors / cyl * cyl;
  if (pc98 && img.sectors / cyl < 4) return Fail("disk too small for that geometry");

  uint32_t at_sig = o.sig_given ? o.sig : 0x1234ABCDu;
  uint32_t pc98_sig = o.sig_given ? o.sig : 0x9821CAFEu;
  if (o.kind == "at" || LyingContainer(o.kind)) {
    BuildAt(img, at_sig);
  } else if (o.kind == "at-4k") {
    // The "at" disk in 4096-byte logical sectors: its tables count those.
    Image logical;
    logical.sectors = img.sectors / 8;
    BuildAt(logical, at_sig);
    for (size_t i = 0; i < logical.numbers.size(); i++)
      memcpy(img.At(logical.numbers[i] * 8), logical.data[i].data(), SECTOR);
  } else if (o.kind == "at-primary") {
    BuildAtPrimary(img, at_sig);
  } else if (o.kind == "pc98") {
    BuildPc98(img, pc98_sig, o.heads, o.spt);
  } else if (o.kind == "score3-pc98") {
    BuildPc98(img, 0, o.heads, o.spt);
  } else if (o.kind == "score3-at") {
    BuildAt(img, 0);
  } else if (o.kind == "gpt") {
    BuildGpt(img);
  } else if (o.kind == "nomark" || o.kind == "swapped") {
    BuildAt(img, at_sig);
    uint8_t *mbr = img.At(0);
    mbr[0x1FE] = o.kind == "swapped" ? 0xAA : 0;
    mbr[0x1FF] = o.kind == "swapped" ? 0x55 : 0;
  } else if (o.kind == "neither") {
    BuildAt(img, at_sig);
    memcpy(img.At(0) + 4, "IPL1", 4);
    PutSignature(img, 0x2000, at_sig);
  } else if (o.kind == "short") {
    uint8_t *mbr = img.At(0);
    PutSignature(img, 0x1B8, at_sig);
    Mark(mbr);
    if (img.sectors > 1) PutMbrEntry(mbr, 0, 0, 0x06, 1, 1, img.sectors - 1);
  } else {
    return Fail(("unknown kind " + o.kind).c_str());
  }
  if (!WriteImage(o, img)) {
    fprintf(stderr, "mkimage: cannot write %s\n", o.out.c_str());
    return 1;
  }
  return 0;
}
