#include "disk/container.h"

#include <cstring>
#include <string>
#include <vector>

#include "disk/bootrecord.h"

namespace {

uint64_t LoadBe(const uint8_t *p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; i++)
    v = (v << 8) | p[i];
  return v;
}

bool EndsWithHdi(const char *name) {
  size_t n = strlen(name);
  if (n < 4 || name[n - 4] != '.') return false;
  const char *ext = name + n - 3;
  return (ext[0] | 0x20) == 'h' && (ext[1] | 0x20) == 'd' && (ext[2] | 0x20) == 'i';
}

bool Fits(uint64_t offset, uint64_t bytes, uint64_t file_size) {
  return offset <= file_size && bytes <= file_size - offset;
}

// cylinders x heads x sectors x sector_size in *bytes; false when it does
// not fit in 64 bits.
bool GeometryBytes(uint64_t cylinders, uint64_t heads, uint64_t sectors, uint64_t sector_size,
                   uint64_t *bytes) {
  return !__builtin_mul_overflow(cylinders, heads, bytes) &&
         !__builtin_mul_overflow(*bytes, sectors, bytes) &&
         !__builtin_mul_overflow(*bytes, sector_size, bytes);
}

bool OtherSectorSize(uint32_t size) {
  return size == 256 || size == 1024 || size == 2048 || size == 4096;
}

// The key=value line of a VMDK descriptor, its value without quotes; ""
// when it has none.
std::string DescriptorValue(const char *text, size_t n, const char *key) {
  size_t k = strlen(key);
  for (size_t line = 0; line < n;) {
    size_t end = line;
    while (end < n && text[end] != '\n' && text[end] != '\0')
      end++;
    size_t i = line;
    while (i < end && (text[i] == ' ' || text[i] == '\t'))
      i++;
    if (end - i > k && memcmp(text + i, key, k) == 0) {
      i += k;
      while (i < end && (text[i] == ' ' || text[i] == '\t'))
        i++;
      if (i < end && text[i] == '=') {
        std::string v(text + i + 1, end - i - 1);
        size_t a = v.find_first_not_of(" \t\"\r"), b = v.find_last_not_of(" \t\"\r");
        return a == std::string::npos ? "" : v.substr(a, b - a + 1);
      }
    }
    if (end < n && text[end] == '\0') break;
    line = end + 1;
  }
  return "";
}

// The file names of a VMDK descriptor's extent lines
// (RW 16384 FLAT "disk-flat.vmdk" 0).
std::vector<std::string> ExtentNames(const char *text, size_t n) {
  std::vector<std::string> names;
  for (size_t line = 0; line < n;) {
    size_t end = line;
    while (end < n && text[end] != '\n' && text[end] != '\0')
      end++;
    std::string l(text + line, end - line);
    size_t open = l.find('"'), close = l.rfind('"');
    for (const char *access : {"RW ", "RDONLY ", "NOACCESS "})
      if (l.compare(0, strlen(access), access) == 0 && open < close)
        names.push_back(l.substr(open + 1, close - open - 1));
    if (end < n && text[end] == '\0') break;
    line = end + 1;
  }
  return names;
}

bool IsVmdkDescriptor(const uint8_t *h, size_t n) {
  static const char mark[] = "# Disk DescriptorFile";
  return n >= sizeof mark - 1 && memcmp(h, mark, sizeof mark - 1) == 0;
}

// The descriptor text in a head: a descriptor file, or a sparse file's own.
bool DescriptorText(const uint8_t *h, size_t n, const char **text, size_t *bytes);

// Extents named by a path, not a file beside the descriptor, are not
// written: they may be anything (a device).
void CheckExtents(const uint8_t *h, size_t n, ImageLayout *out) {
  for (const std::string &name : VmdkExtentNames(h, n))
    if (name.empty() || name.find('/') != std::string::npos) out->read_only = true;
}

// A VMDK descriptor's createType: the kinds QEMU writes, streamOptimized
// (read only), or none of them.
DiskError VmdkKind(const std::string &type, ImageLayout *out) {
  static const char *const writable[] = {"monolithicSparse", "monolithicFlat",
                                         "twoGbMaxExtentSparse", "twoGbMaxExtentFlat"};
  out->container = IMAGE_VMDK;
  for (const char *w : writable)
    if (type == w) return DISK_OK;
  if (type == "streamOptimized") {
    out->read_only = true;
    return DISK_OK;
  }
  out->container = IMAGE_RAW;
  return DISK_UNSUPPORTED_IMAGE;
}

// Sparse header: the descriptor lies in the file (descriptorOffset and
// descriptorSize in sectors); an extent of a split disk has none.
DiskError ParseVmdkSparse(const uint8_t *h, size_t n, uint64_t file_size, ImageLayout *out) {
  if (n < 0x4D + 2) return DISK_BAD_CONTAINER;
  uint64_t offset = LoadLe32(h + 0x1C) | (uint64_t)LoadLe32(h + 0x20) << 32;
  uint64_t size = LoadLe32(h + 0x24) | (uint64_t)LoadLe32(h + 0x28) << 32;
  if (offset == 0 || size == 0) return DISK_IMAGE_REFUSED;
  if (offset > file_size / SECTOR_SIZE || size > file_size / SECTOR_SIZE) return DISK_BAD_CONTAINER;
  if (offset * SECTOR_SIZE >= n) return DISK_BAD_CONTAINER; // past the head read
  size_t avail = n - (size_t)(offset * SECTOR_SIZE);
  size_t text = size * SECTOR_SIZE < avail ? (size_t)(size * SECTOR_SIZE) : avail;
  const char *d = reinterpret_cast<const char *>(h + offset * SECTOR_SIZE);
  DiskError e = VmdkKind(DescriptorValue(d, text, "createType"), out);
  // A compressed sparse file is stream-optimized whatever it says.
  if (e == DISK_OK && LoadLe16(h + 0x4D) != 0) out->read_only = true;
  if (e == DISK_OK) CheckExtents(h, n, out);
  return e;
}

bool DescriptorText(const uint8_t *h, size_t n, const char **text, size_t *bytes) {
  if (n >= 0x2C && memcmp(h, "KDMV", 4) == 0) {
    uint64_t offset = LoadLe32(h + 0x1C) | (uint64_t)LoadLe32(h + 0x20) << 32;
    uint64_t size = LoadLe32(h + 0x24) | (uint64_t)LoadLe32(h + 0x28) << 32;
    if (offset == 0 || offset >= n / SECTOR_SIZE || size > n) return false;
    size_t avail = n - (size_t)(offset * SECTOR_SIZE);
    *text = reinterpret_cast<const char *>(h + offset * SECTOR_SIZE);
    *bytes = size * SECTOR_SIZE < avail ? (size_t)(size * SECTOR_SIZE) : avail;
    return true;
  }
  if (!IsVmdkDescriptor(h, n)) return false;
  *text = reinterpret_cast<const char *>(h);
  *bytes = n;
  return true;
}

DiskError ParseQcow2(const uint8_t *h, size_t n, ImageLayout *out) {
  uint64_t version = n >= 8 ? LoadBe(h + 4, 4) : 0;
  if (n < 0x48 || (version != 2 && version != 3)) return DISK_UNSUPPORTED_IMAGE;
  out->container = IMAGE_QCOW2;
  out->encrypted = LoadBe(h + 0x20, 4) != 0; // crypt_method
  // An external data file (incompatible feature bit 2) may be anything.
  if (version == 3 && n >= 0x50 && (LoadBe(h + 0x48, 8) & 4)) out->read_only = true;
  return DISK_OK;
}

bool HdiPlausible(const uint8_t *h, uint64_t file_size) {
  uint32_t header = LoadLe32(h + 8), data = LoadLe32(h + 0xC), sector = LoadLe32(h + 0x10);
  uint32_t spt = LoadLe32(h + 0x14), heads = LoadLe32(h + 0x18), cyl = LoadLe32(h + 0x1C);
  bool sector_ok = sector == 512 || OtherSectorSize(sector);
  uint64_t geometry = 0;
  return LoadLe32(h) == 0 && header >= HDI_HEADER_FIELDS && header % 256 == 0 && sector_ok &&
         spt >= 1 && spt <= 255 && heads >= 1 && heads <= 255 && cyl >= 1 &&
         GeometryBytes(cyl, heads, spt, sector, &geometry) && geometry == data &&
         (uint64_t)header + data == file_size;
}

DiskError ParseHdi(const uint8_t *h, size_t n, uint64_t file_size, ImageLayout *out) {
  if (n < HDI_HEADER_FIELDS) return DISK_BAD_CONTAINER;
  out->container = IMAGE_HDI;
  out->data_offset = LoadLe32(h + 8);
  out->data_bytes = LoadLe32(h + 0xC);
  uint32_t sector = LoadLe32(h + 0x10);
  if (sector != SECTOR_SIZE)
    return OtherSectorSize(sector) ? DISK_SECTOR_UNSUPPORTED : DISK_BAD_CONTAINER;
  out->sectors_per_track = LoadLe32(h + 0x14);
  out->heads = LoadLe32(h + 0x18);
  out->cylinders = LoadLe32(h + 0x1C);
  // The geometry describes the data exactly, and the data fits the file.
  uint64_t geometry = 0;
  if (out->data_offset < HDI_HEADER_FIELDS || !Fits(out->data_offset, out->data_bytes, file_size) ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, sector, &geometry) ||
      geometry != out->data_bytes)
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

DiskError ParseNhd(const uint8_t *h, size_t n, uint64_t file_size, ImageLayout *out) {
  if (n < NHD_HEADER_FIELDS) return DISK_BAD_CONTAINER;
  out->container = IMAGE_NHD;
  out->data_offset = LoadLe32(h + 0x110);
  out->cylinders = LoadLe32(h + 0x114);
  out->heads = LoadLe16(h + 0x118);
  out->sectors_per_track = LoadLe16(h + 0x11A);
  uint32_t sector = LoadLe16(h + 0x11C);
  if (sector != SECTOR_SIZE)
    return OtherSectorSize(sector) ? DISK_SECTOR_UNSUPPORTED : DISK_BAD_CONTAINER;
  // The geometry gives the data size; it must fit the file after the header.
  if (out->data_offset < NHD_HEADER_FIELDS ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, sector,
                     &out->data_bytes) ||
      !Fits(out->data_offset, out->data_bytes, file_size))
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

DiskError ParseVhd(const uint8_t *f, uint64_t file_size, ImageLayout *out) {
  uint32_t sum = 0;
  for (int i = 0; i < VHD_FOOTER_BYTES; i++)
    if (i < 0x40 || i >= 0x44) sum += f[i];
  if ((uint32_t)~sum != (uint32_t)LoadBe(f + 0x40, 4)) return DISK_BAD_CONTAINER;
  uint64_t type = LoadBe(f + 0x3C, 4);
  if (type == 3) {
    out->container = IMAGE_VPC;
    return DISK_OK;
  }
  if (type != 2) return DISK_UNSUPPORTED_IMAGE; // differencing
  out->container = IMAGE_VHD;
  out->data_offset = 0;
  out->data_bytes = file_size - VHD_FOOTER_BYTES;
  out->cylinders = (uint32_t)LoadBe(f + 0x38, 2);
  out->heads = f[0x3A];
  out->sectors_per_track = f[0x3B];
  // A fixed disk is its current size followed by the footer; the CHS
  // geometry rounds it down.
  uint64_t geometry = 0;
  if (LoadBe(f + 0x30, 8) != out->data_bytes ||
      !GeometryBytes(out->cylinders, out->heads, out->sectors_per_track, SECTOR_SIZE, &geometry) ||
      geometry > out->data_bytes)
    return DISK_BAD_CONTAINER;
  return DISK_OK;
}

} // namespace

DiskError ProbeImage(const char *name, const uint8_t *head, size_t head_bytes, const uint8_t *tail,
                     uint64_t file_size, ImageLayout *layout) {
  memset(layout, 0, sizeof *layout);
  layout->container = IMAGE_RAW;
  layout->data_bytes = file_size;
  if (head_bytes >= 16 && memcmp(head, "T98HDDIMAGE.R0\0", 16) == 0)
    return ParseNhd(head, head_bytes, file_size, layout);
  if (EndsWithHdi(name) || (head_bytes >= HDI_HEADER_FIELDS && HdiPlausible(head, file_size)))
    return ParseHdi(head, head_bytes, file_size, layout);
  if (tail && memcmp(tail, "conectix", 8) == 0) return ParseVhd(tail, file_size, layout);
  if (head_bytes >= 4 && memcmp(head, "QFI\xfb", 4) == 0)
    return ParseQcow2(head, head_bytes, layout);
  if (head_bytes >= 4 && memcmp(head, "KDMV", 4) == 0)
    return ParseVmdkSparse(head, head_bytes, file_size, layout);
  if (IsVmdkDescriptor(head, head_bytes)) {
    DiskError e = VmdkKind(
        DescriptorValue(reinterpret_cast<const char *>(head), head_bytes, "createType"), layout);
    if (e == DISK_OK) CheckExtents(head, head_bytes, layout);
    return e;
  }
  if (head_bytes >= 8 && memcmp(head, "vhdxfile", 8) == 0) {
    layout->container = IMAGE_VHDX;
    return DISK_OK;
  }
  if (head_bytes >= 0x44 && LoadLe32(head + 0x40) == 0xBEDA107Fu) {
    layout->container = IMAGE_VDI;
    return DISK_OK;
  }
  // A VHD whose footer copy heads the file but whose last sector is not one.
  if (head_bytes >= 8 && memcmp(head, "conectix", 8) == 0) return DISK_UNSUPPORTED_IMAGE;
  return DISK_OK;
}

std::vector<std::string> VmdkExtentNames(const uint8_t *head, size_t head_bytes) {
  const char *text = nullptr;
  size_t bytes = 0;
  if (!DescriptorText(head, head_bytes, &text, &bytes)) return {};
  return ExtentNames(text, bytes);
}

bool IsQemuImage(ImageContainer container) {
  return QemuFormatName(container) != nullptr;
}

const char *QemuFormatName(ImageContainer container) {
  switch (container) {
  case IMAGE_QCOW2:
    return "qcow2";
  case IMAGE_VMDK:
    return "vmdk";
  case IMAGE_VDI:
    return "vdi";
  case IMAGE_VHDX:
    return "vhdx";
  case IMAGE_VPC:
    return "vpc";
  default:
    return nullptr;
  }
}

const char *ImageContainerName(ImageContainer container) {
  switch (container) {
  case IMAGE_VHD:
    return "VHD";
  case IMAGE_HDI:
    return "HDI";
  case IMAGE_NHD:
    return "NHD";
  case IMAGE_QCOW2:
    return "qcow2";
  case IMAGE_VMDK:
    return "VMDK";
  case IMAGE_VDI:
    return "VDI";
  case IMAGE_VHDX:
    return "VHDX";
  case IMAGE_VPC:
    return "dynamic VHD";
  default:
    return "raw";
  }
}
