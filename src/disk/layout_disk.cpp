// The drive layout a disk's own tables describe, in the shape of the reply
// Windows' legacy layout query gives, and the PC-9821 geometry guess.
//
// AT: the MBR's four entries, then the four entries of each EBR of the
// chain, empty (all zero) and container entries included. Offsets are
// absolute: an EBR's data entry counts from that EBR, its link entry from
// the start of the extended partition. The chain follows the first
// container entry of each table and ends, without failing, at a table it
// has already visited, at a link that leaves the disk, at a link of zero,
// or at an EBR without the boot mark. Signature from 0x1B8.
//
// PC-9821 (a disk of more than 16 sectors, else the query fails): sixteen
// entries from sector 1 (empty ones all zero), start =
// start cylinder x heads x sectors, end = (end cylinder + 1) x heads x
// sectors; signature from the first four bytes of sector 16.
//
// No boot mark: no entries, signature from 0x1B8. GPT (a type 0xEE entry
// in the MBR): the query fails. A read failure, or a reply that would not
// fit in the caller's buffer, fails the query too.
//
// PC-9821 geometry: the table holds cylinders only. The first used entry's
// start cylinder is tried against 8x17, 16x63, 8x32, 16x17, 255x63, 16x32,
// 15x63 and 4x17 (heads x sectors); the first candidate whose sector lands
// on a boot sector (jump at 0, 0x55AA at 510) whose BPB records the same
// heads (+0x1A) and sectors per track (+0x18) wins. Otherwise 8x17.
#include <cstring>

#include "disk/bootrecord.h"
#include "disk/layout.h"

namespace {

enum {
  MBR_TABLE_OFFSET = 0x1BE,
  MBR_ENTRY_SIZE = 16,
  MBR_ENTRIES = 4,
  PC98_TABLE_SECTOR = 1,
  PC98_ENTRIES = 16,
  PC98_ENTRY_SIZE = 32,
  PC98_SIGNATURE_SECTOR = PC98_SIGNATURE_OFFSET / SECTOR_SIZE,
  MAX_CHAIN_TABLES = 1024, // EBRs remembered for loop detection
  TYPE_GPT_PROTECTIVE = 0xEE,
};

bool IsContainer(uint8_t type) {
  return type == 0x05 || type == 0x0F || type == 0x85;
}

void StoreLe64(uint8_t *p, uint64_t value) {
  StoreLe32(p, (uint32_t)value);
  StoreLe32(p + 4, (uint32_t)(value >> 32));
}

// PARTITION_INFORMATION entries appended to a reply buffer.
struct Reply {
  uint8_t *bytes;
  uint32_t size;
  uint32_t count;
  uint32_t numbered; // PartitionNumber of the last data entry

  bool Fits(uint32_t more) const {
    return (uint64_t)LAYOUT_HEADER_SIZE + (uint64_t)(count + more) * LAYOUT_ENTRY_SIZE <= size;
  }
  uint8_t *Append() {
    uint8_t *entry = bytes + LAYOUT_HEADER_SIZE + count * LAYOUT_ENTRY_SIZE;
    memset(entry, 0, LAYOUT_ENTRY_SIZE);
    count++;
    return entry;
  }
  void Fill(uint8_t *entry, uint64_t start, uint64_t sectors, uint32_t hidden, uint8_t type,
            bool boot, bool data) {
    StoreLe64(entry + 0, start * SECTOR_SIZE);
    StoreLe64(entry + 8, sectors * SECTOR_SIZE);
    StoreLe32(entry + 16, hidden);
    StoreLe32(entry + 20, data ? ++numbered : 0);
    entry[24] = type;
    entry[25] = boot ? 1 : 0;
    entry[26] = data ? 1 : 0;
  }
};

// One MBR or EBR: four entries. Data entries count from table, container
// entries from container_base. Returns the first container entry's start
// field (0 when there is none).
uint32_t AppendAtTable(Reply *reply, const uint8_t *sector, uint64_t table,
                       uint64_t container_base) {
  uint32_t link = 0;
  bool linked = false;
  for (int i = 0; i < MBR_ENTRIES; i++) {
    const uint8_t *e = sector + MBR_TABLE_OFFSET + i * MBR_ENTRY_SIZE;
    uint8_t *entry = reply->Append();
    uint8_t type = e[4];
    if (type == 0) continue;
    uint32_t first = LoadLe32(e + 8);
    uint32_t sectors = LoadLe32(e + 12);
    bool container = IsContainer(type);
    uint64_t base = container ? container_base : table;
    reply->Fill(entry, base + first, sectors, first, type, (e[0] & 0x80) != 0, !container);
    if (container && !linked) {
      link = first;
      linked = true;
    }
  }
  return link;
}

int BuildAtReply(SectorReader read, void *context, uint64_t total_sectors, const uint8_t *sector0,
                 Reply *reply) {
  if (!reply->Fits(MBR_ENTRIES)) return 0;
  uint64_t extended = AppendAtTable(reply, sector0, 0, 0);

  uint64_t visited[MAX_CHAIN_TABLES];
  int visits = 0;
  uint64_t next = extended;
  uint8_t ebr[SECTOR_SIZE];
  while (next != 0 && next < total_sectors && visits < MAX_CHAIN_TABLES) {
    for (int i = 0; i < visits; i++)
      if (visited[i] == next) return 1;
    visited[visits++] = next;
    if (!reply->Fits(MBR_ENTRIES)) return 0;
    if (!read(context, next, ebr)) return 0;
    if (LoadLe16(ebr + BOOT_MARK_OFFSET) != BOOT_MARK) return 1;
    uint32_t link = AppendAtTable(reply, ebr, next, extended);
    next = link ? extended + link : 0;
  }
  return 1;
}

uint8_t Pc98NtType(uint8_t sid) {
  switch (sid & 0x7F) {
  case 0x11:
  case 0x21:
    return 0x06;
  case 0x31:
    return 0x07;
  case 0x61:
    return 0x0B;
  default:
    return sid & 0x7F;
  }
}

bool Pc98EntryUsed(const uint8_t *e) {
  return e[0] != 0 && e[1] != 0;
}

int BuildPc98Reply(SectorReader read, void *context, uint64_t total_sectors, uint32_t heads,
                   uint32_t sectors_per_track, Reply *reply, uint32_t *signature) {
  uint8_t table[SECTOR_SIZE];
  uint8_t sector16[SECTOR_SIZE];
  if (!reply->Fits(PC98_ENTRIES) || total_sectors <= PC98_SIGNATURE_SECTOR) return 0;
  if (!read(context, PC98_TABLE_SECTOR, table)) return 0;
  if (!read(context, PC98_SIGNATURE_SECTOR, sector16)) return 0;
  *signature = LoadLe32(sector16 + PC98_SIGNATURE_OFFSET % SECTOR_SIZE);
  uint64_t cylinder = (uint64_t)heads * sectors_per_track;
  for (int i = 0; i < PC98_ENTRIES; i++) {
    const uint8_t *e = table + i * PC98_ENTRY_SIZE;
    uint8_t *entry = reply->Append();
    if (!Pc98EntryUsed(e)) continue;
    uint64_t start = LoadLe16(e + 10) * cylinder;
    uint64_t end = (LoadLe16(e + 14) + 1ull) * cylinder;
    uint64_t sectors = end > start ? end - start : 0;
    reply->Fill(entry, start, sectors, (uint32_t)start, Pc98NtType(e[1]), (e[0] & 0x80) != 0, true);
  }
  return 1;
}

} // namespace

LayoutKind ClassifySectorZero(const uint8_t *sector0) {
  if (LoadLe16(sector0 + BOOT_MARK_OFFSET) != BOOT_MARK) return LAYOUT_NO_MARK;
  if (memcmp(sector0 + IPL_MARKER_OFFSET, "IPL1", 4) == 0 &&
      LoadLe16(sector0 + PC98_BOOT_MARK_OFFSET) == BOOT_MARK)
    return LAYOUT_PC98;
  for (int i = 0; i < MBR_ENTRIES; i++)
    if (sector0[MBR_TABLE_OFFSET + i * MBR_ENTRY_SIZE + 4] == TYPE_GPT_PROTECTIVE)
      return LAYOUT_GPT;
  return LAYOUT_AT;
}

int BuildDriveLayoutReply(SectorReader read, void *context, uint64_t total_sectors, uint32_t heads,
                          uint32_t sectors_per_track, uint8_t *reply, uint32_t size,
                          uint32_t *returned) {
  *returned = 0;
  if (size < LAYOUT_HEADER_SIZE || total_sectors == 0) return 0;
  uint8_t sector0[SECTOR_SIZE];
  if (!read(context, 0, sector0)) return 0;

  Reply out = {reply, size, 0, 0};
  uint32_t signature = LoadLe32(sector0 + AT_SIGNATURE_OFFSET);
  int ok = 1;
  switch (ClassifySectorZero(sector0)) {
  case LAYOUT_GPT:
    return 0;
  case LAYOUT_NO_MARK:
    break;
  case LAYOUT_AT:
    ok = BuildAtReply(read, context, total_sectors, sector0, &out);
    break;
  case LAYOUT_PC98:
    ok = BuildPc98Reply(read, context, total_sectors, heads, sectors_per_track, &out, &signature);
    break;
  }
  if (!ok) return 0;
  StoreLe32(reply, out.count);
  StoreLe32(reply + 4, signature);
  *returned = LAYOUT_HEADER_SIZE + out.count * LAYOUT_ENTRY_SIZE;
  return 1;
}

void ProbePc98Geometry(SectorReader read, void *context, uint64_t total_sectors,
                       const uint8_t *sector1, uint32_t *heads, uint32_t *sectors_per_track) {
  static const uint16_t candidates[][2] = {{8, 17},   {16, 63}, {8, 32},  {16, 17},
                                           {255, 63}, {16, 32}, {15, 63}, {4, 17}};
  *heads = 8;
  *sectors_per_track = 17;
  const uint8_t *first = nullptr;
  for (int i = 0; i < PC98_ENTRIES && !first; i++)
    if (Pc98EntryUsed(sector1 + i * PC98_ENTRY_SIZE)) first = sector1 + i * PC98_ENTRY_SIZE;
  uint32_t cylinder = first ? LoadLe16(first + 10) : 0;
  if (cylinder == 0) return; // cylinder 0 holds the IPL, not a boot sector
  uint8_t boot[SECTOR_SIZE];
  for (const uint16_t *c : candidates) {
    uint64_t sector = (uint64_t)cylinder * c[0] * c[1];
    if (sector >= total_sectors || !read(context, sector, boot)) continue;
    bool jump = boot[0] == 0xEB || boot[0] == 0xE9;
    if (jump && LoadLe16(boot + BOOT_MARK_OFFSET) == BOOT_MARK && LoadLe16(boot + 0x1A) == c[0] &&
        LoadLe16(boot + 0x18) == c[1]) {
      *heads = c[0];
      *sectors_per_track = c[1];
      return;
    }
  }
}
