#include "app/partuuid.h"
#include "app/undo.h"
#include "app/winrefs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "disk/bootrecord.h"
#include "disk/layout.h"

namespace {

std::vector<uint8_t> PartitionElement(uint32_t signature, uint64_t start) {
  std::vector<uint8_t> e(88, 0);
  StoreLe32(&e[0x10], 6);
  StoreLe32(&e[0x18], 0x48);
  StoreLe32(&e[0x20], (uint32_t)start);
  StoreLe32(&e[0x24], (uint32_t)(start >> 32));
  StoreLe32(&e[0x34], 1);
  StoreLe32(&e[0x38], signature);
  return e;
}

} // namespace

TEST(WindowsReferences, DeviceElementForms) {
  std::vector<uint8_t> e = PartitionElement(0x12345678, 0x100000000ull);
  BcdDevice d = ParseBcdDevice(e.data(), e.size(), 0x12345678);
  EXPECT_EQ(d.form, BCD_PARTITION);
  EXPECT_EQ(d.signature, 0x12345678u);
  EXPECT_EQ(d.partition_start, 0x100000000ull);
  EXPECT_EQ(d.signature_at, 0x38u);

  // A GPT partition (style 0) names no signature.
  std::vector<uint8_t> gpt = e;
  StoreLe32(&gpt[0x34], 0);
  EXPECT_EQ(ParseBcdDevice(gpt.data(), gpt.size(), 0x12345678).form, BCD_OTHER);

  // The boot manager rejects a size field that does not match.
  std::vector<uint8_t> bad = e;
  StoreLe32(&bad[0x18], 0x50);
  EXPECT_EQ(ParseBcdDevice(bad.data(), bad.size(), 0x12345678).form, BCD_MALFORMED);

  // A descriptor inside a larger element (a ramdisk's, say) is nested.
  std::vector<uint8_t> outer(0x20 + 88, 0);
  StoreLe32(&outer[0x10], 3);
  StoreLe32(&outer[0x18], (uint32_t)outer.size() - 16);
  memcpy(&outer[0x20], e.data() + 0x10, 72);
  BcdDevice n = ParseBcdDevice(outer.data(), outer.size(), 0x12345678);
  EXPECT_EQ(n.form, BCD_NESTED);
  EXPECT_EQ(n.signature_at, 0x20u + 0x28u);
  EXPECT_EQ(ParseBcdDevice(outer.data(), outer.size(), 0x11111111).form, BCD_OTHER);

  EXPECT_TRUE(IsDeviceElement(0x21000022));
  EXPECT_FALSE(IsDeviceElement(0x12000004));
  EXPECT_EQ(BcdElementName(0x21000001), "osdevice");
  EXPECT_EQ(BcdElementName(0x21000022), "0x21000022");
}

TEST(WindowsReferences, HiveBaseBlock) {
  std::vector<uint8_t> base(4096, 0);
  memcpy(base.data(), "regf", 4);
  StoreLe32(&base[4], 7);
  StoreLe32(&base[8], 7);
  uint32_t sum = 0;
  for (int i = 0; i < 0x1FC; i += 4)
    sum ^= LoadLe32(&base[i]);
  StoreLe32(&base[0x1FC], sum);
  EXPECT_EQ(CheckHiveBaseBlock(base.data(), base.size()), HIVE_CLEAN);
  EXPECT_EQ(CheckHiveBaseBlock(base.data(), 4095), HIVE_NOT_A_HIVE);
  base[0x30] ^= 1;
  EXPECT_EQ(CheckHiveBaseBlock(base.data(), base.size()), HIVE_BAD_CHECKSUM);
  base[0x30] ^= 1;
  StoreLe32(&base[8], 6);
  EXPECT_EQ(CheckHiveBaseBlock(base.data(), base.size()), HIVE_DIRTY);
}

TEST(WindowsReferences, PartitionsNumberedAsTheKernelDoes) {
  // MBR: 1 data, 2 empty, 3 extended, 4 empty; EBR: 5, link; EBR: 6.
  uint8_t reply[8 + 12 * 32] = {};
  StoreLe32(reply, 12);
  auto entry = [&](int i, uint64_t start, uint64_t bytes, uint8_t type) {
    uint8_t *e = reply + 8 + i * 32;
    StoreLe32(e, (uint32_t)start);
    StoreLe32(e + 4, (uint32_t)(start >> 32));
    StoreLe32(e + 8, (uint32_t)bytes);
    StoreLe32(e + 12, (uint32_t)(bytes >> 32));
    e[24] = type;
  };
  entry(0, 1 << 20, 8 << 20, 0x07);
  entry(2, 16 << 20, 32 << 20, 0x05);
  entry(4, 17 << 20, 4 << 20, 0x07);
  entry(5, 24 << 20, 8 << 20, 0x05);
  entry(8, 25 << 20, 4 << 20, 0x0C);
  std::vector<DiskPartition> p = PartitionsOfLayout(reply, sizeof reply);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].number, 1u);
  EXPECT_TRUE(p[1].container);
  EXPECT_EQ(p[1].number, 3u);
  EXPECT_EQ(p[2].number, 5u);
  EXPECT_EQ(p[2].start, 17u << 20);
  EXPECT_EQ(p[3].number, 6u);
  EXPECT_EQ(LinuxPartitionNumbers(reply, sizeof reply), (std::vector<unsigned>{1, 3, 5, 6}));
  EXPECT_EQ(PartitionAt(p, 16 << 20), nullptr);
  EXPECT_EQ(PartitionAt(p, 25 << 20)->number, 6u);
  EXPECT_EQ(PartitionAt(p, 26 << 20), nullptr);
}

TEST(WindowsReferences, OnlyPlainLocatedReferencesToAPartitionArePatched) {
  WindowsReference r;
  r.store = STORE_MOUNTED_DEVICES;
  r.store_path = "\\Windows\\System32\\config\\SYSTEM";
  r.object = "\\DosDevices\\C:";
  r.description = MountedDeviceName(r.object);
  r.signature = 0x12345678;
  r.partition = 2;
  r.located = true;
  r.disk_offset = 4096;
  WindowsReference nowhere = r, unlocated = r, nested = r;
  nowhere.partition = 0;
  unlocated.located = false;
  nested.store = STORE_BCD;
  nested.form = BCD_NESTED;
  std::vector<BytePatch> p =
      PlanReferencePatches({r, nowhere, unlocated, nested}, 0x12345678, 0xCAFEF00D);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].offset, 4096u);
  EXPECT_EQ(LoadLe32(p[0].old_bytes), 0x12345678u);
  EXPECT_EQ(LoadLe32(p[0].new_bytes), 0xCAFEF00Du);
  EXPECT_EQ(p[0].what, "\\Windows\\System32\\config\\SYSTEM \\DosDevices\\C: (C:)");
}

TEST(WindowsReferences, UndoRecordsRoundTripAndCutFilesAreRefused) {
  UndoRecords r;
  BytePatch p = {123456789012ull, {0x78, 0x56, 0x34, 0x12}, {0xef, 0xbe, 0xad, 0xde}, "C: (C:)"};
  r.patches = {p, p};
  r.patches[1].offset = 7;
  r.files = {{"/etc/fstab", "PARTUUID=12345678-01 / ext4\nno newline"}, {"/x y", ""}};
  std::string text = FormatUndoRecords(r);
  UndoRecords back;
  ASSERT_TRUE(ParseUndoRecords((const uint8_t *)text.data(), text.size(), &back));
  ASSERT_EQ(back.patches.size(), 2u);
  EXPECT_EQ(back.patches[0].offset, 123456789012ull);
  EXPECT_EQ(memcmp(back.patches[0].new_bytes, p.new_bytes, 4), 0);
  EXPECT_EQ(back.patches[0].what, "C: (C:)");
  ASSERT_EQ(back.files.size(), 2u);
  EXPECT_EQ(back.files[0].contents, r.files[0].contents);
  EXPECT_EQ(back.files[1].path, "/x y");
  for (size_t cut = 1; cut < text.size(); cut++)
    EXPECT_FALSE(ParseUndoRecords((const uint8_t *)text.data(), cut, &back)) << cut;
  EXPECT_TRUE(ParseUndoRecords(nullptr, 0, &back) && back.empty());

  std::vector<BytePatch> undo = ReversePatches(r.patches);
  EXPECT_EQ(undo[0].offset, 7u);
  EXPECT_EQ(memcmp(undo[1].old_bytes, p.new_bytes, 4), 0);
}

TEST(WindowsReferences, OnlyPartuuidTokensOfTheOldSignatureChange) {
  std::string text = "PARTUUID=12345678-01 / ext4\n"
                     "# PARTUUID=12345678-02 stays\n"
                     "root=partuuid=\"ABCDEF12-05\" x=PARTUUID=12345678-0123\n"
                     "UUID=12345678-01 PARTUUID=12345679-01 PARTUUID=abcdef12-06";
  unsigned count = 0;
  EXPECT_EQ(ReplacePartuuids(text, 0x12345678, 0xcafe0001, &count),
            "PARTUUID=cafe0001-01 / ext4\n"
            "# PARTUUID=12345678-02 stays\n"
            "root=partuuid=\"ABCDEF12-05\" x=PARTUUID=12345678-0123\n"
            "UUID=12345678-01 PARTUUID=12345679-01 PARTUUID=abcdef12-06");
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ReplacePartuuids(text, 0xabcdef12, 0xcafe0001, &count),
            "PARTUUID=12345678-01 / ext4\n"
            "# PARTUUID=12345678-02 stays\n"
            "root=partuuid=\"CAFE0001-05\" x=PARTUUID=12345678-0123\n"
            "UUID=12345678-01 PARTUUID=12345679-01 PARTUUID=cafe0001-06");
  EXPECT_EQ(count, 2u);
}

TEST(WindowsReferences, EveryFormOfPartuuidIsFoundInLinearTime) {
  std::string text = "search --no-floppy --part-uuid --set=root 12345678-01\n"
                     "if x; then search --set=root --part-uuid \"12345678-02\"; fi\n"
                     "search.part_uuid 12345678-03 root; search --fs-uuid --set=root 12345678-04\n"
                     "search --set=root 12345678-05 --part-uuid\n"
                     "  options root=PARTUUID=12345678-06 rw\n"
                     "crypt /dev/disk/by-partuuid/12345678-07 none luks\n"
                     "\"PartUUID=12345678-08\" /x ext4\n"
                     "search --fs-uuid 12345678-09\n"
                     "# search --part-uuid 12345678-0a\n";
  std::vector<PartuuidReference> found;
  FindPartuuidReferences("f", text, 0x12345678, &found);
  std::string got;
  for (const PartuuidReference &r : found)
    got += std::to_string(r.line) + ":" + std::to_string(r.partition) + " ";
  EXPECT_EQ(got, "1:1 2:2 3:3 4:5 5:6 6:7 7:8 ");
  unsigned count = 0;
  EXPECT_EQ(ReplacePartuuids("search --part-uuid 12345678-01\n", 0x12345678, 0xcafe0001, &count),
            "search --part-uuid cafe0001-01\n");

  // The same work per byte whatever the text repeats.
  for (std::string unit : {"partuuid=", "by-partuuid/", "search ", "PARTUUID=12345678-01 ", "x"}) {
    std::string big;
    while (big.size() < (1u << 20))
      big += unit;
    uint64_t steps = 0;
    ScanPartuuids(
        big, [](const PartuuidToken &) {}, &steps);
    EXPECT_LE(steps, 32 * (uint64_t)big.size()) << unit;
  }
}
