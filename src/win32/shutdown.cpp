// Shutting Windows down after a rewrite.
#include <windows.h>

#include "win32/startup.h"

static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one-entry TOKEN_PRIVILEGES is 16 bytes");

uint32_t EnablePrivilege(const char *name) {
  HANDLE token = nullptr;
  BOOL opened =
      OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  LUID luid;
  if (opened && LookupPrivilegeValueA(nullptr, name, &luid)) {
    TOKEN_PRIVILEGES state;
    state.PrivilegeCount = 1;
    state.Privileges[0].Luid = luid;
    state.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous;
    DWORD previous_size = 0;
    // AdjustTokenPrivileges succeeds without enabling a privilege the token
    // lacks; only the error code tells.
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &state, sizeof previous, &previous, &previous_size);
  }
  DWORD code = GetLastError();
  if (opened) CloseHandle(token);
  return code;
}

int ShutdownWindows(uint32_t flags) {
  EnablePrivilege("SeShutdownPrivilege");
  return ExitWindowsEx(flags, 0);
}
