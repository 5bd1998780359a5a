// Start-up pieces of the Windows program.
#pragma once

#include <cstdint>

// dwPlatformId as GetVersionExA reports it; 0 when the query fails.
uint32_t GetPlatformId();

// Enables one privilege in the process token: ERROR_SUCCESS,
// ERROR_NOT_ALL_ASSIGNED when the token lacks it, or the failing step's code.
uint32_t EnablePrivilege(const char *name);

// ExitWindowsEx with the shutdown privilege enabled first; the result may
// be ignored.
int ShutdownWindows(uint32_t flags);
