// Disk operations on Linux: block devices and disk image files.
//
// A handle is a heap record around one file descriptor: the data area
// (after an image's header, before its footer), the mode, and what the
// handle has learnt so far (the 32-sector boot area, the geometry, the
// layout reply). A read handle never writes and a write handle never reads
// the disk for its caller; any write drops what the handle had learnt.
//
// Sector numbers and counts are 512-byte units on every device; buffered
// pread/pwrite move 512-byte units on 4096-byte-sector devices too. Only the
// MBR's own numbers count in the device's logical sectors, as on Windows:
// the layout reply gives their true byte offsets and lengths.
//
// Geometry, first rule that applies:
//   1. the image container's own (HDI and NHD header, VHD footer CHS);
//   2. a PC-9821 disk (read handles only): ProbePc98Geometry;
//   3. HDIO_GETGEO where the kernel answers it, cylinders = sectors /
//      (heads x sectors per track);
//   4. MakeUpGeometry (255 x 63).
// Cylinders count the device's logical sectors; BytesPerSector is its
// logical sector size (BLKSSZGET), for image files the run's --sector-size
// (512 without it).
//
// The boot area is read once per handle, in one request, the first time a
// read or a query needs any of its sectors; for a raw image the open's own
// look at the file's first bytes is that read. So a Get (geometry, layout,
// boot-format detection) on an MBR disk reads the boot area, each EBR, and
// nothing else.
//
// Every open checks that the name still leads to the disk the registry
// pinned (posix/registry.cpp); a handle on another disk is refused.
//
// Writes: the write handle holds flock(LOCK_EX) on the whole disk from open
// to close (a lock held elsewhere is waited for up to a second, then the
// disk counts as locked). Readers take no lock. A write first reads its
// range again under the lock; in the boot area, if that is no longer what
// the last read of the disk saw, someone changed the disk after it was
// checked, and nothing is written. Then only the bytes that differ are
// written (for a rewrite, the four bytes of the signature), fsync'd and
// read back past the page cache. A write that fails or reads back wrong
// puts the old bytes back and reports what the disk now holds: the old
// bytes, the new ones, a mix, or nothing readable.
//
// Every system call on a disk or the backup file goes through
// g_posix_calls, so that tests can make any of them fail.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/winrefs.h"
#include "disk/bootrecord.h"
#include "disk/container.h"
#include "disk/disk.h"
#include "disk/layout.h"
#include "posix/disk.h"
#include "posix/nbd.h"

namespace {

int SystemOpen(const char *path, int flags, mode_t mode) {
  return open(path, flags, mode);
}

int SystemIoctl(int fd, unsigned long request, void *argument) {
  return ioctl(fd, request, argument);
}

// The file open on fd, opened again through /proc: never through a name
// that may lead somewhere else by now.
int SystemReopen(int fd, int flags) {
  char path[64];
  snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return open(path, flags);
}

} // namespace

const PosixCalls kPosixSystemCalls = {SystemOpen, pread,       pwrite,      fsync,
                                      flock,      SystemIoctl, SystemReopen};
PosixCalls g_posix_calls = kPosixSystemCalls;

namespace {

enum { MEDIA_FIXED = 12, TEST_ACCESS_BYTES = TEST_ACCESS_SECTORS * SECTOR_SIZE };

struct PosixDisk {
  int fd;
  DiskSet *set; // the run's disks, for the other names of this one
  RegisteredDisk *disk;
  const RunOptions *options;
  DiskError error; // why the last operation failed
  bool writer;
  bool owns_fd; // a write handle's own descriptor; readers use the disk's
                // An image QEMU reads: the data area is qemu-nbd's disk. A writer owns
  // its connection (nbd); readers use the disk's, never holding it (a
  // writer drops it).
  bool qemu;
  NbdImage *nbd;
  bool block;
  std::vector<int> *also_locked; // the same disk's other names, locked with it
  std::vector<int> *held_locked; // the run's own descriptors among them: unlocked, kept
  bool backup_done;
  int system_error; // errno of the backup file's failed call
  bool patches_done;
  uint64_t data_offset;
  uint64_t data_bytes;
  uint64_t position; // bytes from sector 0
  uint32_t logical_sector;
  ImageLayout image;

  bool boot_valid;
  uint8_t boot[IPL_AREA_BYTES];
  bool geometry_valid;
  DiskGeometry geometry;
  bool reply_valid;
  uint32_t reply_bytes;
  uint8_t reply[QUERY_BUFFER_SIZE];
};

PosixDisk *Of(DiskHandle handle) {
  if (handle == INVALID_DISK_HANDLE || handle == nullptr) return nullptr;
  return static_cast<PosixDisk *>(handle);
}

// pread or pwrite until every byte moved.
bool Transfer(int fd, uint8_t *p, size_t bytes, uint64_t offset, bool write) {
  while (bytes > 0) {
    ssize_t n = write ? g_posix_calls.pwrite(fd, p, bytes, (off_t)offset)
                      : g_posix_calls.pread(fd, p, bytes, (off_t)offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= (size_t)n;
    offset += (uint64_t)n;
  }
  return true;
}

bool ReadFull(int fd, void *buffer, size_t bytes, uint64_t offset) {
  return Transfer(fd, static_cast<uint8_t *>(buffer), bytes, offset, false);
}

bool WriteFull(int fd, const void *buffer, size_t bytes, uint64_t offset) {
  return Transfer(fd, const_cast<uint8_t *>(static_cast<const uint8_t *>(buffer)), bytes, offset,
                  true);
}

// The path QEMU gets: absolute, so that no prefix (nbd:, json:) means
// anything to it.
std::string AbsolutePath(const std::string &path) {
  char *real = realpath(path.c_str(), nullptr);
  if (real) {
    std::string r = real;
    free(real);
    return r;
  }
  char cwd[4096];
  if (path[0] == '/' || !getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

// The read connection of an image QEMU reads, opened on first need where
// `list` read ahead.
NbdImage *Connection(PosixDisk *d, DiskError *why = nullptr) {
  if (d->writer) return d->nbd;
  if (!d->disk->nbd) {
    DiskError e = DISK_OK;
    QemuSaid said;
    d->disk->nbd = NbdOpen(AbsolutePath(d->disk->path), d->image.container, false, &e, &said);
    d->disk->said = said.text;
    if (why) *why = e;
  }
  return d->disk->nbd;
}

// Bytes of the disk at a file offset: through qemu-nbd for an image QEMU
// reads (whose data area starts at 0).
bool DiskRead(PosixDisk *d, void *buffer, size_t bytes, uint64_t offset) {
  if (!d->qemu) return ReadFull(d->fd, buffer, bytes, offset);
  NbdImage *nbd = Connection(d);
  return nbd && NbdRead(nbd, buffer, bytes, offset);
}

bool InData(const PosixDisk *d, uint64_t position, uint64_t bytes) {
  return position <= d->data_bytes && bytes <= d->data_bytes - position;
}

// A read that failed on a handle fails every later read on it: the backend
// never retries, not even by another way to the same sectors.
bool LoadBootArea(PosixDisk *d) {
  if (d->error != DISK_OK) return false;
  if (!d->boot_valid) d->boot_valid = DiskRead(d, d->boot, IPL_AREA_BYTES, d->data_offset);
  if (!d->boot_valid) d->error = DISK_IO_ERROR;
  return d->boot_valid;
}

void Forget(PosixDisk *d) {
  d->boot_valid = false;
  d->geometry_valid = false;
  d->reply_valid = false;
}

// Sector reader for the layout decoder and the PC-9821 probe.
int ReadForDecoder(void *context, uint64_t sector, uint8_t *buffer) {
  PosixDisk *d = static_cast<PosixDisk *>(context);
  if (sector >= d->data_bytes / SECTOR_SIZE || d->error != DISK_OK) return 0;
  if (sector < IPL_AREA_SECTORS && LoadBootArea(d)) {
    memcpy(buffer, d->boot + sector * SECTOR_SIZE, SECTOR_SIZE);
    return 1;
  }
  if (DiskRead(d, buffer, SECTOR_SIZE, d->data_offset + sector * SECTOR_SIZE)) return 1;
  d->error = DISK_IO_ERROR;
  return 0;
}

// On a disk with larger logical sectors an MBR counts in those: the
// decoder then reads table sectors by logical sector number.
int ReadLogicalForDecoder(void *context, uint64_t sector, uint8_t *buffer) {
  PosixDisk *d = static_cast<PosixDisk *>(context);
  uint64_t scale = d->logical_sector / SECTOR_SIZE;
  if (sector > UINT64_MAX / scale) return 0;
  return ReadForDecoder(context, sector * scale, buffer);
}

// Byte offsets and lengths of a reply built in logical sectors.
void ScaleReply(PosixDisk *d) {
  uint64_t scale = d->logical_sector / SECTOR_SIZE;
  uint32_t count = LoadLe32(d->reply);
  for (uint32_t i = 0; i < count; i++) {
    uint8_t *entry = d->reply + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE;
    for (int field = 0; field < 16; field += 8) {
      uint64_t v = LoadLe32(entry + field) | (uint64_t)LoadLe32(entry + field + 4) << 32;
      v *= scale;
      StoreLe32(entry + field, (uint32_t)v);
      StoreLe32(entry + field + 4, (uint32_t)(v >> 32));
    }
  }
}

// A query the device does not answer (ENOTTY on loop devices and files)
// is no failure; any other error is.
bool Unanswered(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

bool ComputeGeometry(PosixDisk *d) {
  // The 512-byte count for the PC-9821 probe; cylinders count logical sectors.
  uint64_t total = d->data_bytes / SECTOR_SIZE;
  uint64_t logical_total = d->data_bytes / d->logical_sector;
  DiskGeometry &g = d->geometry;
  uint32_t heads = 0, spt = 0;
  struct hd_geometry hd = {};
  int asked = -1; // HDIO_GETGEO's result
  if (d->image.heads && d->image.sectors_per_track && d->logical_sector == SECTOR_SIZE) {
    g.Cylinders = d->image.cylinders;
    g.TracksPerCylinder = d->image.heads;
    g.SectorsPerTrack = d->image.sectors_per_track;
  } else if (!d->writer && d->logical_sector == SECTOR_SIZE && LoadBootArea(d) &&
             ClassifySectorZero(d->boot) == LAYOUT_PC98) {
    ProbePc98Geometry(ReadForDecoder, d, total, d->boot + SECTOR_SIZE, &heads, &spt);
  } else if (d->block && !d->disk->identity.loop && // a loop device has no geometry
             (asked = g_posix_calls.ioctl(d->fd, HDIO_GETGEO, &hd)) != 0 && !Unanswered(errno)) {
    d->error = DISK_IO_ERROR;
    return false;
  } else if (asked == 0 && hd.heads && hd.sectors) {
    heads = hd.heads;
    spt = hd.sectors;
  } else {
    MakeUpGeometry(logical_total, &g);
  }
  if (heads && spt) {
    g.Cylinders = (int64_t)(logical_total / ((uint64_t)heads * spt));
    g.TracksPerCylinder = heads;
    g.SectorsPerTrack = spt;
  }
  g.MediaType = MEDIA_FIXED;
  g.BytesPerSector = d->logical_sector;
  d->geometry_valid = true;
  return true;
}

// The open's look at a regular file: its container and data area.
DiskError ProbeFile(PosixDisk *d, uint64_t file_size) {
  static uint8_t head[IMAGE_HEAD_BYTES];
  uint8_t tail[VHD_FOOTER_BYTES];
  size_t head_bytes = file_size < IMAGE_HEAD_BYTES ? (size_t)file_size : (size_t)IMAGE_HEAD_BYTES;
  if (!ReadFull(d->fd, head, head_bytes, 0)) return DISK_IO_ERROR;
  const uint8_t *tail_bytes = nullptr;
  if (file_size >= VHD_FOOTER_BYTES) {
    if (file_size <= head_bytes)
      tail_bytes = head + file_size - VHD_FOOTER_BYTES;
    else if (ReadFull(d->fd, tail, sizeof tail, file_size - VHD_FOOTER_BYTES))
      tail_bytes = tail;
    else
      return DISK_IO_ERROR;
  }
  DiskError e =
      ProbeImage(d->disk->path.c_str(), head, head_bytes, tail_bytes, file_size, &d->image);
  d->disk->image = d->image;
  if (e != DISK_OK) return e;
  // HDI and NHD headers record 512-byte sectors.
  if (d->logical_sector != SECTOR_SIZE && d->image.container != IMAGE_RAW &&
      d->image.container != IMAGE_VHD)
    return DISK_SECTOR_SIZE;
  d->data_offset = d->image.data_offset;
  d->data_bytes = d->image.data_bytes;
  d->qemu = IsQemuImage(d->image.container);
  if (d->qemu) return DISK_OK;
  if (d->data_offset == 0 && head_bytes == IPL_AREA_BYTES && d->data_bytes >= IPL_AREA_BYTES) {
    memcpy(d->boot, head, IPL_AREA_BYTES);
    d->boot_valid = true;
  }
  return DISK_OK;
}

// udev holds a disk's lock for a moment while it probes (after every
// writer's close, too): wait up to a second before calling the disk locked.
DiskError LockForWriting(int fd) {
  for (int tries = 0;; tries++) {
    if (g_posix_calls.flock(fd, LOCK_EX | LOCK_NB) == 0) return DISK_OK;
    if (errno != EWOULDBLOCK) return DISK_IO_ERROR;
    if (tries == 10) return DISK_LOCKED;
    usleep(100 * 1000);
  }
}

// Locks the disk open on d->fd under every name: an image file and the loop
// devices over it are one disk. The file is always locked before its loop
// devices, so two writers never wait on each other.
DiskError LockEveryName(PosixDisk *d, const struct stat &st) {
  std::vector<std::string> names = PosixSameDiskNames(d->set, st);
  bool file_first = d->block && !names.empty();
  if (!file_first) {
    DiskError locked = LockForWriting(d->fd);
    if (locked != DISK_OK) return locked;
  }
  // The loop devices over an image file that the run holds open already
  // are locked through those descriptors.
  for (RegisteredDisk *other : d->block ? std::vector<RegisteredDisk *>() : d->set->disks) {
    if (other == d->disk || !other->identity.loop || other->fd < 0 ||
        other->identity.dev != st.st_dev || other->identity.ino != st.st_ino ||
        !PosixSameDisk(other->fd, d->disk->identity))
      continue;
    DiskError locked = LockForWriting(other->fd);
    if (locked != DISK_OK) return locked;
    d->held_locked->push_back(other->fd);
  }
  for (const std::string &name : names) {
    int fd = g_posix_calls.open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0 && (errno == ENOENT || errno == ENXIO)) continue; // detached meanwhile
    if (fd < 0) return PosixErrorOf(errno);
    d->also_locked->push_back(fd);
    // The name may lead elsewhere by now: only the disk itself is locked.
    if (!PosixSameDisk(fd, d->disk->identity)) {
      if (d->block) return DISK_OTHER_DISK; // the loop device's file cannot be locked
      continue;                             // that loop device is over another file now
    }
    DiskError locked = LockForWriting(fd);
    if (locked != DISK_OK) return locked;
  }
  return file_first ? LockForWriting(d->fd) : DISK_OK;
}

void CloseAll(PosixDisk *d) {
  NbdClose(d->nbd); // a writer's own
  if (d->fd >= 0 && d->owns_fd) close(d->fd);
  for (int fd : *d->also_locked)
    close(fd);
  for (int fd : *d->held_locked)
    g_posix_calls.flock(fd, LOCK_UN);
  delete d->also_locked;
  delete d->held_locked;
}

// Whether the disk's name still leads to the disk open on fd (st): a file
// removed or replaced, or a device node swapped, after it was named is not
// the disk the user named.
bool NameLeadsHere(const RegisteredDisk &disk, const struct stat &st) {
  struct stat now;
  if (stat(disk.path.c_str(), &now) != 0) return false;
  if (S_ISBLK(st.st_mode)) return S_ISBLK(now.st_mode) && now.st_rdev == st.st_rdev;
  return st.st_nlink > 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

// An image QEMU reads. A reader shares the disk's read-only connection, or
// what `list` read ahead; a writer locks the file as any other, has
// qemu-img check it, drops the readers' connection (its caches would not
// see the write) and opens its own.
DiskError OpenQemuImage(PosixDisk *d, const struct stat &st) {
  RegisteredDisk *disk = d->disk;
  if (d->image.encrypted) return DISK_IMAGE_ENCRYPTED;
  d->data_offset = 0;
  if (!d->writer) {
    if (!disk->nbd && disk->ahead_valid) {
      d->data_bytes = disk->ahead_bytes;
      if (disk->ahead.size() >= IPL_AREA_BYTES) {
        memcpy(d->boot, disk->ahead.data(), IPL_AREA_BYTES);
        d->boot_valid = true;
      }
    } else {
      DiskError why = DISK_IMAGE_REFUSED;
      NbdImage *nbd = Connection(d, &why);
      if (!nbd) return why;
      d->data_bytes = NbdSize(nbd);
    }
    return d->data_bytes < IPL_AREA_BYTES ? DISK_TOO_SHORT : DISK_OK;
  }
  if (d->image.read_only) return DISK_IMAGE_READ_ONLY;
  if (!PosixExtentsPlain(*disk)) return DISK_IMAGE_READ_ONLY;
  DiskError locked = LockEveryName(d, st);
  if (locked != DISK_OK) return locked;
  disk->lock_fd = d->fd;
  QemuSaid said;
  std::string path = AbsolutePath(disk->path);
  DiskError checked = QemuCheckImage(path, d->image.container, &said);
  disk->said = said.text;
  if (checked != DISK_OK) return checked;
  NbdClose(disk->nbd);
  disk->nbd = nullptr;
  disk->ahead_valid = false;
  DiskError e = DISK_OK;
  d->nbd = NbdOpen(path, d->image.container, true, &e, &said);
  disk->said = said.text;
  if (!d->nbd) return e;
  d->data_bytes = NbdSize(d->nbd);
  return d->data_bytes < IPL_AREA_BYTES ? DISK_TOO_SHORT : DISK_OK;
}

// A reader uses the disk's one descriptor; a writer opens it again through
// that descriptor, never through the name.
DiskError OpenPath(PosixDisk *d) {
  if (d->disk->fd < 0) return d->disk->error == DISK_OK ? DISK_IO_ERROR : d->disk->error;
  if (d->disk->ahead_error != DISK_OK) return d->disk->ahead_error;
  struct stat st;
  d->fd = d->disk->fd;
  if (d->writer) {
    struct stat held;
    if (fstat(d->disk->fd, &held) != 0) return DISK_IO_ERROR;
    d->fd = g_posix_calls.reopen(d->disk->fd, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (d->fd < 0) return PosixErrorOf(errno);
    d->owns_fd = true;
    if (fstat(d->fd, &st) != 0) return DISK_IO_ERROR;
    bool same = S_ISBLK(held.st_mode) ? st.st_rdev == held.st_rdev
                                      : st.st_dev == held.st_dev && st.st_ino == held.st_ino;
    if (!same || !NameLeadsHere(*d->disk, st)) return DISK_OTHER_DISK;
  } else {
    // A reader goes by what the disk was when pinned, on the same
    // descriptor: its kind, size and sector size.
    memset(&st, 0, sizeof st);
    st.st_mode = d->disk->identity.block ? S_IFBLK : S_IFREG;
    st.st_size = (off_t)d->disk->file_bytes;
  }
  uint32_t asked = d->options ? d->options->sector_size : 0;
  d->logical_sector = SECTOR_SIZE;
  uint64_t bytes = 0;
  if (S_ISBLK(st.st_mode)) {
    d->block = true;
    int logical = (int)d->disk->identity.logical_sector;
    bytes = d->disk->identity.bytes;
    if (d->writer && g_posix_calls.ioctl(d->fd, BLKGETSIZE64, &bytes) != 0)
      return PosixErrorOf(errno);
    if (d->writer && g_posix_calls.ioctl(d->fd, BLKSSZGET, &logical) != 0)
      return PosixErrorOf(errno);
    if (logical < SECTOR_SIZE || logical % SECTOR_SIZE != 0) return DISK_IO_ERROR;
    d->logical_sector = (uint32_t)logical;
    if (asked && asked != d->logical_sector) return DISK_SECTOR_SIZE;
    d->data_bytes = bytes;
    // A read-only device (losetup -r, a write-protected card) opens for
    // writing all the same; its writes would fail with EPERM.
    int read_only = 0;
    if (d->writer && g_posix_calls.ioctl(d->fd, BLKROGET, &read_only) != 0)
      return PosixErrorOf(errno);
    if (read_only) return DISK_READ_ONLY;
  }
  // The identity before anything is written: a write handle on another
  // disk never writes. A reader is on the disk's own descriptor.
  if (d->writer) {
    DiskError same = PosixCheckIdentity(*d->disk, d->fd, st, bytes);
    if (same != DISK_OK) return same;
  }
  if (S_ISREG(st.st_mode)) {
    if (asked) d->logical_sector = asked;
    DiskError e = ProbeFile(d, (uint64_t)st.st_size);
    if (e != DISK_OK) return e;
  } else if (!S_ISBLK(st.st_mode)) {
    return DISK_NOT_A_DISK;
  }
  if (d->qemu) return OpenQemuImage(d, st);
  if (d->data_bytes < IPL_AREA_BYTES) return DISK_TOO_SHORT;
  if (d->writer) {
    DiskError locked = LockEveryName(d, st);
    if (locked != DISK_OK) return locked;
    d->disk->lock_fd = d->fd;
    // A VM running on an image file holds QEMU's lock bytes on it.
    if (S_ISREG(st.st_mode) && QemuLockHeld(d->fd) != DISK_OK) return DISK_IMAGE_IN_USE;
  }
  return DISK_OK;
}

// Saves the boot area last read from the disk; a file that could not be
// written whole is removed.
bool WriteBackup(PosixDisk *d) {
  const char *path = d->options ? d->options->backup : nullptr;
  if (!d->disk->boot_valid || !path) return false;
  int fd = g_posix_calls.open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    d->system_error = errno;
    return false;
  }
  const std::string *undo = d->options->undo_records;
  bool ok = WriteFull(fd, d->disk->boot, IPL_AREA_BYTES, 0) &&
            (!undo || WriteFull(fd, undo->data(), undo->size(), IPL_AREA_BYTES)) &&
            g_posix_calls.fsync(fd) == 0;
  if (!ok) d->system_error = errno;
  if (close(fd) != 0 && ok) {
    d->system_error = errno;
    ok = false;
  }
  if (!ok) unlink(path);
  return ok;
}

// Whether two boot areas are equal but for the signature's four bytes, at
// either format's place.
static bool SameButSignature(const uint8_t *a, const uint8_t *b) {
  for (size_t i = 0; i < IPL_AREA_BYTES; i++) {
    bool signature = (i >= AT_SIGNATURE_OFFSET && i < AT_SIGNATURE_OFFSET + 4) ||
                     (i >= PC98_SIGNATURE_OFFSET && i < PC98_SIGNATURE_OFFSET + 4);
    if (!signature && a[i] != b[i]) return false;
  }
  return true;
}

// DISK_OK when the boot area on the disk (read into now) is still the last
// one read from it and, but for the signature, the one held (what a
// restore's backup was compared with); DISK_CHANGED when it is not,
// DISK_IO_ERROR when it cannot be read.
DiskError Unchanged(PosixDisk *d, uint8_t *now) {
  if (!DiskRead(d, now, IPL_AREA_BYTES, d->data_offset)) return DISK_IO_ERROR;
  if (d->disk->shown_valid && !SameButSignature(now, d->disk->shown)) return DISK_CHANGED;
  if (!d->disk->boot_valid) return DISK_OK;
  return memcmp(now, d->disk->boot, IPL_AREA_BYTES) == 0 ? DISK_OK : DISK_CHANGED;
}

// Reads bytes at offset from the device itself, past the page cache
// (O_DIRECT in whole aligned blocks); buffered, after dropping the clean
// cached pages, where the file system refuses O_DIRECT.
bool ReadBack(PosixDisk *d, uint64_t offset, size_t bytes, uint8_t *out) {
  if (d->qemu) return NbdRead(d->nbd, out, bytes, offset);
  const uint64_t align = d->logical_sector > 4096 ? d->logical_sector : 4096;
  uint64_t start = offset / align * align;
  size_t span = (size_t)((offset + bytes - start + align - 1) / align * align);
  int flags = fcntl(d->fd, F_GETFL);
  if (flags >= 0 && fcntl(d->fd, F_SETFL, flags | O_DIRECT) == 0) {
    uint8_t *window = static_cast<uint8_t *>(aligned_alloc(4096, span));
    ssize_t n = -1;
    if (window) {
      do
        n = g_posix_calls.pread(d->fd, window, span, (off_t)start);
      while (n < 0 && errno == EINTR);
    }
    int error = errno;
    bool covered = n >= 0 && (uint64_t)n >= offset + bytes - start;
    if (covered) memcpy(out, window + (offset - start), bytes);
    free(window);
    fcntl(d->fd, F_SETFL, flags);
    if (covered || !window || error != EINVAL) return covered;
  }
  posix_fadvise(d->fd, (off_t)offset, (off_t)bytes, POSIX_FADV_DONTNEED);
  return ReadFull(d->fd, out, bytes, offset);
}

// Writes bytes at offset and waits for them to reach the device.
bool WriteSynced(PosixDisk *d, const uint8_t *bytes, size_t n, uint64_t offset) {
  if (d->qemu) return NbdWrite(d->nbd, bytes, n, offset);
  return WriteFull(d->fd, bytes, n, offset) && g_posix_calls.fsync(d->fd) == 0;
}

// After a write that failed or read back wrong: the old bytes go back
// (a failed fsync can leave the new ones in the page cache even where the
// device kept the old), then the device says which the disk now holds.
DiskError PutBack(PosixDisk *d, uint64_t offset, const uint8_t *old, const uint8_t *wanted,
                  size_t n) {
  WriteSynced(d, old, n, offset); // the read-back below tells whether it took
  std::vector<uint8_t> now(n);
  if (!ReadBack(d, offset, n, now.data())) return DISK_WRITE_UNVERIFIED;
  if (memcmp(now.data(), old, n) == 0) return DISK_WRITE_UNDONE;
  if (memcmp(now.data(), wanted, n) == 0) return DISK_WRITE_LEFT_NEW;
  return DISK_WRITE_TORN;
}

bool Positioned(PosixDisk *d, int count, uint32_t first, uint64_t *bytes) {
  if (count < 0 || !SeekSector(d, first)) return false;
  *bytes = (uint64_t)count * SECTOR_SIZE;
  return InData(d, d->position, *bytes);
}

int Fail(PosixDisk *d, DiskError error) {
  d->error = error;
  return 0;
}

// Puts the old bytes of the first n patches back, last first: UNDONE when
// every one reads back old.
DiskError UndoPatches(PosixDisk *d, const std::vector<BytePatch> &patches, size_t n) {
  DiskError result = DISK_WRITE_UNDONE;
  for (size_t i = n; i-- > 0;) {
    const BytePatch &p = patches[i];
    DiskError e = PutBack(d, d->data_offset + p.offset, p.old_bytes, p.new_bytes, 4);
    if (e != DISK_WRITE_UNDONE) result = e == DISK_WRITE_LEFT_NEW ? DISK_WRITE_TORN : e;
  }
  return result;
}

// Each patch the way the signature is written: the four bytes read under
// the lock must be the old ones (the new ones already there: done), then
// written, synced and read back past the cache. On a failure the patches
// written go back; the result says what the disk holds.
DiskError ApplyPatches(PosixDisk *d, const std::vector<BytePatch> &patches) {
  for (size_t i = 0; i < patches.size(); i++) {
    const BytePatch &p = patches[i];
    uint64_t offset = d->data_offset + p.offset;
    uint8_t now[4];
    if (p.offset < IPL_AREA_BYTES || !InData(d, p.offset, 4) || !DiskRead(d, now, 4, offset)) {
      UndoPatches(d, patches, i);
      return DISK_IO_ERROR;
    }
    if (memcmp(now, p.new_bytes, 4) == 0) continue;
    if (memcmp(now, p.old_bytes, 4) != 0) {
      DiskError undone = UndoPatches(d, patches, i);
      return undone == DISK_WRITE_UNDONE ? DISK_CHANGED : undone;
    }
    if (!WriteSynced(d, p.new_bytes, 4, offset) || !ReadBack(d, offset, 4, now) ||
        memcmp(now, p.new_bytes, 4) != 0) {
      DiskError e = PutBack(d, offset, p.old_bytes, p.new_bytes, 4);
      DiskError undone = UndoPatches(d, patches, i);
      return e == DISK_WRITE_UNDONE ? undone : DISK_WRITE_TORN;
    }
  }
  return DISK_OK;
}

} // namespace

DiskHandle OpenPhysicalDisk(DiskSet *disks, int disk, char mode, DiskError *error) {
  DiskError ignored;
  if (!error) error = &ignored;
  bool writer = mode == 'W' || mode == 'w';
  if (!writer && mode != 'R' && mode != 'r') {
    *error = DISK_IO_ERROR;
    return INVALID_DISK_HANDLE;
  }
  const RegisteredDisk *known = PosixRegistered(disks, disk);
  if (!known) {
    *error = DISK_NO_SUCH_DISK;
    return INVALID_DISK_HANDLE;
  }
  PosixDisk *d = static_cast<PosixDisk *>(calloc(1, sizeof(PosixDisk)));
  if (!d) {
    *error = DISK_IO_ERROR;
    return INVALID_DISK_HANDLE;
  }
  d->fd = -1;
  d->also_locked = new std::vector<int>;
  d->held_locked = new std::vector<int>;
  d->set = disks;
  d->disk = disks->disks[disk];
  d->options = disks->options;
  d->writer = writer;
  DiskError e = OpenPath(d);
  if (e != DISK_OK) {
    if (d->disk->lock_fd == d->fd) d->disk->lock_fd = -1;
    CloseAll(d);
    free(d);
    *error = e;
    return INVALID_DISK_HANDLE;
  }
  *error = DISK_OK;
  return d;
}

DiskError DiskHandleError(DiskHandle handle) {
  PosixDisk *d = Of(handle);
  return d ? d->error : DISK_NO_SUCH_DISK;
}

int PosixSystemError(DiskHandle handle) {
  PosixDisk *d = Of(handle);
  return d ? d->system_error : 0;
}

void CloseDisk(DiskHandle handle) {
  PosixDisk *d = Of(handle);
  if (!d) return;
  if (d->disk->lock_fd == d->fd) d->disk->lock_fd = -1;
  CloseAll(d);
  free(d);
}

int SeekSector(DiskHandle handle, uint64_t sector) {
  PosixDisk *d = Of(handle);
  if (!d || sector > UINT64_MAX / SECTOR_SIZE) return 0;
  d->position = sector * SECTOR_SIZE;
  return 1;
}

int ReadSectors(DiskHandle handle, int count, uint32_t first, void *buffer) {
  PosixDisk *d = Of(handle);
  uint64_t bytes = 0;
  if (!d || d->writer || d->error != DISK_OK || !Positioned(d, count, first, &bytes)) return 0;
  if (d->position + bytes <= IPL_AREA_BYTES && LoadBootArea(d)) {
    memcpy(buffer, d->boot + d->position, bytes);
  } else if (!DiskRead(d, buffer, bytes, d->data_offset + d->position)) {
    return Fail(d, DISK_IO_ERROR);
  }
  if (first == 0 && bytes >= IPL_AREA_BYTES) {
    memcpy(d->disk->boot, buffer, IPL_AREA_BYTES);
    d->disk->boot_valid = true;
  }
  d->position += bytes;
  return 1;
}

int WriteSectors(DiskHandle handle, int count, uint32_t first, const void *buffer) {
  PosixDisk *d = Of(handle);
  uint64_t bytes = 0;
  if (!d || !d->writer) return 0;
  if (!Positioned(d, count, first, &bytes) || bytes > SIZE_MAX) return Fail(d, DISK_IO_ERROR);
  // The write handle is the pinned disk's (checked at open); check again on
  // this very descriptor just before the bytes go out.
  struct stat st;
  uint64_t size = d->data_bytes;
  if (fstat(d->fd, &st) != 0) return Fail(d, DISK_IO_ERROR);
  DiskError same = PosixCheckIdentity(*d->disk, d->fd, st, d->block ? size : 0);
  if (same == DISK_OK && !NameLeadsHere(*d->disk, st)) same = DISK_OTHER_DISK;
  if (same != DISK_OK) return Fail(d, same);
  // What the range holds now, read under the lock; in the boot area it must
  // still be what the last read of the disk saw.
  uint64_t offset = d->data_offset + d->position;
  std::vector<uint8_t> old(bytes > IPL_AREA_BYTES ? (size_t)bytes : (size_t)IPL_AREA_BYTES);
  if (d->position < IPL_AREA_BYTES) {
    DiskError unchanged = Unchanged(d, old.data());
    if (unchanged != DISK_OK) return Fail(d, unchanged);
  }
  if (d->position + bytes > IPL_AREA_BYTES) {
    if (!DiskRead(d, old.data(), (size_t)bytes, offset)) return Fail(d, DISK_IO_ERROR);
  } else {
    memmove(old.data(), old.data() + d->position, (size_t)bytes);
  }
  if (d->options && d->options->backup && !d->backup_done) {
    if (!WriteBackup(d)) return Fail(d, DISK_BACKUP_FAILED);
    d->backup_done = true;
  }
  Forget(d);
  // The other places that name the signature change first: the signature
  // written last is the commit.
  const std::vector<BytePatch> *patches = d->options ? d->options->patches : nullptr;
  if (patches && !d->patches_done) {
    DiskError patched = ApplyPatches(d, *patches);
    if (patched != DISK_OK) return Fail(d, patched);
    d->patches_done = true;
  }
  // Only the bytes that change are written: a change another program made
  // meanwhile to any other byte (it holds no lock) stays.
  const uint8_t *wanted = static_cast<const uint8_t *>(buffer);
  size_t lo = 0, hi = (size_t)bytes;
  while (lo < hi && old[lo] == wanted[lo])
    lo++;
  while (hi > lo && old[hi - 1] == wanted[hi - 1])
    hi--;
  if (lo < hi) {
    size_t n = hi - lo;
    std::vector<uint8_t> now(n);
    if (!WriteSynced(d, wanted + lo, n, offset + lo) || !ReadBack(d, offset + lo, n, now.data()) ||
        memcmp(now.data(), wanted + lo, n) != 0) {
      DiskError e = PutBack(d, offset + lo, old.data() + lo, wanted + lo, n);
      if (patches && d->patches_done) {
        DiskError undone = UndoPatches(d, *patches, patches->size());
        if (e == DISK_WRITE_UNDONE && undone != DISK_WRITE_UNDONE) e = DISK_WRITE_TORN;
      }
      return Fail(d, e);
    }
  }
  d->position += bytes;
  return 1;
}

int GetDiskGeometry(DiskHandle handle, DiskGeometry *geometry) {
  PosixDisk *d = Of(handle);
  if (!d) return 0;
  if (!d->geometry_valid && !ComputeGeometry(d)) return 0;
  *geometry = d->geometry;
  return 1;
}

int GetDiskLayout(DiskHandle handle, DiskLayoutInfo *layout) {
  memset(layout, 0, sizeof *layout);
  PosixDisk *d = Of(handle);
  if (!d || d->writer) return 0;
  if (!d->reply_valid) {
    if (!d->geometry_valid && !ComputeGeometry(d)) return 0;
    bool logical = d->logical_sector > SECTOR_SIZE && LoadBootArea(d) &&
                   ClassifySectorZero(d->boot) == LAYOUT_AT;
    if (!BuildDriveLayoutReply(logical ? ReadLogicalForDecoder : ReadForDecoder, d,
                               d->data_bytes / (logical ? d->logical_sector : g_sector_size),
                               d->geometry.TracksPerCylinder, d->geometry.SectorsPerTrack, d->reply,
                               sizeof d->reply, &d->reply_bytes))
      return 0;
    if (logical) ScaleReply(d);
    d->reply_valid = true;
  }
  return DecodeDriveLayout(d->reply, d->reply_bytes, layout);
}

// Read i of the sweep: O_DIRECT on *direct while the disk takes it; on the
// first read's EINVAL, buffered from then on.
static void SweepRead(PosixDisk *d, int i, int *direct, bool *first, uint8_t *scratch) {
  uint64_t position = (uint64_t)(200 - i) * 200 * SECTOR_SIZE;
  if (!InData(d, position, TEST_ACCESS_BYTES)) return; // past the end: fails
  uint64_t offset = d->data_offset + position;
  if (*direct >= 0) {
    ssize_t n = g_posix_calls.pread(*direct, scratch, TEST_ACCESS_BYTES, (off_t)offset);
    bool was_first = *first;
    *first = false;
    if (n >= 0 || errno != EINVAL || !was_first) return;
    close(*direct); // O_DIRECT refused here: buffered from now on
    *direct = -1;
  }
  *first = false;
  DiskRead(d, scratch, TEST_ACCESS_BYTES, offset);
}

void TestAccess(DiskHandle handle, SweepProgress progress, void *context) {
  PosixDisk *d = Of(handle);
  if (!d || d->writer) return;
  if (progress) progress(context, 0, TEST_ACCESS_READS);
  // Page-aligned for O_DIRECT on every logical sector size.
  alignas(4096) static uint8_t scratch[4 * TEST_ACCESS_BYTES];
  int direct =
      d->qemu ? -1 : g_posix_calls.reopen(d->fd, O_RDONLY | O_DIRECT | O_CLOEXEC | O_NOCTTY);
  // The sweep's own descriptor must reach the pinned disk too.
  struct stat st;
  if (direct >= 0 &&
      (fstat(direct, &st) != 0 ||
       PosixCheckIdentity(*d->disk, direct, st, d->block ? d->data_bytes : 0) != DISK_OK)) {
    close(direct);
    direct = -1;
  }
  bool first = true;
  for (int i = 0; i < TEST_ACCESS_READS; i++) {
    SweepRead(d, i, &direct, &first, scratch);
    if (progress) progress(context, i + 1, TEST_ACCESS_READS);
  }
  if (direct >= 0) close(direct);
}

uint64_t PosixDataBytes(DiskHandle handle, ImageContainer *container) {
  PosixDisk *d = Of(handle);
  if (container) *container = d && !d->block ? d->image.container : IMAGE_RAW;
  return d ? d->data_bytes : 0;
}

void PosixWillReadAt(DiskHandle handle, uint64_t offset, size_t count) {
  PosixDisk *d = Of(handle);
  if (d && d->block && !d->writer && InData(d, offset, count))
    posix_fadvise(d->fd, (off_t)(d->data_offset + offset), (off_t)count, POSIX_FADV_WILLNEED);
}

uint32_t PosixSectorSize(DiskHandle handle) {
  PosixDisk *d = Of(handle);
  return d ? d->logical_sector : (uint32_t)SECTOR_SIZE;
}

int PosixReadSector(DiskHandle handle, uint64_t sector, uint8_t *buffer) {
  PosixDisk *d = Of(handle);
  if (!d || d->writer || d->error != DISK_OK || sector >= d->data_bytes / SECTOR_SIZE) return 0;
  // What `list` read ahead is this run's first read of the image.
  if (d->qemu && d->boot_valid && sector < IPL_AREA_SECTORS) {
    memcpy(buffer, d->boot + sector * SECTOR_SIZE, SECTOR_SIZE);
    return 1;
  }
  if (DiskRead(d, buffer, SECTOR_SIZE, d->data_offset + sector * SECTOR_SIZE)) return 1;
  return Fail(d, DISK_IO_ERROR);
}

int DriveLetterToDiskNumber(char) {
  return VOLUME_OPEN_FAILED;
}

void PosixReadAhead(DiskSet *disks, const std::vector<int> &ids) {
  enum { PARALLEL = 4 }; // qemu-nbd starts at once, on two cores
  std::vector<RegisteredDisk *> files;
  for (int id : ids) {
    RegisteredDisk *disk = disks->disks[id];
    if (disk->fd >= 0 && !disk->identity.block && !disk->nbd) files.push_back(disk);
  }
  if (files.size() < 2) return; // one image: opened when read
  std::vector<NbdHead> heads;
  std::vector<RegisteredDisk *> owners;
  for (RegisteredDisk *disk : files) {
    struct stat st;
    if (fstat(disk->fd, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    PosixDisk probe = {};
    probe.fd = disk->fd;
    probe.disk = disk;
    probe.logical_sector = SECTOR_SIZE;
    // A file that cannot be read now fails its open too: reads are never
    // tried again.
    DiskError probed = ProbeFile(&probe, (uint64_t)st.st_size);
    if (probed == DISK_IO_ERROR) disk->ahead_error = probed;
    if (probed != DISK_OK || !probe.qemu || probe.image.encrypted) continue;
    NbdHead head;
    head.path = AbsolutePath(disk->path);
    head.format = probe.image.container;
    heads.push_back(head);
    owners.push_back(disk);
  }
  if (heads.size() < 2) return; // one image: opened when read
  NbdReadHeads(&heads, IPL_AREA_BYTES, PARALLEL);
  for (size_t i = 0; i < heads.size(); i++) {
    RegisteredDisk *disk = owners[i];
    disk->said = heads[i].said.text;
    // A failure is found again, with its reason, when the image is opened.
    if (heads[i].error != DISK_OK) continue;
    disk->ahead_valid = true;
    disk->ahead_bytes = heads[i].size;
    disk->ahead = heads[i].head;
  }
}

bool PosixExtentsPlain(const RegisteredDisk &disk) {
  if (disk.image.container != IMAGE_VMDK || disk.fd < 0) return true;
  std::vector<uint8_t> head(IMAGE_HEAD_BYTES);
  ssize_t n = pread(disk.fd, head.data(), head.size(), 0);
  if (n <= 0) return false;
  std::string path = AbsolutePath(disk.path);
  std::string dir = path.substr(0, path.rfind('/') + 1);
  for (const std::string &name : VmdkExtentNames(head.data(), (size_t)n)) {
    struct stat st;
    if (stat((dir + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  }
  return true;
}
