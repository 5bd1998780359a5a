#include "app/winrefs.h"

#include <cstdio>
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/layout.h"

namespace {

enum {
  HIVE_BASE_BLOCK = 4096,
  HIVE_CHECKSUM_AT = 0x1FC,
  BCD_HEADER = 16,         // linked object GUID
  BCD_PARTITION_SIZE = 88, // the plain form
  DESCRIPTOR_SIZE = 0x48,  // device type to the end of the disk field
  DEVICE_PARTITION = 6,
  STYLE_MBR = 1,
  MOUNTED_DEVICE_SIZE = 12,
};

uint64_t LoadLe64(const uint8_t *p) {
  return LoadLe32(p) | (uint64_t)LoadLe32(p + 4) << 32;
}

bool AllZero(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i]) return false;
  return true;
}

// A partition descriptor of an MBR disk at d (device type onwards).
bool MbrDescriptor(const uint8_t *d) {
  return LoadLe32(d) == DEVICE_PARTITION && LoadLe32(d + 8) == DESCRIPTOR_SIZE &&
         LoadLe32(d + 0x24) == STYLE_MBR && AllZero(d + 0x18, 8) && AllZero(d + 0x2C, 12);
}

} // namespace

const DiskPartition *PartitionAt(const std::vector<DiskPartition> &partitions, uint64_t start) {
  for (const DiskPartition &p : partitions)
    if (p.start == start && !p.container) return &p;
  return nullptr;
}

HiveState CheckHiveBaseBlock(const uint8_t *base, size_t size) {
  if (size < HIVE_BASE_BLOCK || memcmp(base, "regf", 4) != 0) return HIVE_NOT_A_HIVE;
  if (LoadLe32(base + 4) != LoadLe32(base + 8)) return HIVE_DIRTY;
  uint32_t sum = 0;
  for (int i = 0; i < HIVE_CHECKSUM_AT; i += 4)
    sum ^= LoadLe32(base + i);
  if (sum == 0) sum = 1;
  if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
  return sum == LoadLe32(base + HIVE_CHECKSUM_AT) ? HIVE_CLEAN : HIVE_BAD_CHECKSUM;
}

BcdDevice ParseBcdDevice(const uint8_t *data, size_t size, uint32_t signature) {
  BcdDevice device;
  if (size < BCD_HEADER + 12) return device;
  if (LoadLe32(data + BCD_HEADER + 8) != size - BCD_HEADER) {
    device.form = BCD_MALFORMED;
    return device;
  }
  if (size == BCD_PARTITION_SIZE && AllZero(data, BCD_HEADER) && MbrDescriptor(data + BCD_HEADER)) {
    device.form = BCD_PARTITION;
    device.partition_start = LoadLe64(data + 0x20);
    device.signature = LoadLe32(data + 0x38);
    device.signature_at = 0x38;
    return device;
  }
  // A descriptor further in: an element that wraps a partition (ramdisk
  // image, VHD file) or a linked object's.
  for (size_t at = BCD_HEADER; at + DESCRIPTOR_SIZE <= size; at += 4) {
    const uint8_t *d = data + at;
    if (MbrDescriptor(d) && LoadLe32(d + 0x28) == signature) {
      device.form = BCD_NESTED;
      device.partition_start = LoadLe64(d + 0x10);
      device.signature = signature;
      device.signature_at = at + 0x28;
      return device;
    }
  }
  return device;
}

std::string BcdElementName(uint32_t type) {
  switch (type) {
  case 0x11000001:
    return "device";
  case 0x21000001:
    return "osdevice";
  default:
    break;
  }
  char text[16];
  snprintf(text, sizeof text, "0x%08x", (unsigned)type);
  return text;
}

bool ParseMountedDevice(const uint8_t *data, size_t size, uint32_t *signature, uint64_t *start) {
  if (size != MOUNTED_DEVICE_SIZE) return false;
  *signature = LoadLe32(data);
  *start = LoadLe64(data + 4);
  return true;
}

std::string MountedDeviceName(const std::string &value_name) {
  const char prefix[] = "\\DosDevices\\";
  if (value_name.size() == sizeof prefix + 1 &&
      value_name.compare(0, sizeof prefix - 1, prefix) == 0 && value_name.back() == ':')
    return value_name.substr(sizeof prefix - 1);
  return value_name;
}

bool Updatable(const WindowsReference &r) {
  bool plain = r.store == STORE_MOUNTED_DEVICES || r.form == BCD_PARTITION;
  return plain && r.located && r.partition != 0;
}

std::vector<BytePatch> PlanReferencePatches(const std::vector<WindowsReference> &references,
                                            uint32_t old_signature, uint32_t new_signature) {
  std::vector<BytePatch> patches;
  for (const WindowsReference &r : references) {
    if (!Updatable(r) || r.signature != old_signature) continue;
    BytePatch patch;
    patch.offset = r.disk_offset;
    StoreLe32(patch.old_bytes, old_signature);
    StoreLe32(patch.new_bytes, new_signature);
    patch.what = DescribeReference(r);
    patches.push_back(patch);
  }
  return patches;
}

std::string DescribeReference(const WindowsReference &r) {
  std::string text = r.store_path + " " + r.object;
  if (r.store == STORE_BCD) {
    if (!r.description.empty()) text += " \"" + r.description + "\"";
    text += " " + BcdElementName(r.element);
  } else if (r.description != r.object) {
    text += " (" + r.description + ")";
  }
  return text;
}
