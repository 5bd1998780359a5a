// The Windows-store byte forms and the backup's undo records: any bytes
// parse without reading outside them; records that parse format back to
// the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/undo.h"
#include "app/winrefs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  uint32_t signature = size >= 4 ? (uint32_t)data[0] | (uint32_t)data[1] << 8 : 0;
  BcdDevice d = ParseBcdDevice(data, size, signature);
  if (d.form == BCD_PARTITION || d.form == BCD_NESTED) {
    if (d.signature_at + 4 > size) abort();
    uint32_t at = 0;
    memcpy(&at, data + d.signature_at, 4);
    if (at != d.signature) abort();
  }
  CheckHiveBaseBlock(data, size);
  uint64_t start;
  ParseMountedDevice(data, size, &signature, &start);
  UndoRecords records;
  if (ParseUndoRecords(data, size, &records) && size > 0) {
    std::string again = FormatUndoRecords(records);
    if (again.size() != size || memcmp(again.data(), data, size) != 0) {
      // Only a patch description may differ (line breaks are made blanks).
      UndoRecords back;
      if (!ParseUndoRecords((const uint8_t *)again.data(), again.size(), &back)) abort();
      if (back.patches.size() != records.patches.size()) abort();
    }
  }
  return 0;
}
