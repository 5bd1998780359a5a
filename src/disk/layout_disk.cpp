#include "layout.h"

// Placeholder until the on-disk decoder lands.
LayoutKind ClassifySectorZero(const uint8_t *) { return LAYOUT_NO_MARK; }
int BuildDriveLayoutReply(SectorReader, void *, uint64_t, uint32_t, uint32_t, uint8_t *, uint32_t,
                          uint32_t *) {
  return 0;
}
void ProbePc98Geometry(SectorReader, void *, uint64_t, const uint8_t *, uint32_t *heads,
                       uint32_t *sectors_per_track) {
  *heads = 8;
  *sectors_per_track = 17;
}
