#include "disk/bootrecord.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/fake_disk.h"

namespace {

const uint32_t kSig = 0x1234ABCD;

void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}
void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
  StoreLe32(&b[at], v);
}

// A disk whose layout reports sig; the boot area is filled with a pattern so
// that a changed byte anywhere shows.
FakeDisk &PatternDisk(int number, uint32_t sig) {
  FakeDisk &disk = FakeAddDisk(number, 64);
  for (size_t i = 0; i < disk.bytes.size(); i++)
    disk.bytes[i] = (uint8_t)(i * 7 + 3);
  disk.signature = sig;
  disk.entry_lengths = {1u << 20};
  Put16(disk.bytes, BOOT_MARK_OFFSET, BOOT_MARK);
  Put16(disk.bytes, PC98_BOOT_MARK_OFFSET, 0);
  return disk;
}

FakeDisk &AtDisk(int number, uint32_t sig) {
  FakeDisk &disk = PatternDisk(number, sig);
  Put32(disk.bytes, AT_SIGNATURE_OFFSET, sig);
  return disk;
}

FakeDisk &Pc98Disk(int number, uint32_t sig) {
  FakeDisk &disk = PatternDisk(number, sig);
  Put32(disk.bytes, PC98_SIGNATURE_OFFSET, sig);
  memcpy(&disk.bytes[IPL_MARKER_OFFSET], "IPL1", 4);
  Put16(disk.bytes, PC98_BOOT_MARK_OFFSET, BOOT_MARK);
  return disk;
}

std::vector<size_t> Changed(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  std::vector<size_t> at;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i] != b[i]) at.push_back(i);
  return at;
}

BootFormat Detect(int number) {
  DiskHandle h = OpenPhysicalDisk(nullptr, number, 'r', nullptr);
  BootFormat f = DetectBootFormat(h);
  CloseDisk(h);
  return f;
}

class BootRecord : public ::testing::Test {
protected:
  void SetUp() override { FakeReset(); }
};

TEST_F(BootRecord, ClassifiesByWhereTheSignatureStands) {
  AtDisk(0, kSig);
  EXPECT_EQ(Detect(0), AtCompatible);

  // S at 0x1B8 only is AT even with the PC-9821 marks present.
  FakeDisk &at_marks = AtDisk(1, kSig);
  memcpy(&at_marks.bytes[IPL_MARKER_OFFSET], "IPL1", 4);
  Put16(at_marks.bytes, PC98_BOOT_MARK_OFFSET, BOOT_MARK);
  EXPECT_EQ(Detect(1), AtCompatible);

  // S at 0x2000 only is PC-9821 even without any mark.
  FakeDisk &bare = PatternDisk(2, kSig);
  Put32(bare.bytes, PC98_SIGNATURE_OFFSET, kSig);
  EXPECT_EQ(Detect(2), Pc9821);

  PatternDisk(3, kSig);
  EXPECT_EQ(Detect(3), Unknown);
}

TEST_F(BootRecord, ScoreThreeIsSettledByBothMarks) {
  struct Case {
    bool mark, ipl1;
    BootFormat expected;
  } cases[] = {{true, true, Pc9821},
               {true, false, Unknown},
               {false, false, AtCompatible},
               {false, true, Unknown}};
  for (const Case &c : cases) {
    FakeReset();
    FakeDisk &disk = PatternDisk(0, 0);
    Put32(disk.bytes, AT_SIGNATURE_OFFSET, 0);
    Put32(disk.bytes, PC98_SIGNATURE_OFFSET, 0);
    if (c.mark) Put16(disk.bytes, PC98_BOOT_MARK_OFFSET, BOOT_MARK);
    memcpy(&disk.bytes[IPL_MARKER_OFFSET], c.ipl1 ? "IPL1" : "IPL0", 4);
    EXPECT_EQ(Detect(0), c.expected) << "mark " << c.mark << " ipl1 " << c.ipl1;
  }
}

TEST_F(BootRecord, MissingOrSwappedBootMark) {
  FakeDisk &swapped = AtDisk(0, kSig);
  swapped.bytes[BOOT_MARK_OFFSET] = 0xAA;
  swapped.bytes[BOOT_MARK_OFFSET + 1] = 0x55;
  EXPECT_EQ(Detect(0), NoIpl);
  EXPECT_EQ(RewriteNtSignature(nullptr, 0, kSig, 1), DISK_NO_BOOT_MARK);
  EXPECT_EQ(FakeCount("write"), 0);
  for (const FakeCall &call : g_fake.calls)
    EXPECT_FALSE(call.op == "open" && call.mode == 'W');

  // A failed layout query is Unknown, not NoIpl, whatever the boot area holds.
  g_fake.fail_op = "layout";
  EXPECT_EQ(Detect(0), Unknown);
  g_fake.fail_op = "read";
  AtDisk(1, kSig);
  EXPECT_EQ(Detect(1), Unknown);
}

// AT rewrites sector 0 alone, PC-9821 the whole boot area; either way only
// the four signature bytes change, on one handle at a time.
TEST_F(BootRecord, RewriteChangesOnlyTheFourSignatureBytes) {
  struct Case {
    FakeDisk &(*make)(int, uint32_t);
    size_t offset, written;
  } cases[] = {{AtDisk, AT_SIGNATURE_OFFSET, 512}, {Pc98Disk, PC98_SIGNATURE_OFFSET, 16384}};
  for (const Case &c : cases) {
    FakeReset();
    c.make(0, kSig);
    std::vector<uint8_t> before = g_fake.disks[0].bytes;
    ASSERT_EQ(RewriteNtSignature(nullptr, 0, kSig, 0x56FC78DE), DISK_OK);
    EXPECT_EQ(g_fake.last_write.size(), c.written);
    EXPECT_EQ(Changed(before, g_fake.disks[0].bytes),
              (std::vector<size_t>{c.offset, c.offset + 1, c.offset + 2, c.offset + 3}));
    EXPECT_EQ(LoadLe32(&g_fake.disks[0].bytes[c.offset]), 0x56FC78DEu);
    EXPECT_EQ(g_fake.max_open, 1);
    EXPECT_EQ(g_fake.open_handles, 0);
  }
}

TEST_F(BootRecord, SameSignatureIsWrittenAllTheSame) {
  AtDisk(0, kSig);
  EXPECT_EQ(RewriteNtSignature(nullptr, 0, kSig, kSig), DISK_OK);
  EXPECT_EQ(FakeCount("write"), 1);
}

TEST_F(BootRecord, RefusesBeforeOpeningForWrite) {
  AtDisk(0, kSig);
  EXPECT_EQ(RewriteNtSignature(nullptr, 0, kSig + 1, 5),
            DISK_NOT_EXPECTED); // disk changed since it was shown
  PatternDisk(1, kSig);
  EXPECT_EQ(RewriteNtSignature(nullptr, 1, kSig, 5), DISK_FORMAT_UNKNOWN); // S at neither place
  for (const FakeCall &call : g_fake.calls)
    EXPECT_FALSE(call.op == "open" && call.mode == 'W');
  EXPECT_EQ(g_fake.open_handles, 0);
}

// Every call of a rewrite failing in turn: a failed check never reaches a
// write handle, every handle is closed, and the disk changes only when the
// write itself went through.
TEST_F(BootRecord, EachFailingCallLeavesTheDiskSafe) {
  for (int format = 0; format < 2; format++) {
    FakeReset();
    format ? Pc98Disk(0, kSig) : AtDisk(0, kSig);
    ASSERT_EQ(RewriteNtSignature(nullptr, 0, kSig, 0x11223344), DISK_OK);
    std::vector<FakeCall> clean = g_fake.calls;

    for (size_t k = 0; k < clean.size(); k++) {
      FakeReset();
      FakeDisk &disk = format ? Pc98Disk(0, kSig) : AtDisk(0, kSig);
      std::vector<uint8_t> before = disk.bytes;
      g_fake.fail_at = (int)k;
      int result = RewriteNtSignature(nullptr, 0, kSig, 0x11223344) == DISK_OK;
      const std::string &failed = clean[k].op;
      SCOPED_TRACE("format " + std::to_string(format) + " failing call " + std::to_string(k) + " " +
                   failed);
      EXPECT_EQ(g_fake.open_handles, 0);
      EXPECT_LE(g_fake.max_open, 1);
      if (failed == "close") {
        // The fake's close cannot fail: the call is logged, the rewrite goes on.
        EXPECT_EQ(result, 1);
        continue;
      }
      bool write_phase = false;
      for (size_t j = 0; j < g_fake.calls.size(); j++) {
        if (g_fake.calls[j].op == "open" && g_fake.calls[j].mode == 'W') write_phase = true;
        if (g_fake.calls[j].failed && !write_phase) {
          for (size_t i = j; i < g_fake.calls.size(); i++)
            EXPECT_FALSE(g_fake.calls[i].op == "open" && g_fake.calls[i].mode == 'W');
        }
      }
      EXPECT_EQ(result, 0);
      EXPECT_EQ(disk.bytes, before);
    }
  }
}

} // namespace
