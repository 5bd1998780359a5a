// Why a disk operation failed, in the program's language.
#pragma once

#include "disk/disk.h"

// One line (UTF-8 in the source) for each reason the disk layer returns.
const char *DiskErrorText(DiskError error);
