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

// What Get reads of a disk on one read handle: geometry, layout, format.
enum ReportFailure { REPORT_READ = 0, REPORT_NO_GEOMETRY, REPORT_NO_LAYOUT };
struct DiskReport {
  ReportFailure failed = REPORT_READ;
  DiskError reason = DISK_OK; // the backend's, when a query failed
  DiskGeometry geometry = {};
  DiskLayoutInfo layout = {};
  BootFormat format = Unknown;
};
// Geometry, then layout, then DetectBootFormat, stopping at the first
// query that fails.
DiskReport ReadDiskReport(DiskHandle handle);

// Where the signature lives: 0x1B8, 0x2000, or -1 for other formats.
int SignatureOffset(BootFormat format);

// A rewrite, checked and ready: what the disk held when it was read and
// what goes back. Filled by PlanRewrite, written by ApplyRewrite.
struct RewritePlan {
  uint32_t found = 0; // the signature the disk reported
  uint32_t new_signature = 0;
  BootFormat format = Unknown;
  int sectors = 0;              // written back from sector 0: 1 (AT) or 32 (PC-9821)
  uint8_t area[IPL_AREA_BYTES]; // the boot area read, the new signature in place
};

// Every check of a rewrite, on the layout and the boot area read through
// reader in this call: the signature is still expected_old, the boot mark
// is there, the format is settled. DISK_OK with *plan ready, or why not
// (DISK_NOT_EXPECTED, DISK_NO_BOOT_MARK, DISK_FORMAT_UNKNOWN, or the
// backend's reason); plan->found is set whenever the layout was read.
DiskError PlanRewrite(DiskHandle reader, uint32_t expected_old, uint32_t new_signature,
                      RewritePlan *plan);
// Writes the plan's sectors from sector 0 through writer.
DiskError ApplyRewrite(DiskHandle writer, const RewritePlan &plan);

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
