#include "posix/survey.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

struct LogicalReader {
  DiskHandle handle;
  uint32_t scale; // 512-byte sectors per logical sector
};

int ReadLogical(void *context, uint64_t sector, uint8_t *buffer) {
  LogicalReader *r = static_cast<LogicalReader *>(context);
  uint64_t first = sector * r->scale;
  if (first > UINT32_MAX) return 0;
  return ReadSectors(r->handle, 1, (uint32_t)first, buffer);
}

// An AT disk's partitions as the kernel numbers them, and where each entry
// of its tables lies: the tables read again in the disk's logical sectors,
// as the kernel reads them. False when a read failed.
bool PartitionsOf(DiskHandle handle, uint64_t bytes, SurveyedDisk *s) {
  DiskGeometry g;
  if (!GetDiskGeometry(handle, &g) || g.BytesPerSector < SECTOR_SIZE) return false;
  LogicalReader reader = {handle, g.BytesPerSector / SECTOR_SIZE};
  static uint8_t reply[QUERY_BUFFER_SIZE];
  uint32_t returned = 0;
  if (!BuildDriveLayoutReply(ReadLogical, &reader, bytes / g.BytesPerSector, g.TracksPerCylinder,
                             g.SectorsPerTrack, reply, sizeof reply, &returned))
    return false;
  s->partitions = PartitionsOfLayout(reply, returned);
  s->sector_bytes = g.BytesPerSector;
  s->linux_partitions.clear();
  for (const DiskPartition &p : s->partitions)
    s->linux_partitions.push_back(p.number);
  s->entry_starts.clear();
  for (uint32_t at = LAYOUT_HEADER_SIZE; at + LAYOUT_ENTRY_SIZE <= returned;
       at += LAYOUT_ENTRY_SIZE)
    s->entry_starts.push_back(LoadLe32(reply + at) | (uint64_t)LoadLe32(reply + at + 4) << 32);
  return true;
}

// The description of a pinned disk, before anything is read; model and
// serial only where they are shown (shown).
SurveyedDisk Described(DiskSet *disks, int id, bool shown = true) {
  SurveyedDisk s;
  s.id = id;
  const RegisteredDisk *known = PosixRegistered(disks, id);
  s.number = known->number;
  s.path = known->path;
  if (shown) s.model = PosixModel(disks, id);
  if (shown) s.serial = PosixSerial(*known);
  s.image = !known->identity.block;
  s.bytes = known->identity.bytes;
  return s;
}

// Only as far as the signature: sector 0, and sector 16 of a PC-9821 disk.
void SurveyLight(DiskHandle handle, SurveyedDisk *s) {
  uint8_t sector[SECTOR_SIZE];
  if (!PosixReadSector(handle, 0, sector)) {
    s->error = DiskHandleError(handle) == DISK_OK ? DISK_IO_ERROR : DiskHandleError(handle);
    return;
  }
  switch (ClassifySectorZero(sector)) {
  case LAYOUT_AT:
    s->format = FORMAT_AT;
    s->signature = LoadLe32(sector + AT_SIGNATURE_OFFSET);
    break;
  case LAYOUT_PC98:
    if (!PosixReadSector(handle, PC98_SIGNATURE_OFFSET / SECTOR_SIZE, sector)) {
      s->error = DiskHandleError(handle) == DISK_OK ? DISK_IO_ERROR : DiskHandleError(handle);
      return;
    }
    s->format = FORMAT_PC98;
    s->signature = LoadLe32(sector);
    break;
  case LAYOUT_GPT:
    s->format = FORMAT_GPT;
    break;
  default:
    s->format = FORMAT_NONE;
  }
  s->has_signature = s->format == FORMAT_AT || s->format == FORMAT_PC98;
}

// A loop device and the image file behind it.
bool SameDisk(const RegisteredDisk &a, const RegisteredDisk &b) {
  const DiskIdentity &x = a.identity, &y = b.identity;
  return (x.loop && !y.block && x.dev == y.dev && x.ino == y.ino) ||
         (y.loop && !x.block && y.dev == x.dev && y.ino == x.ino);
}

} // namespace

// openat2 as HOW says; where the kernel has none, openat without following
// a last link (the links inside are then followed as the system does).
static int OpenUnder(int dir, const char *name, const struct open_how &how) {
  int fd = (int)syscall(SYS_openat2, dir, name, &how, sizeof how);
  if (fd < 0 && errno == ENOSYS) fd = openat(dir, name, (int)how.flags | O_NOFOLLOW);
  return fd;
}

bool ReadFileUnder(int dir, const std::string &path, size_t bound, std::string *contents,
                   FileStatus *status) {
  *status = FileStatus();
  contents->clear();
  auto failed = [status](FileProblem problem, int error = 0) {
    status->problem = problem;
    status->error = error;
    return false;
  };
  // Symbolic links resolve inside dir; what the name leads to is looked at
  // before it is opened for reading (opening a device may do something).
  struct open_how how = {};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = dir == AT_FDCWD ? 0 : RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  const char *name = path.c_str();
  while (dir != AT_FDCWD && *name == '/')
    name++;
  int fd = OpenUnder(dir, name, how);
  if (fd < 0 && errno == ENOENT) {
    // The name is there, what it links to is not.
    how.flags |= O_NOFOLLOW;
    int link = OpenUnder(dir, name, how);
    if (link >= 0) {
      close(link);
      return failed(FILE_DANGLING);
    }
    errno = ENOENT;
  }
  if (fd < 0) return failed(FILE_SYSTEM_ERROR, errno);
  struct stat st;
  int error = fstat(fd, &st) == 0 ? 0 : errno;
  close(fd);
  if (error) return failed(FILE_SYSTEM_ERROR, error);
  if (S_ISLNK(st.st_mode)) return failed(FILE_SYSTEM_ERROR, ELOOP);
  if (S_ISDIR(st.st_mode)) return failed(FILE_DIRECTORY);
  if (S_ISFIFO(st.st_mode)) return failed(FILE_FIFO);
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return failed(FILE_DEVICE);
  if (!S_ISREG(st.st_mode)) return failed(FILE_OTHER_TYPE);
  status->bytes = (uint64_t)st.st_size;
  if ((uint64_t)st.st_size > bound) return failed(FILE_TOO_LARGE);
  how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  fd = OpenUnder(dir, name, how);
  if (fd < 0) return failed(FILE_SYSTEM_ERROR, errno);
  struct stat now;
  // Replaced in between by something else: looked at again.
  if (fstat(fd, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino ||
      !S_ISREG(now.st_mode)) {
    close(fd);
    return failed(FILE_SYSTEM_ERROR, EAGAIN);
  }
  // Read to the bound and a byte past it: a file that grew is too large.
  contents->resize((size_t)std::min<uint64_t>((uint64_t)now.st_size, bound) + 1);
  size_t have = 0;
  ssize_t n = 0;
  while (have < contents->size() &&
         (n = read(fd, &(*contents)[have], contents->size() - have)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    have += (size_t)n;
    if (have == contents->size() && have <= bound) contents->resize(std::min(have * 2, bound + 1));
  }
  error = n < 0 ? errno : 0;
  close(fd);
  if (error) {
    contents->clear();
    return failed(FILE_SYSTEM_ERROR, error);
  }
  if (have > bound) {
    status->bytes = have;
    contents->clear();
    return failed(FILE_TOO_LARGE);
  }
  contents->resize(have);
  return true;
}

bool ReadWholeFile(const std::string &path, std::string *contents, FileStatus *status) {
  FileStatus ignored;
  return ReadFileUnder(AT_FDCWD, path, kFileBound, contents, status ? status : &ignored);
}

SurveyedDisk SurveyOpen(DiskSet *disks, int id, DiskHandle handle, bool partitions) {
  SurveyedDisk s = Described(disks, id);
  ImageContainer container = IMAGE_RAW;
  s.bytes = PosixDataBytes(handle, &container);
  if (s.image) s.model = ImageContainerName(container);
  static uint8_t area[BOOT_AREA_BUFFER];
  s.has_layout = GetDiskLayout(handle, &s.layout) != 0;
  if (!ReadSectors(handle, IPL_AREA_SECTORS, 0, area)) {
    s.error = DiskHandleError(handle);
    if (s.error == DISK_OK) s.error = DISK_IO_ERROR;
    return s;
  }
  LayoutKind kind = ClassifySectorZero(area);
  if (!s.has_layout) {
    s.format = kind == LAYOUT_GPT ? FORMAT_GPT : FORMAT_UNKNOWN;
  } else {
    switch (ClassifyBootArea(area, s.layout.signature)) {
    case AtCompatible:
      s.format = FORMAT_AT;
      break;
    case Pc9821:
      s.format = FORMAT_PC98;
      break;
    case NoIpl:
      s.format = FORMAT_NONE;
      break;
    default:
      s.format = FORMAT_UNKNOWN;
    }
  }
  s.has_signature = s.format == FORMAT_AT || s.format == FORMAT_PC98;
  if (s.has_signature) s.signature = s.layout.signature;
  // A disk that fails a read here is not one to write.
  if (partitions && s.format == FORMAT_AT && !PartitionsOf(handle, s.bytes, &s)) {
    s.error = DiskHandleError(handle) == DISK_OK ? DISK_IO_ERROR : DiskHandleError(handle);
    s.format = FORMAT_UNREAD;
    s.has_signature = false;
  }
  return s;
}

SurveyedDisk SurveyDisk(DiskSet *disks, int id, bool partitions) {
  DiskError error = DISK_OK;
  DiskHandle handle = OpenPhysicalDisk(disks, id, 'r', &error);
  if (handle == INVALID_DISK_HANDLE) {
    SurveyedDisk s = Described(disks, id);
    s.error = error;
    return s;
  }
  SurveyedDisk s = SurveyOpen(disks, id, handle, partitions);
  CloseDisk(handle);
  return s;
}

std::vector<SurveyedDisk> SurveyAll(DiskSet *disks, const std::vector<int> &named, int full,
                                    bool light) {
  std::vector<int> ids;
  const std::vector<PosixDiskEntry> &table = PosixListDisks(disks);
  for (size_t i = 0; i < table.size(); i++) {
    DiskError error;
    int id = PosixRegister(disks, std::to_string(i).c_str(), &error);
    if (id >= 0) ids.push_back(id);
  }
  for (int id : named)
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  PosixNumberDisks(disks);
  std::sort(ids.begin(), ids.end(), [disks](int a, int b) {
    return PosixRegistered(disks, a)->number < PosixRegistered(disks, b)->number;
  });
  if (light) PosixReadAhead(disks, ids);
  // Every disk's first sectors asked for at once: one wait, not one a disk.
  for (int id : ids)
    PosixWillRead(disks, id,
                  light && id != full ? PC98_SIGNATURE_OFFSET + SECTOR_SIZE : IPL_AREA_BYTES);
  std::vector<SurveyedDisk> found;
  for (int id : ids) {
    if (!light || id == full) {
      found.push_back(SurveyDisk(disks, id, id == full));
      continue;
    }
    SurveyedDisk s = Described(disks, id, false);
    DiskHandle handle = OpenPhysicalDisk(disks, id, 'r', &s.error);
    if (handle != INVALID_DISK_HANDLE) {
      ImageContainer container = IMAGE_RAW;
      s.bytes = PosixDataBytes(handle, &container);
      if (s.image) s.model = ImageContainerName(container);
      SurveyLight(handle, &s);
      CloseDisk(handle);
    }
    found.push_back(s);
  }
  for (SurveyedDisk &a : found)
    for (const SurveyedDisk *b :
         SurveyHolders(disks, found, a.id, a.has_signature ? a.signature : 0))
      a.collides_with.push_back(b->number);
  return found;
}

std::vector<const SurveyedDisk *> SurveyHolders(const DiskSet *disks,
                                                const std::vector<SurveyedDisk> &found, int target,
                                                uint32_t signature) {
  std::vector<const SurveyedDisk *> holders;
  if (signature == 0) return holders;
  const RegisteredDisk *t = PosixRegistered(disks, target);
  for (const SurveyedDisk &d : found)
    if (d.id != target && d.has_signature && d.signature == signature &&
        !SameDisk(*t, *PosixRegistered(disks, d.id)))
      holders.push_back(&d);
  return holders;
}

const char *SurveyFormatKey(SurveyFormat format) {
  switch (format) {
  case FORMAT_AT:
    return "at";
  case FORMAT_PC98:
    return "pc98";
  case FORMAT_GPT:
    return "gpt";
  case FORMAT_NONE:
    return "none";
  case FORMAT_UNKNOWN:
    return "unknown";
  default:
    return nullptr;
  }
}

ConfigFiles ReadConfigFiles(const char *root) {
  ConfigFiles out;
  std::string base = root ? root : "";
  while (!base.empty() && base.back() == '/')
    base.pop_back();
  int dir =
      open(root ? (base.empty() ? "/" : base.c_str()) : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    out.root_error = errno;
    return out;
  }
  std::vector<std::string> names = {"/etc/fstab", "/etc/crypttab", "/etc/kernel/cmdline",
                                    "/etc/default/grub", "/boot/grub/grub.cfg"};
  if (!root) names.insert(names.begin() + 2, "/proc/cmdline");
  std::vector<std::string> entries;
  struct open_how how = {};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  int entries_fd = (int)syscall(SYS_openat2, dir, "boot/loader/entries", &how, sizeof how);
  if (entries_fd < 0 && errno == ENOSYS)
    entries_fd = openat(dir, "boot/loader/entries", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (DIR *d = entries_fd >= 0 ? fdopendir(entries_fd) : nullptr) {
    out.any = true;
    while (struct dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".conf") == 0)
        entries.push_back("/boot/loader/entries/" + name);
    }
    closedir(d);
  } else if (entries_fd >= 0) {
    close(entries_fd);
  }
  std::sort(entries.begin(), entries.end());
  names.insert(names.end(), entries.begin(), entries.end());
  size_t total = 0;
  for (const std::string &name : names) {
    ConfigFile f;
    f.name = base + name;
    FileStatus status;
    bool read =
        ReadFileUnder(name == "/proc/cmdline" ? AT_FDCWD : dir, name,
                      std::min(kFileBound, kConfigTotalBound - total), &f.contents, &status);
    // Left out for the total only: what was read before used it.
    if (status.problem == FILE_TOO_LARGE && status.bytes <= kFileBound)
      status.problem = FILE_OVER_TOTAL;
    if (read) {
      total += f.contents.size();
      out.read.push_back(std::move(f));
    } else if (!(status.problem == FILE_SYSTEM_ERROR && status.error == ENOENT)) {
      out.unread.push_back({f.name, status});
    }
    if (name != "/proc/cmdline" && !(status.problem == FILE_SYSTEM_ERROR && status.error == ENOENT))
      out.any = true;
  }
  close(dir);
  return out;
}

std::vector<PartuuidReference> FindReferences(const std::vector<ConfigFile> &files,
                                              uint32_t signature, size_t limit, size_t *more) {
  std::vector<PartuuidReference> found;
  size_t others = 0;
  for (const ConfigFile &f : files)
    ScanPartuuids(f.contents, [&](const PartuuidToken &t) {
      if (t.signature != signature) return;
      if (found.size() < limit)
        found.push_back({f.name, t.line, t.partition});
      else
        others++;
    });
  if (more) *more = others;
  return found;
}

const char *DiskErrorKey(DiskError error) {
  static const char *const kKeys[] = {"ok",
                                      "no-such-disk",
                                      "no-permission",
                                      "locked",
                                      "not-a-disk",
                                      "too-short",
                                      "bad-container",
                                      "backup-failed",
                                      "io-error",
                                      "unsupported-image",
                                      "read-only",
                                      "changed",
                                      "root-refused",
                                      "other-disk",
                                      "no-number-left",
                                      "sector-size",
                                      "no-layout",
                                      "not-expected",
                                      "no-boot-mark",
                                      "format-unknown",
                                      "sector-unsupported",
                                      "write-undone",
                                      "write-left-new",
                                      "write-torn",
                                      "write-unverified",
                                      "unknown",
                                      "image-in-use",
                                      "image-refused",
                                      "image-encrypted",
                                      "image-read-only",
                                      "image-check-failed",
                                      "no-qemu"};
  static_assert(sizeof kKeys / sizeof *kKeys == DISK_NO_QEMU + 1, "one key per DiskError");
  return kKeys[error];
}
