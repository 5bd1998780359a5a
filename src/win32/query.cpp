// The device queries as Windows answers them.
#include <windows.h>

#include "win32/query.h"

int DiskQuery(DiskHandle handle, unsigned long code, void *out, unsigned long size,
              unsigned long *returned) {
  DWORD done = 0;
  BOOL ok = DeviceIoControl(handle, code, NULL, 0, out, size, &done, NULL);
  *returned = done;
  return ok ? 1 : 0;
}
