#include "disk/bootrecord.h"

#include <cstring>

uint16_t LoadLe16(const uint8_t *p) {
  return (uint16_t)(p[0] | (p[1] << 8));
}

uint32_t LoadLe32(const uint8_t *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void StoreLe32(uint8_t *p, uint32_t value) {
  p[0] = (uint8_t)value;
  p[1] = (uint8_t)(value >> 8);
  p[2] = (uint8_t)(value >> 16);
  p[3] = (uint8_t)(value >> 24);
}

// Steps after the boot-mark test: where S stands, and the PC-9821 marks
// when it stands at both places.
static BootFormat ScoreBootArea(const uint8_t *area, uint32_t signature) {
  int score = 0;
  if (LoadLe32(area + PC98_SIGNATURE_OFFSET) == signature) score = 2;
  if (LoadLe32(area + AT_SIGNATURE_OFFSET) == signature) score += 1;
  switch (score) {
  case 1:
    return AtCompatible;
  case 2:
    return Pc9821;
  case 3: {
    bool pc98_mark = LoadLe16(area + PC98_BOOT_MARK_OFFSET) == BOOT_MARK;
    bool ipl1 = memcmp(area + IPL_MARKER_OFFSET, "IPL1", 4) == 0;
    if (pc98_mark && ipl1) return Pc9821;
    if (!pc98_mark && !ipl1) return AtCompatible;
    return Unknown;
  }
  default:
    return Unknown;
  }
}

static bool HasBootMark(const uint8_t *area) {
  return LoadLe16(area + BOOT_MARK_OFFSET) == BOOT_MARK;
}

BootFormat ClassifyBootArea(const uint8_t *area, uint32_t signature) {
  if (!HasBootMark(area)) return NoIpl;
  return ScoreBootArea(area, signature);
}

BootFormat DetectBootFormat(DiskHandle handle) {
  DiskLayoutInfo layout;
  static_assert(BOOT_AREA_BUFFER >= IPL_AREA_BYTES, "boot area fits");
  uint8_t area[BOOT_AREA_BUFFER];
  if (!GetDiskLayout(handle, &layout)) return Unknown;
  if (!ReadSectors(handle, IPL_AREA_SECTORS, 0, area)) return Unknown;
  return ClassifyBootArea(area, layout.signature);
}

DiskReport ReadDiskReport(DiskHandle handle) {
  DiskReport report;
  if (!GetDiskGeometry(handle, &report.geometry)) {
    report.failed = REPORT_NO_GEOMETRY;
    report.reason = DiskHandleError(handle);
  } else if (!GetDiskLayout(handle, &report.layout)) {
    report.failed = REPORT_NO_LAYOUT;
    report.reason = DiskHandleError(handle);
    if (report.reason == DISK_OK) report.reason = DISK_NO_LAYOUT;
  } else {
    report.format = DetectBootFormat(handle);
  }
  return report;
}

int SignatureOffset(BootFormat format) {
  return format == AtCompatible ? AT_SIGNATURE_OFFSET
         : format == Pc9821     ? PC98_SIGNATURE_OFFSET
                                : -1;
}

// Why an operation on handle failed; fallback when the backend cannot say.
static DiskError Why(DiskHandle handle, DiskError fallback) {
  DiskError error = DiskHandleError(handle);
  return error == DISK_OK ? fallback : error;
}

DiskError PlanRewrite(DiskHandle reader, uint32_t expected_old, uint32_t new_signature,
                      RewritePlan *plan) {
  DiskLayoutInfo layout;
  if (!GetDiskLayout(reader, &layout)) return Why(reader, DISK_NO_LAYOUT);
  plan->found = layout.signature;
  if (!ReadSectors(reader, IPL_AREA_SECTORS, 0, plan->area)) return Why(reader, DISK_UNKNOWN);
  // Every test below runs on the copy just read; the disk is not read again.
  if (layout.signature != expected_old) return DISK_NOT_EXPECTED;
  if (!HasBootMark(plan->area)) return DISK_NO_BOOT_MARK;
  plan->format = ScoreBootArea(plan->area, layout.signature);
  int offset = SignatureOffset(plan->format);
  if (offset < 0) return DISK_FORMAT_UNKNOWN;
  plan->sectors = plan->format == AtCompatible ? 1 : IPL_AREA_SECTORS;
  plan->new_signature = new_signature;
  StoreLe32(plan->area + offset, new_signature);
  return DISK_OK;
}

DiskError ApplyRewrite(DiskHandle writer, const RewritePlan &plan) {
  return WriteSectors(writer, plan.sectors, 0, plan.area) ? DISK_OK : Why(writer, DISK_UNKNOWN);
}

DiskError RewriteNtSignature(DiskSet *disks, int disk, uint32_t expected_old,
                             uint32_t new_signature, uint32_t *found) {
  DiskError error = DISK_UNKNOWN;
  DiskHandle reader = OpenPhysicalDisk(disks, disk, 'R', &error);
  if (reader == INVALID_DISK_HANDLE) return error;
  RewritePlan plan;
  if (found) plan.found = *found;
  error = PlanRewrite(reader, expected_old, new_signature, &plan);
  CloseDisk(reader);
  if (found) *found = plan.found;
  if (error != DISK_OK) return error;
  DiskHandle writer = OpenPhysicalDisk(disks, disk, 'W', &error);
  if (writer == INVALID_DISK_HANDLE) return error;
  error = ApplyRewrite(writer, plan);
  CloseDisk(writer);
  return error;
}

BackupDifference CompareBackup(const uint8_t *disk_area, const uint8_t *backup, BootFormat format) {
  BackupDifference d = {-1, false};
  int offset = SignatureOffset(format);
  if (offset < 0) return d;
  // The partition table: the MBR's four entries and its boot mark, or the
  // PC-9821 table sector.
  int table_begin = format == AtCompatible ? 0x1BE : SECTOR_SIZE;
  int table_end = format == AtCompatible ? 0x200 : 2 * SECTOR_SIZE;
  for (int i = 0; i < IPL_AREA_BYTES; i++) {
    if (i >= offset && i < offset + 4) continue;
    if (disk_area[i] == backup[i]) continue;
    if (d.first_offset < 0) d.first_offset = i;
    if (i >= table_begin && i < table_end) d.table_differs = true;
  }
  return d;
}
