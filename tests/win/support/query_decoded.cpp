// Device queries answered from the disk's own bytes, for test builds under
// Wine, where every device query on a mapped image fails. The layout comes
// from the portable on-disk decoder over the handle's sectors, the geometry
// is made up from the size (heads and sectors probed on a PC-9821 disk), and
// the extents query fails unless KORMELDE_TEST_EXTENT_DISK names a disk.
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>

#include "disk/layout.h"
#include "win32/query.h"

namespace {

int ReadOneSector(void *context, uint64_t sector, uint8_t *buffer) {
  HANDLE handle = static_cast<HANDLE>(context);
  uint64_t offset = sector * SECTOR_SIZE;
  LONG high = (LONG)(offset >> 32);
  DWORD low = SetFilePointer(handle, (LONG)(DWORD)offset, &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
  DWORD done = 0;
  return ReadFile(handle, buffer, SECTOR_SIZE, &done, NULL) && done == SECTOR_SIZE;
}

// Sectors behind the handle: the image file's size.
bool DiskSectors(HANDLE handle, uint64_t *sectors) {
  DWORD high = 0;
  DWORD low = GetFileSize(handle, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *sectors = (((uint64_t)high << 32) | low) / SECTOR_SIZE;
  return true;
}

// Heads and sectors per track the layout and geometry replies agree on.
bool DiskShape(HANDLE handle, uint64_t *sectors, uint32_t *heads, uint32_t *per_track) {
  uint8_t sector0[SECTOR_SIZE], sector1[SECTOR_SIZE];
  if (!DiskSectors(handle, sectors) || !ReadOneSector(handle, 0, sector0)) return false;
  *heads = 255;
  *per_track = 63;
  if (ClassifySectorZero(sector0) == LAYOUT_PC98) {
    if (!ReadOneSector(handle, 1, sector1)) return false;
    ProbePc98Geometry(ReadOneSector, handle, *sectors, sector1, heads, per_track);
  }
  return true;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL AnswerLayout(HANDLE handle, uint8_t *out, DWORD size, DWORD *returned) {
  uint64_t sectors;
  uint32_t heads, per_track;
  if (!DiskShape(handle, &sectors, &heads, &per_track)) return Fail(ERROR_NOT_READY);
  uint32_t done = 0;
  if (!BuildDriveLayoutReply(ReadOneSector, handle, sectors, heads, per_track, out, size, &done))
    return Fail(ERROR_INVALID_FUNCTION);
  *returned = done;
  return TRUE;
}

BOOL AnswerGeometry(HANDLE handle, uint8_t *out, DWORD size, DWORD *returned) {
  uint64_t sectors;
  uint32_t heads, per_track;
  if (size < sizeof(DISK_GEOMETRY)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!DiskShape(handle, &sectors, &heads, &per_track)) return Fail(ERROR_NOT_READY);
  DiskGeometry geometry;
  MakeUpGeometry(sectors, &geometry);
  geometry.TracksPerCylinder = heads;
  geometry.SectorsPerTrack = per_track;
  geometry.Cylinders = (int64_t)(sectors / ((uint64_t)heads * per_track));
  memcpy(out, &geometry, sizeof geometry);
  *returned = sizeof(DISK_GEOMETRY);
  return TRUE;
}

BOOL AnswerExtents(uint8_t *out, DWORD size, DWORD *returned) {
  char text[16];
  DWORD length = GetEnvironmentVariableA("KORMELDE_TEST_EXTENT_DISK", text, sizeof text);
  if (length == 0 || length >= sizeof text) return Fail(ERROR_NOT_SUPPORTED);
  VOLUME_DISK_EXTENTS reply = {};
  if (size < sizeof reply) return Fail(ERROR_MORE_DATA);
  reply.NumberOfDiskExtents = 1;
  reply.Extents[0].DiskNumber = (DWORD)strtoul(text, nullptr, 10);
  memcpy(out, &reply, sizeof reply);
  *returned = sizeof reply;
  return TRUE;
}

} // namespace

int DiskQuery(DiskHandle handle, unsigned long code, void *out, unsigned long size,
              unsigned long *returned) {
  DWORD done = 0;
  BOOL ok;
  uint8_t *bytes = static_cast<uint8_t *>(out);
  if (handle == INVALID_HANDLE_VALUE)
    ok = Fail(ERROR_INVALID_HANDLE);
  else if (code == IOCTL_DISK_GET_DRIVE_LAYOUT)
    ok = AnswerLayout(handle, bytes, size, &done);
  else if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY)
    ok = AnswerGeometry(handle, bytes, size, &done);
  else if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS)
    ok = AnswerExtents(bytes, size, &done);
  else
    ok = Fail(ERROR_INVALID_FUNCTION);
  *returned = done;
  return ok ? 1 : 0;
}
