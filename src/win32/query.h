// The three device queries of the Win32 disk backend, behind one function so
// that an executable chooses what answers them: the shipped program links
// DeviceIoControl (query_win32.cpp); a test build links a library that
// answers from the disk's own bytes. Win32 types kept out of this header.
#pragma once

#include "disk/disk.h"

// DeviceIoControl without input buffer and without OVERLAPPED: nonzero on
// success, with *returned set to the bytes placed in out.
int DiskQuery(DiskHandle handle, unsigned long code, void *out, unsigned long size,
              unsigned long *returned);

// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS into buffer (zero-filled first):
// buffer on success, nullptr when the query fails or reports more bytes
// than size.
void *GetVolumeExtents(DiskHandle volume, void *buffer, unsigned long size);
