// Disks in memory behind disk.h: every call is logged, any call can fail.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk/disk.h"

struct FakeDisk {
  std::vector<uint8_t> bytes;
  // The layout the platform reports; with from_tables the on-disk decoder
  // builds it from bytes instead.
  bool from_tables = false;
  uint32_t signature = 0;
  std::vector<uint64_t> entry_lengths;
  DiskGeometry geometry = {1024, 12, 255, 63, 512};
};

struct FakeCall {
  std::string op; // open, close, seek, read, write, geometry, layout, access, letter
  int disk;
  char mode;      // for open
  uint64_t first; // sector
  int count;      // sectors
  bool failed;
};

struct FakeDisks {
  std::map<int, FakeDisk> disks;
  std::map<char, int> letters; // drive letter -> disk number, or a negative result
  std::vector<FakeCall> calls;
  int fail_at = -1;    // index in calls of the call that fails
  std::string fail_op; // or: every call of this op fails
  int open_handles = 0;
  int max_open = 0; // most handles open at once
  std::vector<uint8_t> last_write;
};

extern FakeDisks g_fake;

// Clears everything: no disks, no log, no failures.
void FakeReset();
// A disk of sectors * 512 zero bytes.
FakeDisk &FakeAddDisk(int number, uint64_t sectors);
// Number of logged calls of op.
int FakeCount(const std::string &op);
