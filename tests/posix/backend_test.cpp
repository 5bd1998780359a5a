// The Linux backend on real image files: every container, rewrites that
// change exactly four bytes, headers that lie, failures that write nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "posix/disk.h"
#include "test_images.h"

namespace {

// The run every test works in, fresh for each test.
RunOptions *g_options;
DiskSet *g_disks;

class Backend : public ::testing::Test {
protected:
  RunOptions options;
  DiskSet disks{&options};
  void SetUp() override {
    g_options = &options;
    g_disks = &disks;
  }
  // Files a test attached to loop devices: every device over them is
  // detached here, whether the test passed or stopped at an assertion.
  std::vector<std::string> loop_files;
  void TearDown() override {
    g_posix_calls = kPosixSystemCalls;
    for (const std::string &file : loop_files) {
      std::string detach = "losetup -n -O NAME -j '" + file + "' | xargs -r -n1 losetup -d";
      if (system(detach.c_str()) != 0) ADD_FAILURE() << "cannot detach the devices over " << file;
    }
  }
};
using Containers = Backend;
using Open = Backend;
using Sectors = Backend;
using Writes = Backend;
using Io = Backend;

DiskHandle OpenDisk(int disk, char mode, DiskError *error = nullptr) {
  return OpenPhysicalDisk(g_disks, disk, mode, error);
}

DiskError Rewrite(int disk, uint32_t old_signature, uint32_t new_signature) {
  return RewriteNtSignature(g_disks, disk, old_signature, new_signature);
}

struct Container {
  const char *name, *ext;
  uint64_t data_offset;
};
const Container kContainers[] = {
    {"raw", "img", 0}, {"vhd", "vhd", 0}, {"hdi", "hdi", 4096}, {"nhd", "nhd", 512}};

int Bind(const std::string &path) {
  DiskError error;
  int n = PosixRegister(g_disks, path.c_str(), &error);
  EXPECT_GE(n, 0) << path;
  return n;
}

struct Got {
  int ok = 0;
  DiskGeometry geometry = {};
  DiskLayoutInfo layout = {};
  BootFormat format = Unknown;
};

Got Get(int disk) {
  Got g;
  DiskHandle h = OpenDisk(disk, 'r');
  if (h == INVALID_DISK_HANDLE) return g;
  g.ok = GetDiskGeometry(h, &g.geometry) && GetDiskLayout(h, &g.layout);
  g.format = DetectBootFormat(h);
  CloseDisk(h);
  return g;
}

TEST_F(Containers, GetAndRewriteChangeOnlyTheSignature) {
  for (const Container &c : kContainers) {
    for (const char *kind : {"at", "pc98"}) {
      std::string name = std::string(kind) + "." + c.ext;
      std::string path = MakeImage(kind, name, std::string("--container ") + c.name);
      ASSERT_FALSE(path.empty());
      int disk = Bind(path);
      bool pc98 = strcmp(kind, "pc98") == 0;
      Got g = Get(disk);
      ASSERT_TRUE(g.ok) << name;
      uint32_t old = pc98 ? 0x9821CAFEu : 0x1234ABCDu;
      EXPECT_EQ(g.layout.signature, old) << name;
      EXPECT_EQ(g.layout.partition_count, 16) << name;
      EXPECT_EQ(g.format, pc98 ? Pc9821 : AtCompatible) << name;
      EXPECT_EQ(g.geometry.BytesPerSector, 512u);
      if (pc98) {
        EXPECT_EQ(g.geometry.TracksPerCylinder, 8u) << name;
        EXPECT_EQ(g.geometry.SectorsPerTrack, 17u) << name;
        EXPECT_EQ(g.geometry.Cylinders, 963) << name;
        EXPECT_EQ(g.layout.partition_length[0], 385.0 * 136 * 512) << name;
      } else if (c.data_offset) {
        EXPECT_EQ(g.geometry.TracksPerCylinder, 16u) << name;
        EXPECT_EQ(g.geometry.Cylinders, 130) << name;
      }

      std::vector<uint8_t> before = ReadWholeFile(path);
      ASSERT_EQ(Rewrite(disk, old, 0xA1B2C3D4u), DISK_OK) << name;
      std::vector<uint8_t> after = ReadWholeFile(path);
      uint64_t at = c.data_offset + (pc98 ? PC98_SIGNATURE_OFFSET : AT_SIGNATURE_OFFSET);
      EXPECT_EQ(Differences(before, after), (std::vector<uint64_t>{at, at + 1, at + 2, at + 3}))
          << name;
      EXPECT_EQ(LoadLe32(after.data() + at), 0xA1B2C3D4u) << name;
      EXPECT_EQ(Get(disk).layout.signature, 0xA1B2C3D4u) << name;
    }
  }
}

TEST_F(Containers, HdiHeaderRecognisedWithoutTheName) {
  std::string path = MakeImage("at", "plain-name.img", "--container hdi");
  Got g = Get(Bind(path));
  ASSERT_TRUE(g.ok);
  EXPECT_EQ(g.layout.signature, 0x1234ABCDu);
  EXPECT_EQ(g.geometry.Cylinders, 130);
}

TEST_F(Containers, HeadersThatLieOpenNothingAndWriteNothing) {
  struct Lie {
    const char *kind, *name;
    DiskError error;
  } const lies[] = {{"hdi-lying", "hdi-lying.hdi", DISK_BAD_CONTAINER},
                    {"hdi-geometry", "hdi-geometry.hdi", DISK_BAD_CONTAINER},
                    {"hdi-secsize", "hdi-secsize.hdi", DISK_SECTOR_UNSUPPORTED},
                    {"nhd-lying", "nhd-lying.nhd", DISK_BAD_CONTAINER},
                    {"nhd-wrap", "nhd-wrap.nhd", DISK_BAD_CONTAINER},
                    {"vhd-badsum", "vhd-badsum.vhd", DISK_BAD_CONTAINER},
                    {"vhd-small", "vhd-small.vhd", DISK_BAD_CONTAINER}};
  for (const Lie &k : lies) {
    std::string path = MakeImage(k.kind, k.name);
    std::vector<uint8_t> before = ReadWholeFile(path);
    int disk = Bind(path);
    for (char mode : {'r', 'W'}) {
      DiskError e = DISK_OK;
      EXPECT_EQ(OpenDisk(disk, mode, &e), INVALID_DISK_HANDLE) << k.kind;
      EXPECT_EQ(e, k.error) << k.kind;
    }
    EXPECT_NE(Rewrite(disk, 0x1234ABCDu, 1), DISK_OK);
    EXPECT_EQ(ReadWholeFile(path), before) << k.kind;
  }

  // Images this backend cannot unpack are refused, not taken as raw.
  std::string qcow = ScratchDir() + "/disk.qcow2";
  FILE *f = fopen(qcow.c_str(), "wb");
  ASSERT_TRUE(f);
  std::vector<uint8_t> bytes(1 << 20, 0);
  memcpy(bytes.data(), "QFI\xfb", 4);
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  DiskError e = DISK_OK;
  EXPECT_EQ(OpenDisk(Bind(qcow), 'r', &e), INVALID_DISK_HANDLE);
  EXPECT_EQ(e, DISK_UNSUPPORTED_IMAGE);
}

// The containers QEMU reads, by their magic: what may be written, what
// only read, what not opened at all.
TEST(QemuContainers, KindsByTheirMagic) {
  struct Case {
    const char *what;
    std::string head;
    DiskError error;
    ImageContainer container;
    bool encrypted, read_only;
  };
  auto qcow = [](uint8_t version, uint8_t crypt) {
    std::string h(0x48, '\0');
    h.replace(0, 4, "QFI\xfb");
    h[7] = (char)version;
    h[0x23] = (char)crypt;
    return h;
  };
  // Sparse VMDK: descriptor at sector 1 (one sector), compression at 0x4D.
  auto sparse = [](const char *type, bool compressed, bool descriptor) {
    std::string h(1024, '\0');
    h.replace(0, 4, "KDMV");
    h[0x1C] = descriptor;
    h[0x24] = descriptor;
    h[0x4D] = compressed;
    std::string d =
        std::string("# Disk DescriptorFile\nversion=1\n createType = \"") + type + "\"\n";
    h.replace(512, d.size(), d);
    return h;
  };
  const Case cases[] = {
      {"qcow2", qcow(3, 0), DISK_OK, IMAGE_QCOW2, false, false},
      {"qcow2 LUKS", qcow(3, 2), DISK_OK, IMAGE_QCOW2, true, false},
      {"qcow1", qcow(1, 0), DISK_UNSUPPORTED_IMAGE, IMAGE_RAW, false, false},
      {"sparse", sparse("monolithicSparse", false, true), DISK_OK, IMAGE_VMDK, false, false},
      {"stream", sparse("streamOptimized", true, true), DISK_OK, IMAGE_VMDK, false, true},
      {"split extent", sparse("", false, false), DISK_IMAGE_REFUSED, IMAGE_RAW, false, false},
      {"descriptor", "# Disk DescriptorFile\ncreateType=\"twoGbMaxExtentSparse\"\n", DISK_OK,
       IMAGE_VMDK, false, false},
      {"extent by path",
       "# Disk DescriptorFile\ncreateType=\"monolithicFlat\"\nRW 16 FLAT \"/dev/sda\" 0\n", DISK_OK,
       IMAGE_VMDK, false, true},
      {"qcow2 data file", qcow(3, 0) + std::string(7, '\0') + "\x04", DISK_OK, IMAGE_QCOW2, false,
       true},
      {"vmfs", "# Disk DescriptorFile\ncreateType=\"vmfs\"\n", DISK_UNSUPPORTED_IMAGE, IMAGE_RAW,
       false, false},
      {"vhdx", std::string("vhdxfile") + std::string(64, '\0'), DISK_OK, IMAGE_VHDX, false, false},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> head(c.head.begin(), c.head.end());
    head.resize(4096);
    ImageLayout layout;
    EXPECT_EQ(ProbeImage("x", head.data(), head.size(), nullptr, 1 << 20, &layout), c.error)
        << c.what;
    EXPECT_EQ(layout.container, c.container) << c.what;
    EXPECT_EQ(layout.encrypted, c.encrypted) << c.what;
    EXPECT_EQ(layout.read_only, c.read_only) << c.what;
  }
}

TEST_F(Open, FailuresSayWhy) {
  std::string dir = ScratchDir() + "/a-directory";
  mkdir(dir.c_str(), 0700);
  struct Case {
    std::string path;
    DiskError error;
  } cases[] = {{ScratchDir() + "/missing.img", DISK_NO_SUCH_DISK},
               {dir, DISK_NOT_A_DISK},
               {MakeImage("short", "short.img"), DISK_TOO_SHORT},
               {MakeImage("short", "short31.img", "--sectors 31"), DISK_TOO_SHORT},
               {"/dev/null", DISK_NOT_A_DISK}};
  // The name is refused when it is pinned, or the disk when it is opened.
  for (const Case &c : cases) {
    DiskError e = DISK_OK;
    int disk = PosixRegister(g_disks, c.path.c_str(), &e);
    if (disk >= 0) {
      EXPECT_EQ(OpenDisk(disk, 'R', &e), INVALID_DISK_HANDLE) << c.path;
      EXPECT_EQ(Rewrite(disk, 0x1234ABCDu, 1), c.error) << c.path;
    }
    EXPECT_EQ(e, c.error) << c.path;
  }
  EXPECT_EQ(OpenDisk(Bind(MakeImage("at", "mode.img")), 'x'), INVALID_DISK_HANDLE);
  DiskError e = DISK_OK;
  EXPECT_EQ(OpenDisk(MAX_DISK_NUMBER + 100, 'r', &e), INVALID_DISK_HANDLE);
  EXPECT_EQ(e, DISK_NO_SUCH_DISK);
  // Thirty-two sectors are enough.
  DiskHandle h = OpenDisk(Bind(MakeImage("short", "short32.img", "--sectors 32")), 'r');
  EXPECT_NE(h, INVALID_DISK_HANDLE);
  CloseDisk(h);
}

TEST_F(Sectors, BoundsModesAndFarOffsets) {
  std::string path = MakeImage("at", "far.vhd", "--container vhd --sectors 10485760");
  int disk = Bind(path);
  const uint32_t last = 10485760 - 1, far = 9000000; // past 4 GiB
  uint8_t buffer[2 * SECTOR_SIZE];
  memset(buffer, 0x5A, sizeof buffer);

  DiskHandle w = OpenDisk(disk, 'w');
  ASSERT_NE(w, INVALID_DISK_HANDLE);
  EXPECT_EQ(ReadSectors(w, 1, 0, buffer), 0); // a write handle never reads
  EXPECT_EQ(WriteSectors(w, 1, far, buffer), 1);
  EXPECT_EQ(WriteSectors(w, 2, last, buffer), 0); // would reach the footer
  EXPECT_EQ(WriteSectors(w, 1, last, buffer), 1);
  CloseDisk(w);

  int fd = open(path.c_str(), O_RDONLY);
  uint8_t check[SECTOR_SIZE];
  ASSERT_EQ(pread(fd, check, SECTOR_SIZE, (off_t)far * SECTOR_SIZE), SECTOR_SIZE);
  EXPECT_EQ(check[0], 0x5A);
  ASSERT_EQ(pread(fd, check, 8, (off_t)(last + 1) * SECTOR_SIZE), 8);
  EXPECT_EQ(memcmp(check, "conectix", 8), 0);
  close(fd);

  DiskHandle r = OpenDisk(disk, 'r');
  ASSERT_NE(r, INVALID_DISK_HANDLE);
  EXPECT_EQ(WriteSectors(r, 1, far, buffer), 0); // a read handle never writes
  memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(ReadSectors(r, 1, far, buffer), 1);
  EXPECT_EQ(buffer[511], 0x5A);
  EXPECT_EQ(ReadSectors(r, 2, last, buffer), 0);
  EXPECT_EQ(ReadSectors(r, 1, last, buffer), 1);
  EXPECT_EQ(ReadSectors(r, -1, 0, buffer), 0);
  EXPECT_EQ(SeekSector(r, 1ull << 60), 0);
  CloseDisk(r);
  EXPECT_EQ(ReadSectors(INVALID_DISK_HANDLE, 1, 0, buffer), 0);
  EXPECT_EQ(WriteSectors(INVALID_DISK_HANDLE, 1, 0, buffer), 0);
  EXPECT_EQ(DriveLetterToDiskNumber('C'), VOLUME_OPEN_FAILED);
}

// A read that failed is not retried another way (the single-sector path
// of the layout decoder): every later read on the handle fails too.
int g_pread_failures;
TEST_F(Sectors, AReadErrorFailsEveryLaterRead) {
  DiskHandle h = OpenDisk(Bind(MakeImage("at", "once.hdi", "--container hdi")), 'r');
  ASSERT_NE(h, INVALID_DISK_HANDLE);
  g_pread_failures = 1;
  g_posix_calls.pread = [](int fd, void *buffer, size_t bytes, off_t offset) -> ssize_t {
    if (g_pread_failures-- > 0) {
      errno = EIO;
      return -1;
    }
    return kPosixSystemCalls.pread(fd, buffer, bytes, offset);
  };
  DiskLayoutInfo layout;
  uint8_t sector[SECTOR_SIZE];
  EXPECT_EQ(GetDiskLayout(h, &layout), 0);
  EXPECT_EQ(ReadSectors(h, 1, 0, sector), 0);
  EXPECT_EQ(DetectBootFormat(h), Unknown);
  EXPECT_EQ(DiskHandleError(h), DISK_IO_ERROR);
  CloseDisk(h);
}

TEST_F(Writes, HeldLockRefusesTheWriterNotTheReaders) {
  std::string path = MakeImage("at", "locked.img");
  int disk = Bind(path);
  std::vector<uint8_t> before = ReadWholeFile(path);
  int holder = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  DiskError e = DISK_OK;
  EXPECT_EQ(OpenDisk(disk, 'W', &e), INVALID_DISK_HANDLE);
  EXPECT_EQ(e, DISK_LOCKED);
  EXPECT_TRUE(Get(disk).ok);
  EXPECT_EQ(Rewrite(disk, 0x1234ABCDu, 7), DISK_LOCKED);
  EXPECT_EQ(ReadWholeFile(path), before);
  close(holder);
  EXPECT_EQ(Rewrite(disk, 0x1234ABCDu, 7), DISK_OK);
}

// A lock held for a moment (udev probing the disk) is waited for.
TEST_F(Writes, BriefLockIsWaitedFor) {
  std::string path = MakeImage("at", "brief.img");
  int disk = Bind(path);
  int holder = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_SH | LOCK_NB), 0);
  std::thread release([holder] {
    usleep(300 * 1000);
    close(holder);
  });
  EXPECT_EQ(Rewrite(disk, 0x1234ABCDu, 7), DISK_OK);
  release.join();
}

// What the rewrite read is checked again under the write lock: a boot area
// changed in between (by another program) is not overwritten.
TEST_F(Writes, BootAreaChangedAfterTheCheckIsNotOverwritten) {
  std::string path = MakeImage("pc98", "changed.img");
  int disk = Bind(path);
  uint8_t area[IPL_AREA_BYTES];
  DiskHandle reader = OpenDisk(disk, 'R');
  ASSERT_EQ(ReadSectors(reader, IPL_AREA_SECTORS, 0, area), 1);
  CloseDisk(reader);

  FILE *other = fopen(path.c_str(), "r+b");
  ASSERT_TRUE(other);
  fseek(other, 5 * SECTOR_SIZE + 17, SEEK_SET);
  fputc(0x5A, other);
  fclose(other);
  std::vector<uint8_t> changed = ReadWholeFile(path);

  StoreLe32(area + PC98_SIGNATURE_OFFSET, 0x77777777u);
  DiskHandle writer = OpenDisk(disk, 'W');
  EXPECT_EQ(WriteSectors(writer, IPL_AREA_SECTORS, 0, area), 0);
  EXPECT_EQ(DiskHandleError(writer), DISK_CHANGED);
  CloseDisk(writer);
  EXPECT_EQ(ReadWholeFile(path), changed);

  // Read afresh, the same write goes through.
  EXPECT_EQ(Rewrite(disk, 0x9821CAFEu, 0x77777777u), DISK_OK);
}

TEST_F(Writes, BackupBeforeTheFirstWriteAndNeverOverwritten) {
  std::string path = MakeImage("pc98", "backup.nhd", "--container nhd");
  std::string backup = ScratchDir() + "/boot-area.bak";
  int disk = Bind(path);
  std::vector<uint8_t> before = ReadWholeFile(path);
  g_options->backup = backup.c_str();
  EXPECT_EQ(Rewrite(disk, 0x9821CAFEu, 0x11111111u), DISK_OK);
  std::vector<uint8_t> saved = ReadWholeFile(backup);
  ASSERT_EQ(saved.size(), (size_t)IPL_AREA_BYTES);
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), before.begin() + 512));
  struct stat st;
  stat(backup.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The file exists now: the next write is refused before anything moves.
  std::vector<uint8_t> middle = ReadWholeFile(path);
  EXPECT_EQ(Rewrite(disk, 0x11111111u, 0x22222222u), DISK_BACKUP_FAILED);
  EXPECT_EQ(ReadWholeFile(path), middle);
  EXPECT_EQ(ReadWholeFile(backup), saved);

  // Nothing read yet from a disk: nothing to save, nothing written.
  std::string other = MakeImage("at", "unread.img");
  std::string unread = ScratchDir() + "/unread.bak";
  g_options->backup = unread.c_str();
  DiskHandle w = OpenDisk(Bind(other), 'W');
  uint8_t sector[SECTOR_SIZE] = {};
  EXPECT_EQ(WriteSectors(w, 1, 0, sector), 0);
  EXPECT_EQ(DiskHandleError(w), DISK_BACKUP_FAILED);
  CloseDisk(w);
}

// A disk is pinned, and opened, when it is named: reads stay on it, and a
// clone put in its place afterwards (same name, same signature) is
// refused, not written.
TEST_F(Writes, ACloneInThePinnedDisksPlaceIsNotWritten) {
  std::string path = MakeImage("at", "original.img");
  std::string clone = MakeImage("at", "clone.img");
  int disk = Bind(path);
  ASSERT_TRUE(Get(disk).ok);
  std::string moved = ScratchDir() + "/original-moved.img";
  ASSERT_EQ(rename(path.c_str(), moved.c_str()), 0);
  ASSERT_EQ(rename(clone.c_str(), path.c_str()), 0);
  std::vector<uint8_t> before = ReadWholeFile(path), pinned = ReadWholeFile(moved);
  DiskHandle h = OpenDisk(disk, 'r');
  ASSERT_NE(h, INVALID_DISK_HANDLE);
  CloseDisk(h);
  EXPECT_EQ(Rewrite(disk, 0x1234ABCDu, 7), DISK_OTHER_DISK);
  EXPECT_EQ(ReadWholeFile(path), before);
  EXPECT_EQ(ReadWholeFile(moved), pinned);
}

// The same on a loop device: the pinned device, detached and attached to
// a clone, is another disk. Held open, it is only detached when the run
// lets go of it, so the clone cannot take its place meanwhile; either way
// the clone is never written.
TEST_F(Writes, ALoopDeviceReattachedToACloneIsNotWritten) {
  if (geteuid() != 0 || system("losetup -f >/dev/null 2>&1") != 0) GTEST_SKIP() << "no losetup";
  std::string original = MakeImage("at", "loop-original.img");
  std::string clone = MakeImage("at", "loop-clone.img");
  loop_files = {original, clone};
  std::string command = "losetup -f --show " + original;
  FILE *p = popen(command.c_str(), "r");
  char device[64] = "";
  if (!p || !fgets(device, sizeof device, p)) GTEST_SKIP() << "losetup cannot attach here";
  pclose(p);
  device[strcspn(device, "\n")] = 0;
  bool swapped = false;
  {
    DiskSet held(&options); // its descriptor on the device goes with it
    g_disks = &held;
    int disk = Bind(device);
    ASSERT_TRUE(Get(disk).ok);
    std::string swap = "losetup -d " + std::string(device) + " && losetup " + device + " " + clone +
                       " 2>/dev/null";
    swapped = system(swap.c_str()) == 0;
    std::vector<uint8_t> before = ReadWholeFile(clone);
    DiskError e = Rewrite(disk, 0x1234ABCDu, 7);
    if (swapped) {
      EXPECT_EQ(e, DISK_OTHER_DISK);
    }
    EXPECT_EQ(ReadWholeFile(clone), before);
  }
  g_disks = &disks;
}

// Read syscalls and bytes of this process, from /proc/self/io.
void ProcIo(long long *reads, long long *bytes) {
  char text[512] = "";
  int fd = open("/proc/self/io", O_RDONLY);
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  text[n > 0 ? n : 0] = 0;
  sscanf(strstr(text, "rchar:"), "rchar: %lld", bytes);
  sscanf(strstr(text, "syscr:"), "syscr: %lld", reads);
}

struct IoDelta {
  long long reads, bytes;
};

template <typename F> IoDelta Measure(F f) {
  long long r0, b0, r1, b1, r2, b2;
  ProcIo(&r0, &b0);
  ProcIo(&r1, &b1); // what one sample costs
  f();
  ProcIo(&r2, &b2);
  return {r2 - r1 - (r1 - r0), b2 - b1 - (b1 - b0)};
}

TEST_F(Io, GetReadsTheBootAreaAndEachEbrOnly) {
  int disk = Bind(MakeImage("at", "io.img"));
  Got g;
  IoDelta io = Measure([&] { g = Get(disk); });
  ASSERT_TRUE(g.ok);
  // The open's look at the file (boot area, VHD footer place), four EBRs.
  EXPECT_EQ(io.reads, 6);
  EXPECT_LE(io.bytes, 20 * 1024);
}

TEST_F(Io, SweepIssuesOneReadPerStepWithinTheDisk) {
  int big = Bind(MakeImage("at", "sweep.img"));
  int small = Bind(MakeImage("at", "sweep-small.img", "--sectors 20000"));
  DiskHandle h = OpenDisk(big, 'r');
  IoDelta io = Measure([&] { TestAccess(h); });
  CloseDisk(h);
  // One more call where the file system refuses O_DIRECT at the first read.
  EXPECT_GE(io.reads, TEST_ACCESS_READS);
  EXPECT_LE(io.reads, TEST_ACCESS_READS + 1);
  EXPECT_EQ(io.bytes, (long long)TEST_ACCESS_READS * TEST_ACCESS_SECTORS * SECTOR_SIZE);
  // Steps past the end fail without a call: 99 reads fit in 20000 sectors.
  h = OpenDisk(small, 'r');
  io = Measure([&] { TestAccess(h); });
  CloseDisk(h);
  EXPECT_GE(io.reads, 99);
  EXPECT_LE(io.reads, 100);
}

} // namespace
