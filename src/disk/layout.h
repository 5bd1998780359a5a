// Portable decoding of drive-layout data: the replies of the Windows device
// queries, and the drive layout Windows would report, read from the disk's
// own partition tables. No I/O of its own: sectors come through a callback.
#pragma once

#include <cstdint>

#include "disk/disk.h"

// Offsets in the Windows query replies (same on i686 and x86_64).
enum {
  LAYOUT_HEADER_SIZE = 8, // PartitionCount, Signature
  LAYOUT_ENTRY_SIZE = 32, // PARTITION_INFORMATION
  GEOMETRY_SIZE = 24,     // DISK_GEOMETRY
  EXTENT_HEADER_SIZE = 8, // NumberOfDiskExtents (+ padding)
  EXTENT_SIZE = 24,       // DISK_EXTENT
};

double LargeToDouble(uint32_t low, int32_t high);

// DRIVE_LAYOUT_INFORMATION reply -> digest: signature, at most 16 entries,
// LargeToDouble of each PartitionLength. The record is zero-filled first.
// Returns 0 (record zero) when the reply is shorter than its header.
int DecodeDriveLayout(const void *reply, uint32_t returned, DiskLayoutInfo *layout);

// DISK_GEOMETRY reply -> caller's record. Returns 1 when returned is at most
// QUERY_BUFFER_SIZE, else 0 (the record is copied either way).
int DecodeDiskGeometry(const void *reply, uint32_t returned, DiskGeometry *geometry);

// VOLUME_DISK_EXTENTS reply -> DiskNumber of the first extent. The count is
// not consulted: a zero-filled reply reads as disk 0.
int DecodeFirstExtentDisk(const void *reply);

// Reads one 512-byte sector; 1 on success.
typedef int (*SectorReader)(void *context, uint64_t sector, uint8_t *buffer);

enum LayoutKind { LAYOUT_NO_MARK = 0, LAYOUT_AT = 1, LAYOUT_PC98 = 2, LAYOUT_GPT = 3 };

// Which partition scheme sector 0 announces: PC-9821 ("IPL1" at 4, boot
// marks at 0xFE and 0x1FE), GPT (AT MBR with a type 0xEE entry), AT (boot
// mark at 0x1FE), or none.
LayoutKind ClassifySectorZero(const uint8_t *sector0);

// Builds the DRIVE_LAYOUT_INFORMATION reply Windows' legacy layout query
// gives for the disk: AT - the MBR then each EBR of the chain, four entries
// per table; PC-9821 - sixteen entries from sector 1, lengths from
// cylinders x heads x sectors; no boot mark - no entries, signature from
// 0x1B8. Fails (0) on a GPT disk, when a read fails, or when the reply does
// not fit in size bytes. An EBR chain that loops or leaves the disk stops.
// total_sectors bounds the chain; heads and sectors_per_track serve PC-9821.
int BuildDriveLayoutReply(SectorReader read, void *context, uint64_t total_sectors, uint32_t heads,
                          uint32_t sectors_per_track, uint8_t *reply, uint32_t size,
                          uint32_t *returned);

// Geometry for a disk of total_sectors when no one reports one: 255 heads,
// 63 sectors per track, whole cylinders, 512 bytes per sector.
void MakeUpGeometry(uint64_t total_sectors, DiskGeometry *geometry);

// Heads and sectors per track of a PC-9821 disk whose geometry nobody
// reports: the first candidate whose start cylinder of the first used
// partition lands on a boot sector recording that same geometry; 8 x 17
// (the common IDE translation) when none does. sector1 is the table.
void ProbePc98Geometry(SectorReader read, void *context, uint64_t total_sectors,
                       const uint8_t *sector1, uint32_t *heads, uint32_t *sectors_per_track);
