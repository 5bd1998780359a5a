#include "support/fake_disk.h"

#include <cstring>

#include "disk/bootrecord.h"
#include "disk/layout.h"

FakeDisks g_fake;

namespace {

struct FakeHandle {
  int disk;
  char mode;
  uint64_t position; // bytes
  bool failed;       // a call on this handle failed
};

bool Log(const char *op, int disk, char mode = 0, uint64_t first = 0, int count = 0) {
  bool failed = (int)g_fake.calls.size() == g_fake.fail_at || g_fake.fail_op == op;
  g_fake.calls.push_back({op, disk, mode, first, count, failed});
  return !failed;
}

FakeHandle *Of(DiskHandle handle) {
  return static_cast<FakeHandle *>(handle);
}

FakeDisk *DiskOf(DiskHandle handle) {
  if (handle == INVALID_DISK_HANDLE || !handle) return nullptr;
  auto it = g_fake.disks.find(Of(handle)->disk);
  return it == g_fake.disks.end() ? nullptr : &it->second;
}

int ReadForDecoder(void *context, uint64_t sector, uint8_t *buffer) {
  FakeDisk *disk = static_cast<FakeDisk *>(context);
  if ((sector + 1) * SECTOR_SIZE > disk->bytes.size()) return 0;
  memcpy(buffer, disk->bytes.data() + sector * SECTOR_SIZE, SECTOR_SIZE);
  return 1;
}

} // namespace

void FakeReset() {
  g_fake = FakeDisks();
}

FakeDisk &FakeAddDisk(int number, uint64_t sectors) {
  FakeDisk &disk = g_fake.disks[number];
  disk.bytes.assign(sectors * SECTOR_SIZE, 0);
  return disk;
}

int FakeCount(const std::string &op) {
  int n = 0;
  for (const FakeCall &call : g_fake.calls)
    n += call.op == op;
  return n;
}

DiskHandle OpenPhysicalDisk(DiskSet *, int disk, char mode, DiskError *error) {
  if (error) *error = DISK_IO_ERROR;
  if (mode != 'R' && mode != 'r' && mode != 'W' && mode != 'w') return INVALID_DISK_HANDLE;
  if (!Log("open", disk, mode)) return INVALID_DISK_HANDLE;
  if (!g_fake.disks.count(disk)) {
    if (error) *error = DISK_NO_SUCH_DISK;
    return INVALID_DISK_HANDLE;
  }
  g_fake.open_handles++;
  if (g_fake.open_handles > g_fake.max_open) g_fake.max_open = g_fake.open_handles;
  if (error) *error = DISK_OK;
  return new FakeHandle{disk, mode, 0, false};
}

DiskError DiskHandleError(DiskHandle handle) {
  return Of(handle)->failed ? DISK_IO_ERROR : DISK_OK;
}

void CloseDisk(DiskHandle handle) {
  if (handle == INVALID_DISK_HANDLE) return;
  Log("close", Of(handle)->disk);
  g_fake.open_handles--;
  delete Of(handle);
}

int SeekSector(DiskHandle handle, uint64_t sector) {
  if (handle == INVALID_DISK_HANDLE) return 0;
  if (!Log("seek", Of(handle)->disk, 0, sector)) return 0;
  Of(handle)->position = sector * SECTOR_SIZE;
  return 1;
}

static int Move(DiskHandle handle, const char *op, int count, uint32_t first, void *in,
                const void *out) {
  if (handle == INVALID_DISK_HANDLE) return 0;
  FakeHandle *h = Of(handle);
  if (!SeekSector(handle, first) || !Log(op, h->disk, h->mode, first, count)) {
    h->failed = true;
    return 0;
  }
  FakeDisk *disk = DiskOf(handle);
  uint64_t bytes = (uint64_t)count * SECTOR_SIZE;
  bool writing = out != nullptr;
  bool allowed = writing ? (h->mode == 'W' || h->mode == 'w') : (h->mode == 'R' || h->mode == 'r');
  if (!disk || !allowed || h->position + bytes > disk->bytes.size()) {
    h->failed = true;
    return 0;
  }
  if (writing) {
    memcpy(disk->bytes.data() + h->position, out, bytes);
    g_fake.last_write.assign((const uint8_t *)out, (const uint8_t *)out + bytes);
  } else {
    memcpy(in, disk->bytes.data() + h->position, bytes);
  }
  h->position += bytes;
  return 1;
}

int ReadSectors(DiskHandle handle, int count, uint32_t first, void *buffer) {
  return Move(handle, "read", count, first, buffer, nullptr);
}

int WriteSectors(DiskHandle handle, int count, uint32_t first, const void *buffer) {
  return Move(handle, "write", count, first, nullptr, buffer);
}

int GetDiskGeometry(DiskHandle handle, DiskGeometry *geometry) {
  FakeDisk *disk = DiskOf(handle);
  if (!Log("geometry", disk ? Of(handle)->disk : -1) || !disk) {
    if (disk) Of(handle)->failed = true;
    return 0;
  }
  *geometry = disk->geometry;
  return 1;
}

int GetDiskLayout(DiskHandle handle, DiskLayoutInfo *layout) {
  memset(layout, 0, sizeof *layout);
  FakeDisk *disk = DiskOf(handle);
  if (!Log("layout", disk ? Of(handle)->disk : -1) || !disk) {
    if (disk) Of(handle)->failed = true;
    return 0;
  }
  static uint8_t reply[QUERY_BUFFER_SIZE];
  uint32_t returned = 0;
  if (disk->from_tables) {
    uint64_t total = disk->bytes.size() / SECTOR_SIZE;
    if (!BuildDriveLayoutReply(ReadForDecoder, disk, total, disk->geometry.TracksPerCylinder,
                               disk->geometry.SectorsPerTrack, reply, sizeof reply, &returned))
      return 0;
  } else {
    memset(reply, 0, sizeof reply);
    StoreLe32(reply, (uint32_t)disk->entry_lengths.size());
    StoreLe32(reply + 4, disk->signature);
    for (size_t i = 0; i < disk->entry_lengths.size(); i++) {
      uint8_t *entry = reply + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE;
      StoreLe32(entry + 8, (uint32_t)disk->entry_lengths[i]);
      StoreLe32(entry + 12, (uint32_t)(disk->entry_lengths[i] >> 32));
    }
    returned = LAYOUT_HEADER_SIZE + (uint32_t)disk->entry_lengths.size() * LAYOUT_ENTRY_SIZE;
  }
  return DecodeDriveLayout(reply, returned, layout);
}

void TestAccess(DiskHandle handle, SweepProgress progress, void *context) {
  if (handle == INVALID_DISK_HANDLE) return;
  Log("access", Of(handle)->disk);
  static uint8_t scratch[TEST_ACCESS_SECTORS * SECTOR_SIZE];
  if (progress) progress(context, 0, TEST_ACCESS_READS);
  for (int i = 0; i < TEST_ACCESS_READS; i++) {
    ReadSectors(handle, TEST_ACCESS_SECTORS, (uint32_t)(200 - i) * 200, scratch);
    if (progress) progress(context, i + 1, TEST_ACCESS_READS);
  }
}

int DriveLetterToDiskNumber(char letter) {
  Log("letter", -1, letter);
  auto it = g_fake.letters.find(letter);
  return it == g_fake.letters.end() ? VOLUME_OPEN_FAILED : it->second;
}
