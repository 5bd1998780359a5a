// The Win32 main dialog: its procedure and the icon start-up loads for it.
#pragma once

#include <windows.h>

// Class icon of the dialog, loaded by WinMain before anything is shown.
extern HICON g_icon;

// The KORMELDE dialog's procedure; WM_INITDIALOG's lparam is the Session the
// commands work on.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
