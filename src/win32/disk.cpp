// Disk operations on Win32 handles: \\.\PHYSICALDRIVEn for disks, \\.\X:
// for volumes. Kernel32 calls available since Windows NT 4.0 only.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "disk/disk.h"
#include "disk/layout.h"
#include "win32/query.h"

// The portable names and decoders stand for the Win32 types and replies.
static_assert(std::is_same<DiskHandle, HANDLE>::value, "a disk handle is a HANDLE");
static_assert((intptr_t)-1 == (LONG_PTR)-1, "INVALID_DISK_HANDLE is INVALID_HANDLE_VALUE");
static_assert(sizeof(DiskGeometry) == sizeof(DISK_GEOMETRY) &&
                  sizeof(DISK_GEOMETRY) == GEOMETRY_SIZE,
              "DiskGeometry is DISK_GEOMETRY");
static_assert(offsetof(DiskGeometry, Cylinders) == offsetof(DISK_GEOMETRY, Cylinders) &&
                  offsetof(DiskGeometry, MediaType) == offsetof(DISK_GEOMETRY, MediaType) &&
                  offsetof(DiskGeometry, TracksPerCylinder) ==
                      offsetof(DISK_GEOMETRY, TracksPerCylinder) &&
                  offsetof(DiskGeometry, SectorsPerTrack) ==
                      offsetof(DISK_GEOMETRY, SectorsPerTrack) &&
                  offsetof(DiskGeometry, BytesPerSector) == offsetof(DISK_GEOMETRY, BytesPerSector),
              "DiskGeometry fields at DISK_GEOMETRY offsets");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry) == LAYOUT_HEADER_SIZE &&
                  sizeof(PARTITION_INFORMATION) == LAYOUT_ENTRY_SIZE &&
                  offsetof(PARTITION_INFORMATION, PartitionLength) == 8,
              "DRIVE_LAYOUT_INFORMATION offsets");
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == EXTENT_HEADER_SIZE &&
                  sizeof(DISK_EXTENT) == EXTENT_SIZE,
              "VOLUME_DISK_EXTENTS offsets");
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY == 0x70000 && IOCTL_DISK_GET_DRIVE_LAYOUT == 0x7400C &&
                  IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS == 0x560000,
              "control codes");

enum { DISK_PATH_SIZE = 32, VOLUME_PATH_SIZE = 1024 };

DiskHandle OpenPhysicalDisk(DiskSet *, int disk, char mode, DiskError *error) {
  if (error) *error = DISK_UNKNOWN;
  char path[DISK_PATH_SIZE];
  // "\\.\PHYSICALDRIVE" is 17 characters, an int at most 11: always fits.
  snprintf(path, sizeof path, "\\\\.\\PHYSICALDRIVE%d", disk);
  DWORD access;
  if (mode == 'R' || mode == 'r')
    access = GENERIC_READ;
  else if (mode == 'W' || mode == 'w')
    access = GENERIC_WRITE;
  else
    return INVALID_HANDLE_VALUE;
  return CreateFileA(path, access, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

// Windows' error codes are not passed on.
DiskError DiskHandleError(DiskHandle) {
  return DISK_UNKNOWN;
}

void CloseDisk(DiskHandle handle) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

int SeekSector(DiskHandle handle, uint64_t sector) {
  // Past this the byte offset would wrap or turn negative.
  if (sector > (uint64_t)INT64_MAX / SECTOR_SIZE) return 0;
  uint64_t offset = sector * g_sector_size;
  if (handle == INVALID_HANDLE_VALUE) return 0;
  LONG high = (LONG)(offset >> 32);
  DWORD low = SetFilePointer(handle, (LONG)(DWORD)offset, &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
  return 1;
}

// Bytes of count sectors, or 0 for a count no 32-bit transfer can carry
// (a negative count would otherwise become a huge length).
static DWORD TransferBytes(int count) {
  if (count <= 0 || (uint32_t)count > UINT32_MAX / SECTOR_SIZE) return 0;
  return (DWORD)count * g_sector_size;
}

// Positions the handle for a transfer of count sectors at first.
static bool Prepare(DiskHandle handle, int count, uint32_t first, DWORD *bytes) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  *bytes = TransferBytes(count);
  if (*bytes == 0 && count != 0) return false;
  return SeekSector(handle, first) != 0;
}

int ReadSectors(DiskHandle handle, int count, uint32_t first, void *buffer) {
  DWORD bytes = 0, done = 0;
  if (!Prepare(handle, count, first, &bytes)) return 0;
  return ReadFile(handle, buffer, bytes, &done, NULL) && done == bytes ? 1 : 0;
}

int WriteSectors(DiskHandle handle, int count, uint32_t first, const void *buffer) {
  DWORD bytes = 0, done = 0;
  if (!Prepare(handle, count, first, &bytes)) return 0;
  return WriteFile(handle, buffer, bytes, &done, NULL) && done == bytes ? 1 : 0;
}

int GetDiskGeometry(DiskHandle handle, DiskGeometry *geometry) {
  uint8_t reply[QUERY_BUFFER_SIZE];
  unsigned long returned = 0;
  if (!DiskQuery(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, reply, sizeof reply, &returned)) return 0;
  // A reply without a whole DISK_GEOMETRY would copy bytes nobody wrote.
  if (returned < GEOMETRY_SIZE) return 0;
  return DecodeDiskGeometry(reply, returned, geometry);
}

int GetDiskLayout(DiskHandle handle, DiskLayoutInfo *layout) {
  memset(layout, 0, sizeof *layout);
  uint8_t reply[QUERY_BUFFER_SIZE];
  unsigned long returned = 0;
  if (!DiskQuery(handle, IOCTL_DISK_GET_DRIVE_LAYOUT, reply, sizeof reply, &returned)) return 0;
  if (returned > sizeof reply) return 0;
  return DecodeDriveLayout(reply, returned, layout);
}

void TestAccess(DiskHandle handle, SweepProgress progress, void *context) {
  // 256 KiB, of which each read fills 64 KiB; static to spare the stack.
  static uint8_t scratch[4 * TEST_ACCESS_SECTORS * SECTOR_SIZE];
  if (progress) progress(context, 0, TEST_ACCESS_READS);
  for (int i = 0; i < TEST_ACCESS_READS; i++) {
    ReadSectors(handle, TEST_ACCESS_SECTORS, (uint32_t)(TEST_ACCESS_READS - i) * 200, scratch);
    if (progress) progress(context, i + 1, TEST_ACCESS_READS);
  }
}

void *GetVolumeExtents(DiskHandle volume, void *buffer, unsigned long size) {
  memset(buffer, 0, size);
  unsigned long returned = 0;
  if (!DiskQuery(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer, size, &returned))
    return nullptr;
  return returned <= size ? buffer : nullptr;
}

int DriveLetterToDiskNumber(char letter) {
  char path[VOLUME_PATH_SIZE] = "\\\\.\\C:";
  path[4] = letter;
  HANDLE volume = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
  if (volume == INVALID_HANDLE_VALUE) return VOLUME_OPEN_FAILED;
  uint8_t extents[EXTENTS_BUFFER_SIZE];
  void *reply = GetVolumeExtents(volume, extents, sizeof extents);
  CloseHandle(volume);
  // A volume without extents lies on no disk; reading its zero-filled first
  // extent would name disk 0 instead (Wine answers so for every volume).
  DWORD listed = 0;
  if (reply) memcpy(&listed, extents + offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents), 4);
  if (listed == 0) return EXTENTS_QUERY_FAILED;
  return DecodeFirstExtentDisk(reply);
}
