// The run's disks: the table from /sys/dev/block (one listing at most), each disk
// pinned by its identity when it is first named, and what a path names.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "posix/disk.h"
#include "posix/nbd.h"

namespace {

// Every block device as MAJ:MIN, each a link to its sysfs directory: one
// listing names every device and its number, where /sys/block would need a
// read of each device's dev attribute.
const char kSysDevBlock[] = "/sys/dev/block";

// First line of a sysfs attribute under dir (a directory descriptor, or
// AT_FDCWD for an absolute path), surrounding blanks removed.
std::string ReadAttribute(int dir, const std::string &path) {
  int fd = openat(dir, path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[POSIX_PATH_SIZE];
  ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return "";
  std::string s(buffer, (size_t)n);
  s = s.substr(0, s.find('\n'));
  size_t end = s.find_last_not_of(" \t\r");
  size_t begin = s.find_first_not_of(" \t\r");
  return begin == std::string::npos ? "" : s.substr(begin, end - begin + 1);
}

std::string DevPath(const std::string &name) {
  std::string dev = "/dev/" + name;
  std::replace(dev.begin(), dev.end(), '!', '/');
  return dev;
}

std::string RealPath(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// sysfs directory of a block device.
std::string SysOf(dev_t rdev) {
  char sys[64];
  snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u", major(rdev), minor(rdev));
  return sys;
}

std::string ReadWholeAttribute(const std::string &path);

// Model shown by `list`: a loop device's backing file (whole: a name may
// hold newlines and run past a line), else vendor and model.
std::string ModelOf(dev_t rdev) {
  std::string sys = SysOf(rdev);
  std::string model = ReadWholeAttribute(sys + "/loop/backing_file");
  if (!model.empty()) return model;
  std::string vendor = ReadAttribute(AT_FDCWD, sys + "/device/vendor");
  model = ReadAttribute(AT_FDCWD, sys + "/device/model");
  if (!vendor.empty()) model = model.empty() ? vendor : vendor + " " + model;
  return model;
}

// What tells two disks of the same kind apart: the WWID or the serial the
// kernel reports (a loop device is told apart by its backing file's
// identity instead).
std::string TagOf(dev_t rdev) {
  std::string base = SysOf(rdev);
  for (const char *attribute : {"/device/wwid", "/device/serial", "/wwid"}) {
    std::string tag = ReadAttribute(AT_FDCWD, base + attribute);
    if (!tag.empty()) return tag;
  }
  return "";
}

// The file behind the loop device open on fd, as the kernel reports it:
// false when fd is no loop device or has no file (errno says which, or
// that the query failed).
bool LoopBacking(int fd, dev_t *dev, ino_t *ino) {
  struct loop_info64 info;
  memset(&info, 0, sizeof info);
  if (g_posix_calls.ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return false;
  *dev = (dev_t)info.lo_device;
  *ino = (ino_t)info.lo_inode;
  return true;
}

// A sysfs attribute whole, without its one closing newline: a file name
// may hold newlines and run to a page.
std::string ReadWholeAttribute(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string s;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    s.append(buffer, (size_t)n);
  close(fd);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

struct Scanned {
  dev_t rdev;
  PosixDiskEntry entry;
};

void CopyString(char *out, size_t size, const std::string &s) {
  size_t n = std::min(s.size(), size - 1);
  memcpy(out, s.data(), n);
  out[n] = 0;
}

// The one listing of the system's disks.
void Scan(DiskSet *disks) {
  if (disks->scanned) return;
  disks->scanned = true;
  int dir = open(kSysDevBlock, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *listing = dir >= 0 ? fdopendir(dir) : nullptr;
  if (!listing) {
    if (dir >= 0) close(dir);
    return;
  }
  std::vector<Scanned> found;
  while (struct dirent *d = readdir(listing)) {
    unsigned ma, mi;
    char end;
    if (sscanf(d->d_name, "%u:%u%c", &ma, &mi, &end) != 2) continue;
    std::string dev = d->d_name;
    char target[PATH_MAX];
    ssize_t n = readlinkat(dir, d->d_name, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    std::string link = target;
    std::string name = link.substr(link.rfind('/') + 1);
    // Whole disks only; virtual devices are skipped, except a loop device
    // with a backing file (one without has no size).
    if (faccessat(dir, (dev + "/partition").c_str(), F_OK, 0) == 0) continue;
    if (link.find("/devices/virtual/") != std::string::npos && name.compare(0, 4, "loop") != 0)
      continue;
    uint64_t sectors = strtoull(ReadAttribute(dir, dev + "/size").c_str(), nullptr, 10);
    if (sectors == 0) continue;
    // Only NVMe multipath devices are ever hidden.
    if (name.compare(0, 4, "nvme") == 0 && ReadAttribute(dir, dev + "/hidden") == "1") continue;
    Scanned s;
    memset(&s.entry, 0, sizeof s.entry);
    s.rdev = makedev(ma, mi);
    CopyString(s.entry.path, sizeof s.entry.path, DevPath(name));
    s.entry.bytes = sectors * 512;
    found.push_back(s);
  }
  closedir(listing);
  std::sort(found.begin(), found.end(), [](const Scanned &a, const Scanned &b) {
    return major(a.rdev) != major(b.rdev) ? major(a.rdev) < major(b.rdev)
                                          : minor(a.rdev) < minor(b.rdev);
  });
  for (const Scanned &s : found) {
    disks->table.push_back(s.entry);
    disks->table_devices.push_back(s.rdev);
  }
}

// The whole disk a block device (major:minor) belongs to, as /dev/NAME;
// false when sysfs does not know it or it is a virtual device other than a
// loop device.
bool DiskOfDevice(dev_t dev, char *disk_path, size_t size) {
  std::string real = RealPath(SysOf(dev));
  if (real.empty()) return false;
  if (access((real + "/partition").c_str(), F_OK) == 0) real = real.substr(0, real.rfind('/'));
  std::string name = real.substr(real.rfind('/') + 1);
  if (real.find("/devices/virtual/") != std::string::npos && name.compare(0, 4, "loop") != 0)
    return false;
  CopyString(disk_path, size, DevPath(name));
  return true;
}

bool AllDigits(const char *text) {
  if (*text == '\0') return false;
  for (; *text; text++)
    if (*text < '0' || *text > '9') return false;
  return true;
}

bool SameIdentity(const DiskIdentity &a, const DiskIdentity &b) {
  return a.block == b.block && (a.block ? a.rdev == b.rdev : a.dev == b.dev && a.ino == b.ino);
}

// The identity of the disk open on fd (st its fstat); DISK_OK, or why it
// cannot be known.
DiskError IdentityOf(int fd, const struct stat &st, DiskIdentity *id) {
  if (!S_ISBLK(st.st_mode)) {
    id->dev = st.st_dev;
    id->ino = st.st_ino;
    return DISK_OK;
  }
  id->block = true;
  id->rdev = st.st_rdev;
  uint64_t bytes = 0;
  if (g_posix_calls.ioctl(fd, BLKGETSIZE64, &bytes) != 0) return PosixErrorOf(errno);
  id->bytes = bytes;
  int logical = 0;
  if (g_posix_calls.ioctl(fd, BLKSSZGET, &logical) != 0) return PosixErrorOf(errno);
  id->logical_sector = (uint32_t)logical;
  id->loop = LoopBacking(fd, &id->dev, &id->ino);
  // No loop device (ENOTTY, EINVAL), or one without a file (ENXIO).
  if (!id->loop && errno != ENOTTY && errno != EINVAL && errno != ENXIO) return DISK_IO_ERROR;
  // A loop device is told apart by its file; other devices by serial or WWID.
  if (!id->loop) id->tag = TagOf(st.st_rdev);
  return DISK_OK;
}

// Pins the disk at path, opened once here; an earlier pin of the same disk
// is kept instead.
int Pin(DiskSet *disks, int number, const std::string &path, DiskError *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = PosixErrorOf(errno);
    return -1;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    *error = DISK_NOT_A_DISK;
    return -1;
  }
  RegisteredDisk *d = new RegisteredDisk;
  d->number = number;
  d->path = path;
  // O_NONBLOCK: a path swapped for a FIFO after the stat must not hang us.
  d->fd = g_posix_calls.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
  if (d->fd < 0) {
    d->error = PosixErrorOf(errno);
    d->identity.block = S_ISBLK(st.st_mode);
    d->identity.rdev = st.st_rdev;
    d->identity.dev = st.st_dev;
    d->identity.ino = st.st_ino;
  } else {
    // O_NONBLOCK stays: it changes nothing on a file or a block device.
    if (fstat(d->fd, &st) != 0) {
      close(d->fd);
      d->fd = -1;
      d->error = DISK_IO_ERROR;
    } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
      close(d->fd);
      delete d;
      *error = DISK_NOT_A_DISK;
      return -1;
    } else if ((d->error = IdentityOf(d->fd, st, &d->identity)) != DISK_OK) {
      close(d->fd);
      d->fd = -1;
    } else if (S_ISBLK(st.st_mode)) {
      // A few sectors are read here and there: no read-ahead of a device's
      // pages (a loop device would read them from its file).
      posix_fadvise(d->fd, 0, 0, POSIX_FADV_RANDOM);
    } else {
      d->file_bytes = (uint64_t)st.st_size;
    }
  }
  for (size_t i = 0; i < disks->disks.size(); i++)
    if (SameIdentity(disks->disks[i]->identity, d->identity)) {
      RegisteredDisk *known = disks->disks[i];
      if (known->number < 0) known->number = number;
      if (d->fd >= 0) close(d->fd);
      delete d;
      *error = known->error;
      return (int)i;
    }
  disks->disks.push_back(d);
  *error = d->error;
  return (int)disks->disks.size() - 1;
}

// The pinned disk numbered number, or -1.
int Numbered(const DiskSet *disks, int number) {
  for (size_t i = 0; i < disks->disks.size(); i++)
    if (disks->disks[i]->number == number) return (int)i;
  return -1;
}

} // namespace

DiskError PosixErrorOf(int error) {
  switch (error) {
  case ENOENT:
  case ENOTDIR:
  case ENXIO:
  case ENODEV:
  case ENOMEDIUM:
    return DISK_NO_SUCH_DISK;
  case EACCES:
  case EPERM:
    // Some disks (a virtual machine's own, say) are refused to root too.
    return geteuid() == 0 ? DISK_ROOT_REFUSED : DISK_NO_PERMISSION;
  case EROFS:
    return DISK_READ_ONLY;
  case EISDIR:
    return DISK_NOT_A_DISK;
  default:
    return DISK_IO_ERROR;
  }
}

DiskSet::~DiskSet() {
  for (RegisteredDisk *d : disks) {
    if (d->fd >= 0) close(d->fd);
    NbdClose(d->nbd);
    delete d;
  }
}

const std::vector<PosixDiskEntry> &PosixListDisks(DiskSet *disks) {
  Scan(disks);
  return disks->table;
}

const std::string &PosixModel(DiskSet *disks, int id) {
  RegisteredDisk *d = disks->disks[id];
  if (!d->modeled && d->identity.block && d->number >= 0 && (size_t)d->number < disks->table.size())
    d->model = ModelOf(d->identity.rdev);
  d->modeled = true;
  return d->model;
}

int PosixRegister(DiskSet *disks, const char *name, DiskError *error) {
  *error = DISK_NO_SUCH_DISK;
  if (AllDigits(name)) {
    errno = 0;
    unsigned long long n = strtoull(name, nullptr, 10);
    bool out_of_range = errno != 0;
    Scan(disks);
    if (out_of_range || n >= disks->table.size()) return -1;
    int known = Numbered(disks, (int)n);
    // A device named by path first is not opened again.
    for (size_t i = 0; known < 0 && i < disks->disks.size(); i++) {
      RegisteredDisk *d = disks->disks[i];
      if (d->identity.block && d->identity.rdev == disks->table_devices[n] && d->number < 0) {
        d->number = (int)n;
        known = (int)i;
      }
    }
    if (known >= 0) {
      *error = disks->disks[known]->error;
      return known;
    }
    int id = Pin(disks, (int)n, disks->table[n].path, error);
    // The table's device must be the one the name opened.
    if (id >= 0 && disks->disks[id]->identity.rdev != disks->table_devices[n]) {
      *error = DISK_OTHER_DISK;
      return -1;
    }
    return id;
  }
  std::string real = RealPath(name);
  if (real.empty()) real = name;
  return Pin(disks, -1, real, error);
}

void PosixNumberDisks(DiskSet *disks) {
  const std::vector<PosixDiskEntry> &table = PosixListDisks(disks);
  int next = (int)table.size();
  for (RegisteredDisk *d : disks->disks) {
    if (d->number >= 0) continue;
    if (d->identity.block)
      for (size_t i = 0; i < table.size(); i++)
        if (disks->table_devices[i] == d->identity.rdev) d->number = (int)i;
    if (d->number < 0) d->number = next++;
  }
}

const RegisteredDisk *PosixRegistered(const DiskSet *disks, int id) {
  if (!disks || id < 0 || (size_t)id >= disks->disks.size()) return nullptr;
  return disks->disks[id];
}

void PosixWillRead(const DiskSet *disks, int id, uint64_t bytes) {
  const RegisteredDisk *d = PosixRegistered(disks, id);
  if (d && d->fd >= 0 && d->identity.block)
    posix_fadvise(d->fd, 0, (off_t)bytes, POSIX_FADV_WILLNEED);
}

void PosixHoldBootArea(DiskSet *disks, int id) {
  RegisteredDisk *d = const_cast<RegisteredDisk *>(PosixRegistered(disks, id));
  if (!d || !d->boot_valid) return;
  memcpy(d->shown, d->boot, IPL_AREA_BYTES);
  d->shown_valid = true;
}

DiskError PosixCheckIdentity(const RegisteredDisk &disk, int fd, const struct stat &st,
                             uint64_t bytes) {
  const DiskIdentity &id = disk.identity;
  if (!id.block)
    return S_ISREG(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino ? DISK_OK
                                                                             : DISK_OTHER_DISK;
  if (!S_ISBLK(st.st_mode) || st.st_rdev != id.rdev || (id.bytes != 0 && id.bytes != bytes))
    return DISK_OTHER_DISK;
  dev_t dev = 0;
  ino_t ino = 0;
  bool loop = LoopBacking(fd, &dev, &ino);
  if (loop != id.loop || (loop && (dev != id.dev || ino != id.ino))) return DISK_OTHER_DISK;
  return loop || TagOf(st.st_rdev) == id.tag ? DISK_OK : DISK_OTHER_DISK;
}

PosixPathKind PosixClassifyPath(const char *path, char *disk_path, size_t size) {
  if (size) disk_path[0] = 0;
  struct stat st;
  if (stat(path, &st) != 0) return POSIX_PATH_MISSING;
  if (S_ISREG(st.st_mode)) return POSIX_PATH_IMAGE;
  if (S_ISBLK(st.st_mode)) {
    char sys[64];
    snprintf(sys, sizeof sys, "/sys/dev/block/%u:%u/partition", major(st.st_rdev),
             minor(st.st_rdev));
    if (access(sys, F_OK) != 0) return POSIX_PATH_WHOLE_DISK;
    return DiskOfDevice(st.st_rdev, disk_path, size) ? POSIX_PATH_PARTITION : POSIX_PATH_OTHER;
  }
  if (S_ISDIR(st.st_mode) && DiskOfDevice(st.st_dev, disk_path, size)) return POSIX_PATH_PARTITION;
  return POSIX_PATH_OTHER;
}

std::vector<std::string> PosixSameDiskNames(DiskSet *disks, const struct stat &st) {
  std::vector<std::string> names;
  if (S_ISBLK(st.st_mode)) {
    std::string file = ReadWholeAttribute(SysOf(st.st_rdev) + "/loop/backing_file");
    if (!file.empty()) names.push_back(file);
    return names;
  }
  // The listing keeps every loop device that has a backing file; those the
  // run holds open are known by their pinned identity instead.
  const std::vector<PosixDiskEntry> &table = PosixListDisks(disks);
  for (size_t i = 0; i < table.size(); i++) {
    bool held = false;
    for (const RegisteredDisk *d : disks->disks)
      held =
          held || (d->fd >= 0 && d->identity.block && d->identity.rdev == disks->table_devices[i]);
    if (held) continue;
    std::string file = ReadWholeAttribute(SysOf(disks->table_devices[i]) + "/loop/backing_file");
    struct stat backing;
    if (!file.empty() && stat(file.c_str(), &backing) == 0 && backing.st_dev == st.st_dev &&
        backing.st_ino == st.st_ino)
      names.push_back(table[i].path);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool PosixSameDisk(int fd, const DiskIdentity &id) {
  struct stat other;
  if (fstat(fd, &other) != 0) return false;
  // A loop device's backing file: the file the kernel reports.
  if (id.block)
    return id.loop && S_ISREG(other.st_mode) && other.st_dev == id.dev && other.st_ino == id.ino;
  // A loop device over the image file.
  dev_t dev = 0;
  ino_t ino = 0;
  return S_ISBLK(other.st_mode) && LoopBacking(fd, &dev, &ino) && dev == id.dev && ino == id.ino;
}

DiskError PosixWritable(const RegisteredDisk &disk, std::string *said) {
  if (disk.identity.block)
    return ReadAttribute(AT_FDCWD, SysOf(disk.identity.rdev) + "/ro") == "1" ? DISK_READ_ONLY
                                                                             : DISK_OK;
  if (access(disk.path.c_str(), W_OK) != 0)
    return errno == EROFS ? DISK_READ_ONLY : errno == EACCES ? DISK_NO_PERMISSION : DISK_OK;
  // A VM's raw image: QEMU's lock bytes. Other images: QEMU says.
  if (!IsQemuImage(disk.image.container)) return disk.fd >= 0 ? QemuLockHeld(disk.fd) : DISK_OK;
  if (disk.image.encrypted) return DISK_IMAGE_ENCRYPTED;
  if (disk.image.read_only || !PosixExtentsPlain(disk)) return DISK_IMAGE_READ_ONLY;
  QemuSaid words;
  char *real = realpath(disk.path.c_str(), nullptr);
  DiskError checked = QemuCheckImage(real ? real : disk.path, disk.image.container, &words);
  free(real);
  if (said) *said = words.text;
  return checked;
}

std::string PosixSerial(const RegisteredDisk &disk) {
  // A loop device has none: its backing file is shown instead.
  if (!disk.identity.block || disk.identity.loop) return "";
  std::string base = SysOf(disk.identity.rdev);
  for (const char *attribute : {"/device/serial", "/serial", "/device/wwid", "/wwid"}) {
    std::string serial = ReadAttribute(AT_FDCWD, base + attribute);
    if (!serial.empty()) return serial;
  }
  return "";
}
