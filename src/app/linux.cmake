# Linux command-line program: kormelde.
