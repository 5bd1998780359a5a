// Where a Windows installation names its disk by signature: the byte forms
// of boot-configuration device elements and MountedDevices values, the
// checks on a hive's base block, and the partitions of a drive layout.
// Pure functions over bytes; the reading is the platform's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/partuuid.h"

// The partition starting at byte offset start, or nullptr.
const DiskPartition *PartitionAt(const std::vector<DiskPartition> &partitions, uint64_t start);

// A hive's base block (the first 4096 bytes of the file).
enum HiveState {
  HIVE_CLEAN = 0,
  HIVE_NOT_A_HIVE,   // no "regf", or shorter than a base block
  HIVE_DIRTY,        // sequence numbers differ: changes still in its logs
  HIVE_BAD_CHECKSUM, // the base block's checksum does not match
};
HiveState CheckHiveBaseBlock(const uint8_t *base, size_t size);

// What a boot-configuration device element holds.
enum BcdDeviceForm {
  BCD_OTHER = 0, // not an MBR partition (GPT, boot device, ramdisk file, ...)
  BCD_PARTITION, // the plain 88-byte partition form of an MBR disk
  BCD_NESTED,    // an MBR partition descriptor inside a larger element
                 // (ramdisk, VHD, linked object): offsets not confirmed
  BCD_MALFORMED, // its size field is not the value's length minus 16
};
struct BcdDevice {
  BcdDeviceForm form = BCD_OTHER;
  uint64_t partition_start = 0;
  uint32_t signature = 0;
  size_t signature_at = 0; // offset of the signature in the element's data
};
// Reads an element's data. For BCD_NESTED the first embedded MBR
// partition descriptor that names signature is reported.
BcdDevice ParseBcdDevice(const uint8_t *data, size_t size, uint32_t signature);
// Format 1 (device) in the element type's bits 24-27.
inline bool IsDeviceElement(uint32_t type) {
  return ((type >> 24) & 0xF) == 1;
}
// "device", "osdevice", ... or "0x%08x" for types without a name here.
std::string BcdElementName(uint32_t type);

// A 12-byte MountedDevices value: signature, then the partition's offset.
bool ParseMountedDevice(const uint8_t *data, size_t size, uint32_t *signature, uint64_t *start);

// Where a reference lives.
enum WindowsStoreKind { STORE_BCD = 0, STORE_MOUNTED_DEVICES };

// One place that names a disk signature.
struct WindowsReference {
  WindowsStoreKind store = STORE_BCD;
  unsigned store_partition = 0; // the partition holding the store (0: EFI via mtools)
  std::string store_path;       // "\Boot\BCD", "\Windows\System32\config\SYSTEM"
  std::string object;           // BCD object GUID, or the MountedDevices value name
  std::string description;      // BCD object's description; drive letter or volume name
  uint32_t element = 0;         // BCD element type
  BcdDeviceForm form = BCD_PARTITION;
  uint32_t signature = 0;
  uint64_t partition_start = 0;
  unsigned partition = 0; // the partition that offset names on this disk (0: none)
  bool located = false;   // disk_offset is the 4-byte field's place on the disk
  uint64_t disk_offset = 0;
};

// "C:" for "\DosDevices\C:", the value name otherwise.
std::string MountedDeviceName(const std::string &value_name);
// Whether the reference may be changed in place: a plain form, located, its
// offset a partition of the disk.
bool Updatable(const WindowsReference &reference);

// Four bytes to change on the disk.
struct BytePatch {
  uint64_t offset;
  uint8_t old_bytes[4];
  uint8_t new_bytes[4];
  std::string what;
};
// One patch per updatable reference that holds old_signature.
std::vector<BytePatch> PlanReferencePatches(const std::vector<WindowsReference> &references,
                                            uint32_t old_signature, uint32_t new_signature);
// A line for a reference: "\Boot\BCD {guid} Windows Boot Manager device →
// partition 1" without the translation, for logs and the backup.
std::string DescribeReference(const WindowsReference &reference);
