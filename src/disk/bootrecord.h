// Boot-record formats and the NT signature: where it lives, and rewriting it.
#pragma once

#include <cstdint>

#include "disk/disk.h"

enum BootFormat { NoIpl = -1, Unknown = 0, AtCompatible = 1, Pc9821 = 2 };

enum {
  IPL_AREA_SECTORS = 32,
  IPL_AREA_BYTES = IPL_AREA_SECTORS * SECTOR_SIZE,
  BOOT_AREA_BUFFER = 64 * 1024,
  IPL_MARKER_OFFSET = 0x004,
  PC98_BOOT_MARK_OFFSET = 0x0FE,
  AT_SIGNATURE_OFFSET = 0x1B8,
  BOOT_MARK_OFFSET = 0x1FE,
  PC98_SIGNATURE_OFFSET = 0x2000,
  BOOT_MARK = 0xAA55,
};

uint16_t LoadLe16(const uint8_t *p);
uint32_t LoadLe32(const uint8_t *p);
void StoreLe32(uint8_t *p, uint32_t value);

// Classifies a boot area (at least IPL_AREA_BYTES) against the signature S
// the drive layout reports.
BootFormat ClassifyBootArea(const uint8_t *area, uint32_t signature);

// Layout query then one 32-sector read on a caller's read handle.
BootFormat DetectBootFormat(DiskHandle handle);

// Where the signature lives: 0x1B8, 0x2000, or -1 for other formats.
int SignatureOffset(BootFormat format);

// The checks of a rewrite without the write: reads the layout and the boot
// area on a read handle of its own, checks them, and patches the new
// signature into area (BOOT_AREA_BUFFER bytes); *sectors is what a rewrite
// writes back from sector 0. Reasons as RewriteNtSignature's refusals;
// *found (when given) receives the signature the re-read found. Never opens
// a write handle.
DiskError PrepareRewrite(DiskSet *disks, int disk, uint32_t expected_old, uint32_t new_signature,
                         uint8_t *area, int *sectors, uint32_t *found = nullptr);

// Re-reads and re-checks the disk, then writes the new signature at the
// place the classification picked. DISK_OK when written; otherwise why not:
// DISK_NOT_EXPECTED, DISK_NO_BOOT_MARK and DISK_FORMAT_UNKNOWN are refusals
// before any write handle is opened, the rest the backend's reasons.
// *found (when given) receives the signature the re-read found.
DiskError RewriteNtSignature(DiskSet *disks, int disk, uint32_t expected_old,
                             uint32_t new_signature, uint32_t *found = nullptr);

// How a saved boot area differs from a disk's, the four signature bytes of
// format left aside: the first differing offset (-1: none) and whether the
// partition table is among the differences.
struct BackupDifference {
  int first_offset;
  bool table_differs;
};
BackupDifference CompareBackup(const uint8_t *disk_area, const uint8_t *backup, BootFormat format);
