# Win32 disk backend: kormelde_win32disk library and the real device queries.
