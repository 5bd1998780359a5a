#include "posix/survey.h"

#include <dirent.h>
#include <fcntl.h>
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

// The kernel's numbers of an AT disk's partitions: its tables read again in
// the disk's logical sectors, as the kernel reads them. False when a read
// failed.
bool PartitionsOf(DiskHandle handle, uint64_t bytes, std::vector<unsigned> *numbers) {
  DiskGeometry g;
  if (!GetDiskGeometry(handle, &g) || g.BytesPerSector < SECTOR_SIZE) return false;
  LogicalReader reader = {handle, g.BytesPerSector / SECTOR_SIZE};
  static uint8_t reply[QUERY_BUFFER_SIZE];
  uint32_t returned = 0;
  if (!BuildDriveLayoutReply(ReadLogical, &reader, bytes / g.BytesPerSector, g.TracksPerCylinder,
                             g.SectorsPerTrack, reply, sizeof reply, &returned))
    return false;
  *numbers = LinuxPartitionNumbers(reply, returned);
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

bool ReadWholeFile(const std::string &path, std::string *contents) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  char buffer[65536];
  contents->clear();
  ssize_t n;
  // Configuration files are small; a bound keeps a FIFO or a device from
  // holding the run.
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && contents->size() < (64u << 20))
    contents->append(buffer, (size_t)n);
  close(fd);
  return n >= 0;
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
  if (partitions && s.format == FORMAT_AT && !PartitionsOf(handle, s.bytes, &s.linux_partitions)) {
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

std::vector<ConfigFile> ReadConfigFiles(const char *root) {
  std::string base = root ? root : "";
  while (!base.empty() && base.back() == '/')
    base.pop_back();
  std::vector<std::string> names = {"/etc/fstab", "/etc/crypttab", "/etc/kernel/cmdline",
                                    "/etc/default/grub", "/boot/grub/grub.cfg"};
  if (!root) names.insert(names.begin() + 2, "/proc/cmdline");
  std::vector<std::string> entries;
  if (DIR *dir = opendir((base + "/boot/loader/entries").c_str())) {
    while (struct dirent *d = readdir(dir)) {
      std::string name = d->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".conf") == 0)
        entries.push_back("/boot/loader/entries/" + name);
    }
    closedir(dir);
  }
  std::sort(entries.begin(), entries.end());
  names.insert(names.end(), entries.begin(), entries.end());
  std::vector<ConfigFile> files;
  for (const std::string &name : names) {
    ConfigFile f;
    f.name = base + name;
    if (ReadWholeFile(f.name, &f.contents)) files.push_back(f);
  }
  return files;
}

std::vector<PartuuidReference> FindReferences(const std::vector<ConfigFile> &files,
                                              uint32_t signature) {
  std::vector<PartuuidReference> found;
  for (const ConfigFile &f : files)
    FindPartuuidReferences(f.name, f.contents, signature, &found);
  return found;
}
