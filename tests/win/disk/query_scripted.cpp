#include "query_scripted.h"

#include <cstring>

#include "win32/query.h"

ScriptedQuery g_query;

int DiskQuery(DiskHandle handle, unsigned long code, void *out, unsigned long size,
              unsigned long *returned) {
  g_query.calls++;
  g_query.handle = handle;
  g_query.code = code;
  g_query.size = size;
  const uint8_t *bytes = static_cast<const uint8_t *>(out);
  g_query.out_was_zero = true;
  for (unsigned long i = 0; i < size; i++)
    if (bytes[i] != 0) g_query.out_was_zero = false;
  memcpy(out, g_query.reply.data(), g_query.reply.size() < size ? g_query.reply.size() : size);
  *returned = g_query.returned;
  return g_query.ok;
}
