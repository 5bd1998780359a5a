# Windows dialog program: kormelde.exe.
