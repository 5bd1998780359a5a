// The Get report: a disk's signature, entry count, size, format and
// partition sizes as the user reads them. Needs of the surface only its
// texts (SurfaceText).
#pragma once

#include <cstddef>

#include "disk/bootrecord.h"
#include "disk/disk.h"
#include "ui/surface.h"

enum { REPORT_BUFFER_SIZE = 10000, ITEM_BUFFER_SIZE = 1024, REPORT_MIN_PARTITION = 524288 };

// Rounds a non-negative size to whole units, ties away from zero.
double RoundSize(double value);

// The report of a disk with this geometry, layout and format, cut at size.
void FormatGetReport(char *report, size_t size, const DiskGeometry &geometry,
                     const DiskLayoutInfo &layout, BootFormat format);
