// Disk operations: the one layer through which the program touches a disk.
// Implemented by win32/disk.cpp, posix/disk.cpp and the tests' fake disk.
// Sector numbers and counts are always 512-byte units. The layer shows
// nothing: it reports by result and reason code.
#pragma once

#include <cstdint>

typedef void *DiskHandle;
#define INVALID_DISK_HANDLE ((DiskHandle)(intptr_t)-1)

enum {
  SECTOR_SIZE = 512,
  MAX_PARTITIONS = 16,
  MAX_DISK_NUMBER = 50,
  QUERY_BUFFER_SIZE = 10000,
  EXTENTS_BUFFER_SIZE = 2048,
  TEST_ACCESS_READS = 200,
  TEST_ACCESS_SECTORS = 128,
  VOLUME_OPEN_FAILED = -1,
  EXTENTS_QUERY_FAILED = -2,
};

extern const uint32_t g_sector_size;

// Why a disk operation failed, where the backend knows: the caller turns it
// into a text. The Win32 backend knows none (DISK_UNKNOWN).
enum DiskError {
  DISK_OK = 0,
  DISK_NO_SUCH_DISK,       // no disk with that number, path missing
  DISK_NO_PERMISSION,      // EACCES/EPERM: run as root
  DISK_LOCKED,             // another writer holds the disk's lock
  DISK_NOT_A_DISK,         // directory, or not a block device / regular file
  DISK_TOO_SHORT,          // smaller than the 32-sector boot area
  DISK_BAD_CONTAINER,      // an image header or footer that lies
  DISK_BACKUP_FAILED,      // the backup file could not be written (exists, ...)
  DISK_IO_ERROR,           // any other failure
  DISK_UNSUPPORTED_IMAGE,  // a format not read here (through QEMU without libnbd)
  DISK_READ_ONLY,          // EROFS: a read-only device or file system
  DISK_CHANGED,            // the boot area changed between the check and the write
  DISK_ROOT_REFUSED,       // EACCES/EPERM although running as root
  DISK_OTHER_DISK,         // the name now leads to another disk than the one pinned
  DISK_NO_NUMBER_LEFT,     // every disk number is taken
  DISK_SECTOR_SIZE,        // the sector size asked for is not the disk's
  DISK_NO_LAYOUT,          // no drive layout to read (a GPT disk)
  DISK_NOT_EXPECTED,       // the signature is no longer the one the user was shown
  DISK_NO_BOOT_MARK,       // no 0xAA55 at 0x1FE
  DISK_FORMAT_UNKNOWN,     // the signature's place cannot be settled
  DISK_SECTOR_UNSUPPORTED, // an image recording sectors other than 512 bytes (256, ...)
  // A write failed (or read back wrong) and the old bytes were written back;
  // what the disk holds now, read back past the cache:
  DISK_WRITE_UNDONE,     // the old content: nothing changed
  DISK_WRITE_LEFT_NEW,   // the new content
  DISK_WRITE_TORN,       // neither: part old, part new
  DISK_WRITE_UNVERIFIED, // it cannot be read back
  DISK_UNKNOWN,          // failed, and the backend cannot tell why
  // Images opened through QEMU (qemu-nbd); QEMU's own words go with them.
  DISK_IMAGE_IN_USE,       // a VM or another QEMU program holds the image
  DISK_IMAGE_REFUSED,      // QEMU would not open it (backing file missing, ...)
  DISK_IMAGE_ENCRYPTED,    // encrypted: no key
  DISK_IMAGE_READ_ONLY,    // a format QEMU does not write (streamOptimized VMDK)
  DISK_IMAGE_CHECK_FAILED, // qemu-img check found errors
  DISK_NO_QEMU,            // qemu-nbd or qemu-img missing: install qemu-utils
};

// The disks of one run as the platform knows them: on Linux the registry
// of each disk's path, identity and boot area; Win32 needs none (nullptr).
struct DiskSet;

// Same layout as Win32 DISK_GEOMETRY (24 bytes).
struct DiskGeometry {
  int64_t Cylinders;
  uint32_t MediaType;
  uint32_t TracksPerCylinder;
  uint32_t SectorsPerTrack;
  uint32_t BytesPerSector;
};

// Digest of a drive layout: the NT signature and up to 16 entry lengths.
struct DiskLayoutInfo {
  uint32_t signature;
  double partition_length[MAX_PARTITIONS];
  int32_t partition_count;
};

// Mode 'R'/'r' opens for reading, 'W'/'w' for writing; anything else fails
// without touching the platform. On failure *error (when given) says why.
DiskHandle OpenPhysicalDisk(DiskSet *disks, int disk, char mode, DiskError *error);
// Why the last failed operation on a handle failed.
DiskError DiskHandleError(DiskHandle handle);
// Accepts INVALID_DISK_HANDLE and does nothing with it.
void CloseDisk(DiskHandle handle);

int SeekSector(DiskHandle handle, uint64_t sector);
// 1 only when every byte of count * 512 was moved.
int ReadSectors(DiskHandle handle, int count, uint32_t first, void *buffer);
int WriteSectors(DiskHandle handle, int count, uint32_t first, const void *buffer);

// 1 or 0; on failure the caller's record is left as it was.
int GetDiskGeometry(DiskHandle handle, DiskGeometry *geometry);
// 1 or 0; the record is zero-filled first and stays zero on failure.
int GetDiskLayout(DiskHandle handle, DiskLayoutInfo *layout);
// Told how far the sweep is: before its first read (done 0) and after each.
typedef void (*SweepProgress)(void *context, int done, int total);
// Descending sweep of 200 reads of 64 KiB; results ignored.
void TestAccess(DiskHandle handle, SweepProgress progress = nullptr, void *context = nullptr);
// Disk number holding the volume's first extent, VOLUME_OPEN_FAILED or
// EXTENTS_QUERY_FAILED. The letter is passed on exactly as given.
int DriveLetterToDiskNumber(char letter);
