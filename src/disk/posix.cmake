# POSIX disk backend: kormelde_posix library.
