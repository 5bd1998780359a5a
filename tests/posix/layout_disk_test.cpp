// The on-disk layout decoder on generated images, with sectors patched to
// break the tables in the ways real disks do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <vector>

#include "disk/bootrecord.h"
#include "disk/layout.h"
#include "test_images.h"

namespace {

struct Disk {
  int fd = -1;
  uint64_t sectors = 0;
  std::map<uint64_t, std::vector<uint8_t>> patch;
  std::vector<uint64_t> reads;

  explicit Disk(const std::string &path) {
    fd = open(path.c_str(), O_RDONLY);
    sectors = fd >= 0 ? (uint64_t)lseek(fd, 0, SEEK_END) / SECTOR_SIZE : 0;
  }
  ~Disk() {
    if (fd >= 0) close(fd);
  }
  uint8_t *Sector(uint64_t n) {
    auto it = patch.find(n);
    if (it == patch.end()) {
      std::vector<uint8_t> s(SECTOR_SIZE);
      EXPECT_EQ(pread(fd, s.data(), SECTOR_SIZE, (off_t)(n * SECTOR_SIZE)), SECTOR_SIZE);
      it = patch.emplace(n, s).first;
    }
    return it->second.data();
  }
};

int ReadDisk(void *context, uint64_t sector, uint8_t *buffer) {
  Disk *d = static_cast<Disk *>(context);
  d->reads.push_back(sector);
  if (sector >= d->sectors) return 0;
  auto it = d->patch.find(sector);
  if (it != d->patch.end()) {
    memcpy(buffer, it->second.data(), SECTOR_SIZE);
    return 1;
  }
  return pread(d->fd, buffer, SECTOR_SIZE, (off_t)(sector * SECTOR_SIZE)) == SECTOR_SIZE;
}

struct Entry {
  uint64_t start, length;
  uint32_t hidden, number;
  uint8_t type, boot, recognized;
};

struct Built {
  int ok;
  uint32_t count = 0, signature = 0, returned = 0;
  std::vector<Entry> entries;
  std::vector<uint8_t> reply;
};

Built Build(Disk &d, uint32_t size = QUERY_BUFFER_SIZE, uint32_t heads = 8, uint32_t spt = 17) {
  Built b;
  b.reply.assign(size, 0xCC);
  b.ok =
      BuildDriveLayoutReply(ReadDisk, &d, d.sectors, heads, spt, b.reply.data(), size, &b.returned);
  if (!b.ok) return b;
  b.count = LoadLe32(b.reply.data());
  b.signature = LoadLe32(b.reply.data() + 4);
  EXPECT_EQ(b.returned, LAYOUT_HEADER_SIZE + b.count * LAYOUT_ENTRY_SIZE);
  for (uint32_t i = 0; i < b.count; i++) {
    const uint8_t *e = b.reply.data() + LAYOUT_HEADER_SIZE + i * LAYOUT_ENTRY_SIZE;
    b.entries.push_back({LoadLe32(e) | (uint64_t)LoadLe32(e + 4) << 32,
                         LoadLe32(e + 8) | (uint64_t)LoadLe32(e + 12) << 32, LoadLe32(e + 16),
                         LoadLe32(e + 20), e[24], e[25], e[26]});
  }
  return b;
}

const uint64_t kS = SECTOR_SIZE;
// Layout of mkimage's "at" on 131072 sectors: u = 8192.
const uint64_t kExt = 32768, kStep = 24576;

void SetLink(uint8_t *ebr, uint32_t relative) {
  StoreLe32(ebr + 0x1BE + 16 + 8, relative);
}

TEST(AtChain, MbrThenEveryEbrFourEntriesEach) {
  Disk d(MakeImage("at", "at.img"));
  Built b = Build(d);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.signature, 0x1234ABCDu);
  ASSERT_EQ(b.count, 20u);
  // MBR: primary, container, two empty slots.
  EXPECT_EQ(b.entries[0].start, 2048 * kS);
  EXPECT_EQ(b.entries[0].length, 30720 * kS);
  EXPECT_EQ(b.entries[0].boot, 1);
  EXPECT_EQ(b.entries[0].number, 1u);
  EXPECT_EQ(b.entries[1].type, 0x05);
  EXPECT_EQ(b.entries[1].start, kExt * kS);
  EXPECT_EQ(b.entries[1].length, 98304 * kS);
  EXPECT_EQ(b.entries[1].recognized, 0);
  EXPECT_EQ(b.entries[1].number, 0u);
  for (int i : {2, 3, 6, 7, 10, 11, 14, 15, 17, 18, 19}) {
    EXPECT_EQ(b.entries[i].start, 0u) << i;
    EXPECT_EQ(b.entries[i].length, 0u) << i;
    EXPECT_EQ(b.entries[i].type, 0) << i;
  }
  // Logical partitions count from their EBR, links from the extended start.
  for (int k = 0; k < 4; k++) {
    const Entry &logical = b.entries[4 + 4 * k];
    EXPECT_EQ(logical.start, (kExt + kStep * k + 2048) * kS) << k;
    EXPECT_EQ(logical.length, 22528 * kS) << k;
    EXPECT_EQ(logical.hidden, 2048u) << k;
    EXPECT_EQ(logical.number, 2u + k) << k;
    if (k < 3) {
      EXPECT_EQ(b.entries[5 + 4 * k].start, (kExt + kStep * (k + 1)) * kS) << k;
      EXPECT_EQ(b.entries[5 + 4 * k].length, kStep * kS) << k;
    }
  }
  // Only the tables are read: the MBR and the four EBRs.
  EXPECT_EQ(d.reads,
            (std::vector<uint64_t>{0, kExt, kExt + kStep, kExt + 2 * kStep, kExt + 3 * kStep}));

  // The digest keeps 16 of the 20 entries.
  DiskLayoutInfo info;
  ASSERT_TRUE(DecodeDriveLayout(b.reply.data(), b.returned, &info));
  EXPECT_EQ(info.partition_count, 16);
  EXPECT_EQ(info.signature, 0x1234ABCDu);
  EXPECT_EQ(info.partition_length[12], 22528.0 * kS);
  EXPECT_EQ(info.partition_length[15], 0.0);
}

TEST(AtChain, LoopEndsTheChainWithoutRereading) {
  Disk d(MakeImage("at", "loop.img"));
  SetLink(d.Sector(kExt + 3 * kStep), (uint32_t)kStep); // last EBR -> second EBR
  d.Sector(kExt + 3 * kStep)[0x1BE + 16 + 4] = 0x05;
  d.reads.clear();
  Built b = Build(d);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.count, 20u);
  EXPECT_EQ(d.reads.size(), 5u);
}

TEST(AtChain, LinkPastTheEndOrWithoutMarkStops) {
  Disk d(MakeImage("at", "past.img"));
  SetLink(d.Sector(kExt + kStep), 0xFFFFFF00u);
  Built b = Build(d);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.count, 8u + 4u);
  for (uint64_t s : d.reads)
    EXPECT_LT(s, d.sectors);
  // A link to the sector just past the end ends the chain; one to the last
  // sector is read.
  for (uint64_t to : {d.sectors, d.sectors - 1}) {
    Disk e(MakeImage("at", "end.img"));
    SetLink(e.Sector(kExt + kStep), (uint32_t)(to - kExt));
    if (to < e.sectors) memcpy(e.Sector(to) + 0x1FE, "\x55\xAA", 2);
    Built f = Build(e);
    ASSERT_TRUE(f.ok) << to;
    EXPECT_EQ(f.count, to < e.sectors ? 16u : 12u) << to;
  }

  Disk m(MakeImage("at", "nomark-ebr.img"));
  m.Sector(kExt + 2 * kStep)[0x1FE] = 0;
  Built c = Build(m);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.count, 12u);
}

TEST(AtChain, ReplyThatDoesNotFitFails) {
  Disk d(MakeImage("at", "fit.img"));
  EXPECT_FALSE(Build(d, LAYOUT_HEADER_SIZE + 19 * LAYOUT_ENTRY_SIZE).ok);
  EXPECT_TRUE(Build(d, LAYOUT_HEADER_SIZE + 20 * LAYOUT_ENTRY_SIZE).ok);
  EXPECT_FALSE(Build(d, 4).ok);

  // A chain of EBRs one sector apart never loops; the buffer bounds it.
  Disk chain(MakeImage("at", "chain.img"));
  for (uint64_t s = 0; s < 400; s++) {
    uint8_t *ebr = chain.Sector(kExt + s);
    memset(ebr, 0, SECTOR_SIZE);
    ebr[0x1BE + 4] = 0x83;
    StoreLe32(ebr + 0x1BE + 12, 1);
    ebr[0x1BE + 16 + 4] = 0x05;
    SetLink(ebr, (uint32_t)s + 1);
    ebr[0x1FE] = 0x55;
    ebr[0x1FF] = 0xAA;
  }
  chain.reads.clear();
  EXPECT_FALSE(Build(chain).ok);
  EXPECT_LE(chain.reads.size(), 1u + (QUERY_BUFFER_SIZE - LAYOUT_HEADER_SIZE) / 128);
}

TEST(AtChain, PrimaryTableKeepsTheEmptySlot) {
  Disk d(MakeImage("at-primary", "primary.img"));
  Built b = Build(d);
  ASSERT_TRUE(b.ok);
  ASSERT_EQ(b.count, 4u);
  EXPECT_EQ(b.entries[1].length, 0u);
  EXPECT_EQ(b.entries[2].number, 2u);
  EXPECT_EQ(d.reads, std::vector<uint64_t>{0});
}

TEST(SectorZero, KindsAndTheQueryTheyAllow) {
  struct Case {
    const char *kind;
    LayoutKind expect;
    int ok;
    uint32_t count;
  } cases[] = {{"at", LAYOUT_AT, 1, 20},           {"pc98", LAYOUT_PC98, 1, 16},
               {"gpt", LAYOUT_GPT, 0, 0},          {"nomark", LAYOUT_NO_MARK, 1, 0},
               {"swapped", LAYOUT_NO_MARK, 1, 0},  {"neither", LAYOUT_AT, 1, 20},
               {"score3-pc98", LAYOUT_PC98, 1, 16}};
  for (const Case &c : cases) {
    Disk d(MakeImage(c.kind, std::string(c.kind) + ".img"));
    EXPECT_EQ(ClassifySectorZero(d.Sector(0)), c.expect) << c.kind;
    Built b = Build(d);
    EXPECT_EQ(b.ok, c.ok) << c.kind;
    EXPECT_EQ(b.count, c.count) << c.kind;
    if (c.expect == LAYOUT_NO_MARK) {
      EXPECT_EQ(b.signature, 0x1234ABCDu) << c.kind;
    }
  }
}

TEST(Pc98, SixteenEntriesFromCylindersAndSignatureFromSector16) {
  Disk d(MakeImage("pc98", "pc98.img"));
  Built b = Build(d, QUERY_BUFFER_SIZE, 8, 17);
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.signature, 0x9821CAFEu);
  ASSERT_EQ(b.count, 16u);
  // 963 cylinders of 136 sectors; the first partition ends at cylinder 385.
  EXPECT_EQ(b.entries[0].start, 136 * kS);
  EXPECT_EQ(b.entries[0].length, 385 * 136 * kS);
  EXPECT_EQ(b.entries[1].start, 386 * 136 * kS);
  EXPECT_EQ(b.entries[1].length, (963 - 386) * 136 * kS);
  for (int i = 2; i < 16; i++)
    EXPECT_EQ(b.entries[i].length, 0u) << i;
  EXPECT_EQ(d.reads, (std::vector<uint64_t>{0, 1, 16}));
}

TEST(Pc98, GeometryProbe) {
  struct Case {
    const char *args;
    uint32_t heads, spt;
  } cases[] = {{"", 8, 17},
               {"--heads 16 --spt 63", 16, 63},
               {"--heads 8 --spt 32", 8, 32},
               {"--heads 255 --spt 63 --sectors 2000000", 255, 63}};
  int n = 0;
  for (const Case &c : cases) {
    Disk d(MakeImage("pc98", "probe" + std::to_string(n++) + ".img", c.args));
    uint32_t heads = 0, spt = 0;
    ProbePc98Geometry(ReadDisk, &d, d.sectors, d.Sector(1), &heads, &spt);
    EXPECT_EQ(heads, c.heads) << c.args;
    EXPECT_EQ(spt, c.spt) << c.args;
  }
  // Boot sectors that record another geometry, or none: 8 x 17.
  Disk d(MakeImage("pc98", "probe-bad.img", "--heads 16 --spt 63"));
  StoreLe32(d.Sector(1008) + 0x18, 0);
  uint32_t heads = 0, spt = 0;
  ProbePc98Geometry(ReadDisk, &d, d.sectors, d.Sector(1), &heads, &spt);
  EXPECT_EQ(heads, 8u);
  EXPECT_EQ(spt, 17u);
  uint8_t empty[SECTOR_SIZE] = {};
  ProbePc98Geometry(ReadDisk, &d, d.sectors, empty, &heads, &spt);
  EXPECT_EQ(heads, 8u);
}

// Any bytes at all: no crash, the reply stays within its buffer, the reads
// stay bounded.
uint64_t g_seed;
int ReadNoise(void *context, uint64_t sector, uint8_t *buffer) {
  int *reads = static_cast<int *>(context);
  ++*reads;
  uint64_t x = g_seed ^ (sector * 0x9E3779B97F4A7C15ull);
  for (int i = 0; i < SECTOR_SIZE; i++) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    buffer[i] = (uint8_t)x;
  }
  static const uint8_t types[] = {0, 0x05, 0x0F, 0x85, 0x07, 0xEE};
  for (int e = 0; e < 4; e++) {
    uint8_t *entry = buffer + 0x1BE + 16 * e;
    entry[4] = types[entry[5] % (g_seed % 7 ? 5 : 6)];
    if (entry[6] & 1) StoreLe32(entry + 8, entry[7] % 8);
  }
  if (x % 8) {
    buffer[0x1FE] = 0x55;
    buffer[0x1FF] = 0xAA;
  }
  return x % 50 != 0;
}

TEST(AnyBytes, SurvivesNoise) {
  for (g_seed = 1; g_seed < 3000; g_seed++) {
    int reads = 0;
    uint8_t reply[QUERY_BUFFER_SIZE + 16];
    memset(reply, 0xCC, sizeof reply);
    uint32_t returned = 0;
    int ok = BuildDriveLayoutReply(ReadNoise, &reads, 1 + g_seed % 5000, 8, 17, reply,
                                   QUERY_BUFFER_SIZE, &returned);
    ASSERT_LE(returned, (uint32_t)QUERY_BUFFER_SIZE);
    ASSERT_EQ(reply[QUERY_BUFFER_SIZE], 0xCC);
    ASSERT_LE(reads, 2 + (QUERY_BUFFER_SIZE - LAYOUT_HEADER_SIZE) / 128);
    if (ok) {
      ASSERT_EQ(returned, LAYOUT_HEADER_SIZE + LoadLe32(reply) * LAYOUT_ENTRY_SIZE);
    }
    uint32_t heads, spt;
    ProbePc98Geometry(ReadNoise, &reads, 1ull << 40, reply, &heads, &spt);
  }
}

} // namespace
