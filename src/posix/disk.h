// Linux side of the disk operations: one run's options, the registry of the
// disks it works on, what a path names, and the system calls the backend
// makes. Used by the Linux program and its tests only.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/bootrecord.h"
#include "disk/container.h"
#include "disk/disk.h"

struct BytePatch;
struct NbdImage;

enum { POSIX_PATH_SIZE = 512 };

enum Answers { ANSWERS_ASK = 0, ANSWERS_YES, ANSWERS_NO };

// Whether the systems on a disk change with its signature (--windows,
// --linux): asked on the terminal unless an option says.
enum UpdateChoice { UPDATE_ASK = 0, UPDATE_YES, UPDATE_LEAVE };

// Everything a run was told on its command line beyond the command.
struct RunOptions {
  Answers answers = ANSWERS_ASK;
  const char *backup = nullptr; // save the boot area here before the first write
  uint32_t sector_size = 0;     // image files' logical sector size; 0: 512
  bool dry_run = false;         // write and restore: check and ask, never write
  bool json = false;            // the result as one JSON document
  const char *root = nullptr;   // configuration files read under this directory
  bool quiet = false;           // results and errors only: answered questions,
                                // the notice, progress and paths unshown
  // Four-byte changes a write makes on the disk before the signature, as
  // one with it; the backup file gets undo_records after the boot area.
  UpdateChoice windows = UPDATE_ASK;     // the Windows stores on the disk
  UpdateChoice linux_lines = UPDATE_ASK; // the lines naming its PARTUUIDs
  const std::vector<BytePatch> *patches = nullptr;
  const std::string *undo_records = nullptr;
};

// A disk of the system's table.
struct PosixDiskEntry {
  char path[POSIX_PATH_SIZE]; // /dev/sda, /dev/loop0
  uint64_t bytes;             // size of the disk
};

// What a disk is, beyond its name: the device number (st_rdev) of a block
// device with its size and what tells two equal disks apart (serial or
// WWID), and for a loop device the file behind it as the kernel reports it
// (device and inode); st_dev and st_ino of an image file.
struct DiskIdentity {
  bool block = false;
  dev_t rdev = 0;
  dev_t dev = 0; // image file, or a loop device's backing file
  ino_t ino = 0;
  bool loop = false;           // a loop device with a backing file
  uint64_t bytes = 0;          // block devices; 0: not recorded
  uint32_t logical_sector = 0; // block devices
  std::string tag;
};

// One disk of the run, pinned when it was first named: the run's one
// descriptor on it, opened once and used by every later read, the write
// handle (reopened through it, never through the name) and the lock.
struct RegisteredDisk {
  int number = -1; // its number in the run's list; -1: named by path, not listed
  std::string path;
  std::string model; // read on first need (PosixModel)
  bool modeled = false;
  DiskIdentity identity;
  uint64_t file_bytes = 0;   // an image file's size when pinned
  int fd = -1;               // read-only; -1 when it could not be opened
  DiskError error = DISK_OK; // why it could not be opened
  // The boot area as last read from this disk: a write goes ahead only if
  // the disk still holds it, and it is what the backup saves.
  bool boot_valid = false;
  uint8_t boot[IPL_AREA_BYTES];
  // A boot area a write must still find, but for the signature: the one a
  // backup to restore was compared with, before the questions.
  bool shown_valid = false;
  uint8_t shown[IPL_AREA_BYTES];
  int lock_fd = -1; // the write handle holding the disk's lock
  // An image QEMU reads: its container as the file's magic says, the
  // read-only connection readers share (dropped by a writer), what QEMU
  // said when it refused the image, and the size and first bytes `list`
  // read ahead for it (PosixReadAhead).
  ImageLayout image{};
  NbdImage *nbd = nullptr;
  std::string said;
  bool ahead_valid = false;
  DiskError ahead_error = DISK_OK; // its file could not be read then
  uint64_t ahead_bytes = 0;
  std::vector<uint8_t> ahead;
};

// The run's disks: the table of the system's disks (listed at most once,
// on first need) and every disk pinned, by id (the int the disk
// operations take). Closes every descriptor when it goes.
struct DiskSet {
  explicit DiskSet(const RunOptions *run) : options(run) {}
  ~DiskSet();
  DiskSet(const DiskSet &) = delete;
  DiskSet &operator=(const DiskSet &) = delete;
  const RunOptions *options;
  bool scanned = false;
  std::vector<PosixDiskEntry> table;
  std::vector<dev_t> table_devices; // st_rdev of each table entry
  std::vector<RegisteredDisk *> disks;
};

// The disk table: whole disks in (major, minor) order, virtual, hidden and
// empty devices skipped, loop devices with a backing file kept.
const std::vector<PosixDiskEntry> &PosixListDisks(DiskSet *disks);

// What path names, without opening it for I/O.
enum PosixPathKind {
  POSIX_PATH_MISSING = 0,
  POSIX_PATH_WHOLE_DISK = 1, // block device of a whole disk
  POSIX_PATH_IMAGE = 2,      // regular file
  POSIX_PATH_PARTITION = 3,  // partition device, or a directory on a mounted file system
  POSIX_PATH_OTHER = 4,      // directory not on a disk, character device, ...
};
// For POSIX_PATH_PARTITION, disk_path receives the whole disk that holds it;
// for POSIX_PATH_MISSING, errno tells why (ENOENT, ENAMETOOLONG, ELOOP...).
PosixPathKind PosixClassifyPath(const char *path, char *disk_path, size_t size);

// Pins the disk a number or a path (whole-disk device or image file) names,
// opening it once, and returns its id. A number is the disk's place in
// the table; a path is numbered only once the table is listed
// (PosixNumberDisks). -1 with *error set when the name leads to no disk.
// A disk that is there but cannot be opened is pinned all the same: its
// opens fail with the reason.
int PosixRegister(DiskSet *disks, const char *name, DiskError *error);
// The model or backing file shown for a disk of the table ("" for others),
// read once, when first shown.
const std::string &PosixModel(DiskSet *disks, int id);
// The pinned disk behind an id, or nullptr.
const RegisteredDisk *PosixRegistered(const DiskSet *disks, int id);
// Lists the table and numbers every pinned disk: table disks by their
// place, the others after the table in the order they were named.
void PosixNumberDisks(DiskSet *disks);
// The first bytes of a block device are about to be read: their read is
// started now, so that the reads of many disks overlap.
void PosixWillRead(const DiskSet *disks, int id, uint64_t bytes);
// From now on a write to the disk needs its boot area, but for the
// signature's four bytes, as last read.
void PosixHoldBootArea(DiskSet *disks, int id);

// The disk's data area in bytes (an image's without its header and
// footer) and, for an image file, its container (IMAGE_RAW otherwise).
uint64_t PosixDataBytes(DiskHandle handle, ImageContainer *container);

// The system's error (errno) behind a DISK_BACKUP_FAILED of this handle.
int PosixSystemError(DiskHandle handle);

// Bytes of the disk's data area that are about to be read: their read is
// started now (block devices).
void PosixWillReadAt(DiskHandle handle, uint64_t offset, size_t count);

// The disk's logical sector size (an image's: --sector-size, else 512).
uint32_t PosixSectorSize(DiskHandle handle);

// Reads one 512-byte sector of the disk's data area straight from the
// disk, past what the handle has read already: 1 or 0.
int PosixReadSector(DiskHandle handle, uint64_t sector, uint8_t *buffer);

// DISK_READ_ONLY when the disk cannot be written (a read-only device, an
// image on a read-only file system), DISK_NO_PERMISSION when this user may
// not write it; for an image file DISK_IMAGE_IN_USE when a QEMU program
// holds it, for one QEMU reads DISK_IMAGE_READ_ONLY, DISK_IMAGE_ENCRYPTED or
// what qemu-img check says (its words in *said); else DISK_OK. Opens
// nothing for writing.
DiskError PosixWritable(const RegisteredDisk &disk, std::string *said = nullptr);

// Whether every extent file of a VMDK image (beside its descriptor) is a
// regular file: a device there would be written as the image. True for
// other images.
bool PosixExtentsPlain(const RegisteredDisk &disk);

// Opens the images QEMU reads among ids, a few at a time, and keeps each
// one's size and boot area for the reads of this run's `list`.
void PosixReadAhead(DiskSet *disks, const std::vector<int> &ids);
// The serial number or WWID the kernel reports for a block device; "".
std::string PosixSerial(const RegisteredDisk &disk);

// DISK_OK when the disk open on fd (st from fstat, bytes its size) is the
// one pinned as disk, else DISK_OTHER_DISK.
DiskError PosixCheckIdentity(const RegisteredDisk &disk, int fd, const struct stat &st,
                             uint64_t bytes);

// The other names of the disk open as st, which a writer locks too: a loop
// device's backing file, or the loop devices over an image file (sorted),
// found in the run's one disk listing, but for the loop devices the run
// holds open (their own descriptors are locked). Each is checked by
// identity once opened (PosixSameDisk).
std::vector<std::string> PosixSameDiskNames(DiskSet *disks, const struct stat &st);
// Whether fd, opened through one of those names, is the same disk as the
// one pinned as id: the file behind a loop device, or a loop device over
// the image file.
bool PosixSameDisk(int fd, const DiskIdentity &id);

// The disk layer's reason for an errno.
DiskError PosixErrorOf(int error);

// The system calls the backend makes, in one table that tests may change
// to make any of them fail. Every call the backend makes on a disk or the
// backup file goes through it.
struct PosixCalls {
  int (*open)(const char *path, int flags, mode_t mode);
  ssize_t (*pread)(int fd, void *buffer, size_t bytes, off_t offset);
  ssize_t (*pwrite)(int fd, const void *buffer, size_t bytes, off_t offset);
  int (*fsync)(int fd);
  int (*flock)(int fd, int operation);
  int (*ioctl)(int fd, unsigned long request, void *argument);
  // Opens the file fd is open on again, with flags, never by its name.
  int (*reopen)(int fd, int flags);
};
extern PosixCalls g_posix_calls;
// The table as the system gives it.
extern const PosixCalls kPosixSystemCalls;
