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

SurveyedDisk SurveyDisk(DiskSet *disks, int number, bool partitions) {
  SurveyedDisk s;
  s.number = number;
  const RegisteredDisk *known = PosixRegistered(disks, number);
  if (!known) {
    s.error = DISK_NO_SUCH_DISK;
    return s;
  }
  s.path = known->path;
  s.model = known->model;
  s.serial = PosixSerial(*known);
  s.image = !known->identity.block;
  s.bytes = known->identity.bytes;
  DiskHandle handle = OpenPhysicalDisk(disks, number, 'r', &s.error);
  if (handle == INVALID_DISK_HANDLE) return s;
  ImageContainer container = IMAGE_RAW;
  s.bytes = PosixDataBytes(handle, &container);
  if (s.image) s.model = ImageContainerName(container);
  static uint8_t area[BOOT_AREA_BUFFER];
  s.has_layout = GetDiskLayout(handle, &s.layout) != 0;
  if (!ReadSectors(handle, IPL_AREA_SECTORS, 0, area)) {
    s.error = DiskHandleError(handle);
    if (s.error == DISK_OK) s.error = DISK_IO_ERROR;
    CloseDisk(handle);
    return s;
  }
  s.error = DISK_OK;
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
  CloseDisk(handle);
  return s;
}

std::vector<SurveyedDisk> SurveyAll(DiskSet *disks, const std::vector<int> &named,
                                    int partitions_of) {
  std::vector<int> numbers;
  const std::vector<PosixDiskEntry> &table = PosixListDisks(disks);
  for (size_t i = 0; i < table.size() && i <= MAX_DISK_NUMBER; i++) {
    DiskError error;
    int n = PosixRegister(disks, std::to_string(i).c_str(), &error);
    if (n >= 0) numbers.push_back(n);
  }
  for (int n : named)
    if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) numbers.push_back(n);
  std::sort(numbers.begin(), numbers.end());
  std::vector<SurveyedDisk> found;
  for (int n : numbers)
    found.push_back(SurveyDisk(disks, n, n == partitions_of));
  for (SurveyedDisk &a : found) {
    if (!a.has_signature || a.signature == 0) continue;
    const RegisteredDisk *ra = PosixRegistered(disks, a.number);
    for (const SurveyedDisk &b : found) {
      if (&a == &b || !b.has_signature || b.signature != a.signature) continue;
      // A loop device and the image file behind it are one disk.
      const RegisteredDisk *rb = PosixRegistered(disks, b.number);
      if (ra->identity.block != rb->identity.block &&
          (ra->identity.tag == rb->path || rb->identity.tag == ra->path))
        continue;
      a.collides_with.push_back(b.number);
    }
  }
  return found;
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
