#include "posix/winrefs.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <memory>

#include <hivex.h>
// libntfs-3g's headers need the types above first, declare C, and define
// min and max (after every C++ header).
// clang-format off: inode.h before dir.h
extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logfile.h>
#include <ntfs-3g/volume.h>
}
// clang-format on

#include "disk/bootrecord.h"
#include "disk/layout.h"

extern char **environ;

namespace {

enum {
  BCD_DESCRIPTION = 0x12000004,
  MAX_HIVE_BYTES = 256 << 20,
  TYPE_DYNAMIC = 0x42,
  TYPE_EFI = 0xEF,
};

const char kBcdPath[] = "\\Boot\\BCD";
const char kEfiBcdPath[] = "\\EFI\\Microsoft\\Boot\\BCD";
const char kSystemPath[] = "\\Windows\\System32\\config\\SYSTEM";

// A reference and the place of its signature in the hive file.
struct Found {
  WindowsReference reference;
  uint64_t hive_offset;
};

std::string Utf16ToUtf8(const char *data, size_t size) {
  std::string out;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint32_t c = (uint8_t)data[i] | (uint8_t)data[i + 1] << 8;
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < size) {
      uint32_t low = (uint8_t)data[i + 2] | (uint8_t)data[i + 3] << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | c >> 6);
      out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | c >> 12);
      out += (char)(0x80 | (c >> 6 & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | c >> 18);
      out += (char)(0x80 | (c >> 12 & 0x3F));
      out += (char)(0x80 | (c >> 6 & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct HiveCloser {
  void operator()(hive_h *h) const { hivex_close(h); }
};
typedef std::unique_ptr<hive_h, HiveCloser> Hive;

// libhivex reads files: the hive's bytes through a memory file.
Hive OpenHive(const std::vector<uint8_t> &bytes) {
  int fd = memfd_create("hive", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      close(fd);
      return nullptr;
    }
    done += (size_t)n;
  }
  char name[64];
  snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  hive_h *h = hivex_open(name, 0);
  close(fd);
  return Hive(h);
}

std::string ValueData(hive_h *h, hive_value_h value, hive_type *type) {
  size_t size = 0;
  char *data = hivex_value_value(h, value, type, &size);
  if (!data) return std::string();
  std::string bytes(data, size);
  free(data);
  return bytes;
}

std::string KeyName(hive_h *h, hive_node_h node) {
  char *name = hivex_node_name(h, node);
  std::string text = name ? name : "";
  free(name);
  return text;
}

// The file offset of a value's data: its data cell plus the cell's size field.
bool DataOffset(hive_h *h, hive_value_h value, uint64_t *offset) {
  size_t length = 0;
  hive_value_h cell = hivex_value_data_cell_offset(h, value, &length);
  if (cell == 0) return false; // inline in the value record
  *offset = cell + 4;
  return true;
}

struct HiveResult {
  std::vector<Found> found;
  bool names_new = false;
};

void ScanBcd(hive_h *h, uint32_t old_signature, bool has_new, uint32_t new_signature,
             HiveResult *result) {
  hive_node_h objects = hivex_node_get_child(h, hivex_root(h), "Objects");
  if (!objects) return;
  std::unique_ptr<hive_node_h, decltype(&free)> list(hivex_node_children(h, objects), &free);
  for (hive_node_h *o = list.get(); o && *o; o++) {
    hive_node_h elements = hivex_node_get_child(h, *o, "Elements");
    if (!elements) continue;
    std::string description;
    char key[16];
    snprintf(key, sizeof key, "%08x", (unsigned)BCD_DESCRIPTION);
    if (hive_node_h d = hivex_node_get_child(h, elements, key)) {
      if (hive_value_h v = hivex_node_get_value(h, d, "Element")) {
        hive_type type;
        std::string text = ValueData(h, v, &type);
        description = Utf16ToUtf8(text.data(), text.size());
      }
    }
    std::unique_ptr<hive_node_h, decltype(&free)> els(hivex_node_children(h, elements), &free);
    for (hive_node_h *e = els.get(); e && *e; e++) {
      std::string name = KeyName(h, *e);
      char *end = nullptr;
      unsigned long element = strtoul(name.c_str(), &end, 16);
      if (name.size() != 8 || *end || !IsDeviceElement((uint32_t)element)) continue;
      hive_value_h v = hivex_node_get_value(h, *e, "Element");
      if (!v) continue;
      hive_type type;
      std::string data = ValueData(h, v, &type);
      if (type != hive_t_REG_BINARY) continue;
      const uint8_t *bytes = (const uint8_t *)data.data();
      BcdDevice named = ParseBcdDevice(bytes, data.size(), new_signature);
      if (has_new && (named.form == BCD_PARTITION || named.form == BCD_NESTED) &&
          named.signature == new_signature)
        result->names_new = true;
      BcdDevice device = ParseBcdDevice(bytes, data.size(), old_signature);
      if ((device.form != BCD_PARTITION && device.form != BCD_NESTED) ||
          device.signature != old_signature)
        continue;
      Found f;
      f.reference.store = STORE_BCD;
      f.reference.object = KeyName(h, *o);
      f.reference.description = description;
      f.reference.element = (uint32_t)element;
      f.reference.form = device.form;
      f.reference.signature = device.signature;
      f.reference.partition_start = device.partition_start;
      uint64_t at;
      f.hive_offset = DataOffset(h, v, &at) ? at + device.signature_at : 0;
      result->found.push_back(f);
    }
  }
}

void ScanMountedDevices(hive_h *h, uint32_t old_signature, bool has_new, uint32_t new_signature,
                        HiveResult *result) {
  hive_node_h key = hivex_node_get_child(h, hivex_root(h), "MountedDevices");
  if (!key) return;
  std::unique_ptr<hive_value_h, decltype(&free)> values(hivex_node_values(h, key), &free);
  for (hive_value_h *v = values.get(); v && *v; v++) {
    hive_type type;
    std::string data = ValueData(h, *v, &type);
    uint32_t signature;
    uint64_t start;
    if (!ParseMountedDevice((const uint8_t *)data.data(), data.size(), &signature, &start))
      continue;
    if (has_new && signature == new_signature) result->names_new = true;
    if (signature != old_signature) continue;
    char *name = hivex_value_key(h, *v);
    Found f;
    f.reference.store = STORE_MOUNTED_DEVICES;
    f.reference.object = name ? name : "";
    free(name);
    f.reference.description = MountedDeviceName(f.reference.object);
    f.reference.signature = signature;
    f.reference.partition_start = start;
    uint64_t at;
    f.hive_offset = DataOffset(h, *v, &at) ? at : 0;
    result->found.push_back(f);
  }
}

// One store's bytes: base block checks, then the references.
void ScanStore(const std::vector<uint8_t> &bytes, WindowsStoreKind kind, unsigned partition,
               const std::string &path, uint32_t old_signature, bool has_new,
               uint32_t new_signature, WindowsScan *scan, HiveResult *result) {
  HiveState state = CheckHiveBaseBlock(bytes.data(), bytes.size());
  if (state == HIVE_NOT_A_HIVE) {
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, partition, path + ": not a registry hive"});
    return;
  }
  // A dirty hive's logs may hold references the file does not show yet.
  if (state == HIVE_DIRTY) scan->problems.push_back({WINDOWS_HIVE_DIRTY, partition, path});
  if (state == HIVE_BAD_CHECKSUM)
    scan->problems.push_back({WINDOWS_HIVE_CHECKSUM, partition, path});
  Hive h = OpenHive(bytes);
  if (!h) {
    if (state == HIVE_CLEAN || state == HIVE_DIRTY)
      scan->problems.push_back(
          {WINDOWS_NOT_SEARCHED, partition, path + ": " + strerror(errno ? errno : EINVAL)});
    return;
  }
  scan->stores++;
  if (kind == STORE_BCD)
    ScanBcd(h.get(), old_signature, has_new, new_signature, result);
  else
    ScanMountedDevices(h.get(), old_signature, has_new, new_signature, result);
  if (result->names_new) scan->problems.push_back({WINDOWS_NEW_NAMED, partition, path});
  for (Found &f : result->found) {
    f.reference.store_partition = partition;
    f.reference.store_path = path;
  }
}

// libntfs-3g over a partition of the caller's disk, read-only.
struct Volume {
  const DiskBytes *disk;
  uint64_t start, bytes;
  int64_t position;
};

Volume *VolumeOf(struct ntfs_device *dev) {
  return (Volume *)dev->d_private;
}

int DevOpen(struct ntfs_device *dev, int) {
  NDevSetOpen(dev);
  NDevSetReadOnly(dev);
  return 0;
}
int DevClose(struct ntfs_device *dev) {
  NDevClearOpen(dev);
  return 0;
}
s64 DevPread(struct ntfs_device *dev, void *buffer, s64 count, s64 offset) {
  Volume *v = VolumeOf(dev);
  if (offset < 0 || count < 0) {
    errno = EINVAL;
    return -1;
  }
  if ((uint64_t)offset >= v->bytes) return 0;
  if ((uint64_t)count > v->bytes - offset) count = (s64)(v->bytes - offset);
  if (!v->disk->read(v->disk->context, v->start + offset, buffer, (size_t)count)) {
    errno = EIO;
    return -1;
  }
  return count;
}
s64 DevSeek(struct ntfs_device *dev, s64 offset, int whence) {
  Volume *v = VolumeOf(dev);
  s64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? v->position : (s64)v->bytes;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
    errno = EINVAL;
    return -1;
  }
  v->position = base + offset;
  return v->position;
}
s64 DevRead(struct ntfs_device *dev, void *buffer, s64 count) {
  s64 n = DevPread(dev, buffer, count, VolumeOf(dev)->position);
  if (n > 0) VolumeOf(dev)->position += n;
  return n;
}
s64 DevWrite(struct ntfs_device *, const void *, s64) {
  errno = EROFS;
  return -1;
}
s64 DevPwrite(struct ntfs_device *, const void *, s64, s64) {
  errno = EROFS;
  return -1;
}
int DevSync(struct ntfs_device *) {
  return 0;
}
int DevStat(struct ntfs_device *dev, struct stat *st) {
  memset(st, 0, sizeof *st);
  st->st_mode = S_IFREG;
  st->st_size = (off_t)VolumeOf(dev)->bytes;
  return 0;
}
int DevIoctl(struct ntfs_device *, unsigned long, void *) {
  errno = ENOTTY;
  return -1;
}

struct ntfs_device_operations kVolumeOps = {DevOpen,  DevClose,  DevSeek, DevRead, DevWrite,
                                            DevPread, DevPwrite, DevSync, DevStat, DevIoctl};

struct AttrCloser {
  void operator()(ntfs_attr *na) const {
    ntfs_inode *ni = na->ni;
    ntfs_attr_close(na);
    ntfs_inode_close(ni);
  }
};
typedef std::unique_ptr<ntfs_attr, AttrCloser> Attr;

// A file's unnamed data stream; path with '/' separators.
Attr OpenData(ntfs_volume *vol, const char *path) {
  ntfs_inode *ni = ntfs_pathname_to_inode(vol, nullptr, path);
  if (!ni) return nullptr;
  ntfs_attr *na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
  if (!na) {
    ntfs_inode_close(ni);
    return nullptr;
  }
  return Attr(na);
}

bool ReadAll(ntfs_attr *na, std::vector<uint8_t> *bytes) {
  if (na->data_size < 0 || na->data_size > MAX_HIVE_BYTES) return false;
  bytes->resize((size_t)na->data_size);
  s64 done = 0;
  while (done < na->data_size) {
    s64 n = ntfs_attr_pread(na, done, na->data_size - done, bytes->data() + done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool Hibernated(ntfs_volume *vol) {
  Attr na = OpenData(vol, "/hiberfil.sys");
  char magic[4] = {};
  if (!na || ntfs_attr_pread(na.get(), 0, 4, magic) != 4) return false;
  return memcmp(magic, "hibr", 4) == 0 || memcmp(magic, "HIBR", 4) == 0;
}

bool Unclean(ntfs_volume *vol) {
  if (vol->flags & VOLUME_IS_DIRTY) return true;
  ntfs_inode *ni = ntfs_inode_open(vol, FILE_LogFile);
  if (!ni) return true;
  Attr na(ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0));
  if (!na) {
    ntfs_inode_close(ni);
    return true;
  }
  RESTART_PAGE_HEADER *rp = nullptr;
  bool clean = ntfs_check_logfile(na.get(), &rp) && ntfs_is_logfile_clean(na.get(), rp);
  free(rp);
  return !clean;
}

// The disk offset of the hive's byte at offset, where the data has one.
bool MapToDisk(ntfs_volume *vol, ntfs_attr *na, uint64_t partition_start, uint64_t offset,
               uint64_t *disk_offset) {
  if (offset + 4 > (uint64_t)na->initialized_size) return false;
  LCN lcn = ntfs_attr_vcn_to_lcn(na, (VCN)(offset >> vol->cluster_size_bits));
  if (lcn < 0) return false;
  *disk_offset = partition_start + ((uint64_t)lcn << vol->cluster_size_bits) +
                 (offset & (vol->cluster_size - 1));
  return true;
}

void ScanNtfs(const DiskBytes &disk, const DiskPartition &p, const char *ntfs_path,
              const char *shown_path, WindowsStoreKind kind, ntfs_volume *vol,
              uint32_t old_signature, bool has_new, uint32_t new_signature, WindowsScan *scan) {
  Attr na = OpenData(vol, ntfs_path);
  if (!na) return;
  std::vector<uint8_t> bytes;
  if (!ReadAll(na.get(), &bytes)) {
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, p.number,
                              std::string(shown_path) + ": " + strerror(errno ? errno : EIO)});
    return;
  }
  HiveResult result;
  ScanStore(bytes, kind, p.number, shown_path, old_signature, has_new, new_signature, scan,
            &result);
  bool plain = NAttrNonResident(na.get()) &&
               !(na->data_flags & (ATTR_IS_COMPRESSED | ATTR_IS_SPARSE | ATTR_IS_ENCRYPTED));
  if (!result.found.empty() && !plain)
    scan->problems.push_back({WINDOWS_NOT_PLAIN, p.number, shown_path});
  for (Found &f : result.found) {
    uint64_t at;
    uint8_t check[4];
    // Located only where the disk itself holds the signature there.
    if (plain && f.hive_offset && MapToDisk(vol, na.get(), p.start, f.hive_offset, &at) &&
        disk.read(disk.context, at, check, 4) && LoadLe32(check) == old_signature) {
      f.reference.located = true;
      f.reference.disk_offset = at;
    }
    scan->references.push_back(f.reference);
  }
}

void ScanNtfsPartition(const DiskBytes &disk, const DiskPartition &p, uint32_t old_signature,
                       bool has_new, uint32_t new_signature, WindowsScan *scan) {
  Volume volume = {&disk, p.start, p.bytes, 0};
  struct ntfs_device *dev = ntfs_device_alloc("kormelde", 0, &kVolumeOps, &volume);
  if (!dev) return;
  ntfs_volume *vol = ntfs_device_mount(dev, NTFS_MNT_RDONLY);
  if (!vol) {
    scan->problems.push_back(
        {WINDOWS_NOT_SEARCHED, p.number, std::string("NTFS: ") + strerror(errno ? errno : EIO)});
    ntfs_device_free(dev);
    return;
  }
  ntfs_set_ignore_case(vol);
  size_t before = scan->references.size();
  ScanNtfs(disk, p, "/Boot/BCD", kBcdPath, STORE_BCD, vol, old_signature, has_new, new_signature,
           scan);
  ScanNtfs(disk, p, "/Windows/System32/config/SYSTEM", kSystemPath, STORE_MOUNTED_DEVICES, vol,
           old_signature, has_new, new_signature, scan);
  // A hibernated Windows keeps the disk's old names in its memory image,
  // whichever volume holds it; a volume not shut down cleanly may replay
  // its journal over the fields written.
  if (Hibernated(vol)) scan->problems.push_back({WINDOWS_HIBERNATED, p.number, ""});
  if (scan->references.size() > before && Unclean(vol))
    scan->problems.push_back({WINDOWS_UNCLEAN, p.number, ""});
  ntfs_umount(vol, FALSE);
}

// What an mtools command printed and how it ended.
struct ToolRun {
  bool spawned = false; // false: mtools is not installed
  bool ok = false;      // exit status 0
  bool whole = true;    // its output within MAX_HIVE_BYTES
  std::vector<uint8_t> out;
  std::string errors; // the first 512 bytes of its standard error
};

// Runs an mtools command on the FAT volume at image (PATH@@OFFSET).
ToolRun RunMtools(const char *tool, const std::string &image, const char *file) {
  ToolRun run;
  // The output through a pipe, the errors into a memory file: a child that
  // writes much of both never waits on the reader.
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  int err = memfd_create("mtools-errors", MFD_CLOEXEC);
  if (err < 0) {
    close(out[0]);
    close(out[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  const char *argv[] = {tool, "-i", image.c_str(), file, nullptr};
  // Its messages untranslated: "not found" tells a missing store.
  std::vector<std::string> env_text = {"MTOOLS_SKIP_CHECK=1", "MTOOLSRC=/dev/null", "LC_ALL=C"};
  std::vector<char *> env;
  for (char **e = environ; *e; e++)
    if (strncmp(*e, "MTOOLS", 6) != 0 && strncmp(*e, "LC_ALL=", 7) != 0) env.push_back(*e);
  for (std::string &e : env_text)
    env.push_back(&e[0]);
  env.push_back(nullptr);
  pid_t pid;
  run.spawned = posix_spawnp(&pid, tool, &actions, nullptr, (char *const *)argv, env.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (run.spawned) {
    // Read to the end; past the bound the rest is drained, not kept.
    uint8_t buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      if (n < 0) continue;
      if (run.out.size() + (size_t)n > MAX_HIVE_BYTES)
        run.whole = false;
      else
        run.out.insert(run.out.end(), buffer, buffer + n);
    }
  }
  close(out[0]);
  int status = 0;
  if (run.spawned) waitpid(pid, &status, 0);
  run.ok = run.spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.errors.resize(512);
  ssize_t got = pread(err, &run.errors[0], run.errors.size(), 0);
  run.errors.resize(got > 0 ? (size_t)got : 0);
  close(err);
  return run;
}

// The clusters of a FAT file as mshowfat lists them ("<3-10> <12>"), and
// where cluster 2 starts in the volume and how large a cluster is, from its
// boot sector. False when either cannot be read.
struct FatFile {
  std::vector<uint64_t> clusters;
  uint64_t data_start = 0;
  uint64_t cluster_bytes = 0;
};

bool LocateFatFile(const DiskBytes &disk, const DiskPartition &p, const std::string &image,
                   const char *file, FatFile *fat) {
  ToolRun run = RunMtools("mshowfat", image, file);
  if (!run.ok) return false;
  std::string text(run.out.begin(), run.out.end());
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    unsigned long long first = 0, last = 0;
    int n = sscanf(text.c_str() + at, "<%llu-%llu>", &first, &last);
    if (n == 1) last = first;
    if (n < 1 || last < first || last - first > (1u << 24)) return false;
    for (unsigned long long c = first; c <= last; c++)
      fat->clusters.push_back(c);
  }
  uint8_t boot[SECTOR_SIZE];
  if (!disk.read(disk.context, p.start, boot, sizeof boot)) return false;
  uint32_t sector = LoadLe16(boot + 0x0B), per_cluster = boot[0x0D];
  uint32_t reserved = LoadLe16(boot + 0x0E), fats = boot[0x10], roots = LoadLe16(boot + 0x11);
  uint32_t per_fat = LoadLe16(boot + 0x16) ? LoadLe16(boot + 0x16) : LoadLe32(boot + 0x24);
  if (sector < SECTOR_SIZE || sector % SECTOR_SIZE || per_cluster == 0 || fats == 0) return false;
  uint64_t root_sectors = ((uint64_t)roots * 32 + sector - 1) / sector;
  fat->data_start = ((uint64_t)reserved + (uint64_t)fats * per_fat + root_sectors) * sector;
  fat->cluster_bytes = (uint64_t)per_cluster * sector;
  return !fat->clusters.empty();
}

// mtools reads the file, and its cluster list places each field on the
// disk (checked there before it counts as located).
void ScanEfi(const DiskBytes &disk, const DiskPartition &p, uint32_t old_signature, bool has_new,
             uint32_t new_signature, WindowsScan *scan) {
  if (disk.path.empty()) {
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, p.number, "EFI: the disk has no path"});
    return;
  }
  std::string image = disk.path + "@@" + std::to_string(p.start);
  const char *file = "::/EFI/Microsoft/Boot/BCD";
  ToolRun run = RunMtools("mtype", image, file);
  if (!run.spawned) {
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, p.number, "EFI: mtools is not installed"});
    return;
  }
  if (!run.ok) {
    if (run.errors.find("not found") != std::string::npos) return; // no store there
    std::string line = run.errors.substr(0, run.errors.find('\n'));
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, p.number, "EFI: " + line});
    return;
  }
  if (!run.whole) {
    scan->problems.push_back({WINDOWS_NOT_SEARCHED, p.number, "EFI: the store is too large"});
    return;
  }
  HiveResult result;
  ScanStore(run.out, STORE_BCD, p.number, kEfiBcdPath, old_signature, has_new, new_signature, scan,
            &result);
  FatFile fat;
  bool placed = !result.found.empty() && LocateFatFile(disk, p, image, file, &fat);
  for (Found &f : result.found) {
    uint64_t index = f.hive_offset / (placed ? fat.cluster_bytes : 1);
    uint8_t check[4];
    if (placed && f.hive_offset && index < fat.clusters.size() && fat.clusters[index] >= 2 &&
        f.hive_offset % fat.cluster_bytes + 4 <= fat.cluster_bytes) {
      uint64_t at = p.start + fat.data_start + (fat.clusters[index] - 2) * fat.cluster_bytes +
                    f.hive_offset % fat.cluster_bytes;
      if (at + 4 <= p.start + p.bytes && disk.read(disk.context, at, check, 4) &&
          LoadLe32(check) == old_signature) {
        f.reference.located = true;
        f.reference.disk_offset = at;
      }
    }
    scan->references.push_back(f.reference);
  }
}

} // namespace

bool WindowsScan::refused() const {
  for (const WindowsProblem &p : problems)
    if (IsRefusal(p.kind)) return true;
  return false;
}

WindowsScan ScanWindows(const DiskBytes &disk, const std::vector<DiskPartition> &partitions,
                        uint32_t old_signature, bool has_new, uint32_t new_signature) {
  WindowsScan scan;
  // Every partition's boot sector asked for at once.
  for (const DiskPartition &p : partitions)
    if (disk.will_read && !p.container) disk.will_read(disk.context, p.start, SECTOR_SIZE);
  for (const DiskPartition &p : partitions) {
    if (p.container) continue;
    if (p.type == TYPE_DYNAMIC) {
      scan.problems.push_back({WINDOWS_DYNAMIC, p.number, ""});
      continue;
    }
    uint8_t boot[SECTOR_SIZE];
    if (p.bytes < sizeof boot || !disk.read(disk.context, p.start, boot, sizeof boot)) continue;
    if (memcmp(boot + 3, "-FVE-FS-", 8) == 0)
      scan.problems.push_back({WINDOWS_BITLOCKER, p.number, ""});
    else if (memcmp(boot + 3, "NTFS    ", 8) == 0)
      ScanNtfsPartition(disk, p, old_signature, has_new, new_signature, &scan);
    else if (p.type == TYPE_EFI)
      ScanEfi(disk, p, old_signature, has_new, new_signature, &scan);
  }
  for (WindowsReference &r : scan.references) {
    const DiskPartition *named = PartitionAt(partitions, r.partition_start);
    r.partition = named ? named->number : 0;
  }
  if (has_new && new_signature == 0 && !scan.references.empty())
    scan.problems.push_back({WINDOWS_SIGNATURE_ZERO, 0, ""});
  return scan;
}

namespace {

// The tables' sectors: sector_size bytes each, of which the first 512 hold
// the table.
struct TableReader {
  const DiskBytes *disk;
  uint32_t sector_size;
};

int ReadSector(void *context, uint64_t sector, uint8_t *buffer) {
  const TableReader *t = (const TableReader *)context;
  return t->disk->read(t->disk->context, sector * t->sector_size, buffer, SECTOR_SIZE) ? 1 : 0;
}

} // namespace

std::vector<DiskPartition> ReadPartitions(const DiskBytes &disk, uint32_t sector_size) {
  if (sector_size < SECTOR_SIZE || sector_size % SECTOR_SIZE) return {};
  TableReader tables = {&disk, sector_size};
  uint8_t sector0[SECTOR_SIZE];
  if (!ReadSector(&tables, 0, sector0) || ClassifySectorZero(sector0) != LAYOUT_AT) return {};
  std::vector<uint8_t> reply(QUERY_BUFFER_SIZE);
  uint32_t returned = 0;
  if (!BuildDriveLayoutReply(ReadSector, &tables, disk.size / sector_size, 255, 63, reply.data(),
                             (uint32_t)reply.size(), &returned))
    return {};
  // The reply counts 512-byte sectors.
  std::vector<DiskPartition> partitions = PartitionsOfLayout(reply.data(), returned);
  for (DiskPartition &p : partitions) {
    p.start = p.start / SECTOR_SIZE * sector_size;
    p.bytes = p.bytes / SECTOR_SIZE * sector_size;
  }
  return partitions;
}
