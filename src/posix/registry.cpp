// The run's disks: the table from /sys/dev/block (one listing at most), each disk
// pinned by its identity when it is first named, and what a path names.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "posix/disk.h"

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

// Model shown by `list`: a loop device's backing file, else vendor and
// model.
std::string ModelOf(dev_t rdev) {
  std::string sys = SysOf(rdev);
  std::string model = ReadAttribute(AT_FDCWD, sys + "/loop/backing_file");
  if (!model.empty()) return model;
  std::string vendor = ReadAttribute(AT_FDCWD, sys + "/device/vendor");
  model = ReadAttribute(AT_FDCWD, sys + "/device/model");
  if (!vendor.empty()) model = model.empty() ? vendor : vendor + " " + model;
  return model;
}

// What tells two disks of the same kind apart: a loop device's backing
// file, else the WWID or the serial the kernel reports.
std::string TagOf(dev_t rdev) {
  std::string base = SysOf(rdev);
  for (const char *attribute : {"/loop/backing_file", "/device/wwid", "/device/serial", "/wwid"}) {
    std::string tag = ReadAttribute(AT_FDCWD, base + attribute);
    if (!tag.empty()) return tag;
  }
  return "";
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
    // with a backing file.
    if (faccessat(dir, (dev + "/partition").c_str(), F_OK, 0) == 0) continue;
    if (link.find("/devices/virtual/") != std::string::npos &&
        (name.compare(0, 4, "loop") != 0 || faccessat(dir, (dev + "/loop").c_str(), F_OK, 0) != 0))
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

int Pin(DiskSet *disks, int number, const std::string &path, const std::string &model,
        const DiskIdentity &identity) {
  RegisteredDisk &d = disks->disks[number];
  d.path = path;
  d.model = model;
  d.identity = identity;
  disks->registered[number] = true;
  return number;
}

// The model of table entry i, read once.
std::string TableModel(const DiskSet *disks, size_t i) {
  return disks->modeled ? disks->table[i].model : ModelOf(disks->table_devices[i]);
}

} // namespace

const std::vector<PosixDiskEntry> &PosixListDisks(DiskSet *disks) {
  Scan(disks);
  if (!disks->modeled)
    for (size_t i = 0; i < disks->table.size(); i++)
      CopyString(disks->table[i].model, sizeof disks->table[i].model,
                 ModelOf(disks->table_devices[i]));
  disks->modeled = true;
  return disks->table;
}

int PosixRegister(DiskSet *disks, const char *name, DiskError *error) {
  *error = DISK_NO_SUCH_DISK;
  if (AllDigits(name)) {
    char *end = nullptr;
    unsigned long n = strtoul(name, &end, 10);
    if (n > MAX_DISK_NUMBER) return -1;
    if (disks->registered[n]) return (int)n;
    Scan(disks);
    if (n >= disks->table.size()) return -1;
    DiskIdentity id;
    id.block = true;
    id.rdev = disks->table_devices[n];
    id.bytes = disks->table[n].bytes;
    id.tag = TagOf(id.rdev);
    *error = DISK_OK;
    return Pin(disks, (int)n, disks->table[n].path, TableModel(disks, n), id);
  }

  struct stat st;
  if (stat(name, &st) != 0) return -1;
  DiskIdentity id;
  if (S_ISBLK(st.st_mode)) {
    id.block = true;
    id.rdev = st.st_rdev;
    id.tag = TagOf(st.st_rdev);
  } else if (S_ISREG(st.st_mode)) {
    id.dev = st.st_dev;
    id.ino = st.st_ino;
  } else {
    *error = DISK_NOT_A_DISK;
    return -1;
  }
  *error = DISK_OK;
  for (int n = 0; n <= MAX_DISK_NUMBER; n++) {
    const DiskIdentity &known = disks->disks[n].identity;
    if (disks->registered[n] && known.block == id.block &&
        (id.block ? known.rdev == id.rdev : known.dev == id.dev && known.ino == id.ino))
      return n;
  }
  Scan(disks);
  std::string real = RealPath(name);
  if (real.empty()) real = name;
  if (id.block) {
    for (size_t i = 0; i < disks->table.size() && i <= MAX_DISK_NUMBER; i++)
      if (disks->table_devices[i] == id.rdev) {
        id.bytes = disks->table[i].bytes;
        return Pin(disks, (int)i, real, TableModel(disks, i), id);
      }
  }
  if (real.size() >= POSIX_PATH_SIZE) {
    *error = DISK_NO_SUCH_DISK;
    return -1;
  }
  for (int n = (int)disks->table.size(); n <= MAX_DISK_NUMBER; n++)
    if (!disks->registered[n]) return Pin(disks, n, real, "", id);
  *error = DISK_NO_NUMBER_LEFT;
  return -1;
}

const RegisteredDisk *PosixRegistered(const DiskSet *disks, int number) {
  if (!disks || number < 0 || number > MAX_DISK_NUMBER || !disks->registered[number])
    return nullptr;
  return &disks->disks[number];
}

void PosixHoldBootArea(DiskSet *disks, int number) {
  if (!PosixRegistered(disks, number) || !disks->disks[number].boot_valid) return;
  RegisteredDisk &d = disks->disks[number];
  memcpy(d.shown, d.boot, IPL_AREA_BYTES);
  d.shown_valid = true;
}

DiskError PosixCheckIdentity(const RegisteredDisk &disk, const struct stat &st, uint64_t bytes) {
  const DiskIdentity &id = disk.identity;
  bool same = id.block ? S_ISBLK(st.st_mode) && st.st_rdev == id.rdev &&
                             (id.bytes == 0 || id.bytes == bytes) && TagOf(st.st_rdev) == id.tag
                       : S_ISREG(st.st_mode) && st.st_dev == id.dev && st.st_ino == id.ino;
  return same ? DISK_OK : DISK_OTHER_DISK;
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
    std::string file = ReadAttribute(AT_FDCWD, SysOf(st.st_rdev) + "/loop/backing_file");
    if (!file.empty()) names.push_back(file);
    return names;
  }
  // The listing keeps every loop device that has a backing file.
  const std::vector<PosixDiskEntry> &table = PosixListDisks(disks);
  for (size_t i = 0; i < table.size(); i++) {
    std::string file =
        ReadAttribute(AT_FDCWD, SysOf(disks->table_devices[i]) + "/loop/backing_file");
    struct stat backing;
    if (!file.empty() && stat(file.c_str(), &backing) == 0 && backing.st_dev == st.st_dev &&
        backing.st_ino == st.st_ino)
      names.push_back(table[i].path);
  }
  std::sort(names.begin(), names.end());
  return names;
}

DiskError PosixWritable(const RegisteredDisk &disk) {
  if (disk.identity.block)
    return ReadAttribute(AT_FDCWD, SysOf(disk.identity.rdev) + "/ro") == "1" ? DISK_READ_ONLY
                                                                             : DISK_OK;
  if (access(disk.path.c_str(), W_OK) == 0) return DISK_OK;
  return errno == EROFS ? DISK_READ_ONLY : errno == EACCES ? DISK_NO_PERMISSION : DISK_OK;
}

std::string PosixSerial(const RegisteredDisk &disk) {
  if (!disk.identity.block) return "";
  std::string base = SysOf(disk.identity.rdev);
  for (const char *attribute : {"/device/serial", "/serial", "/device/wwid", "/wwid"}) {
    std::string serial = ReadAttribute(AT_FDCWD, base + attribute);
    if (!serial.empty()) return serial;
  }
  return "";
}
