// The dialog surface on a terminal: fields held as text, questions asked on
// the terminal or answered by option, the command's result (Get's report,
// the rewrite's success) on standard output and everything else
// (questions, progress, failures) on standard error.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "posix/disk.h"
#include "ui/surface.h"

struct TermSurface {
  TermSurface(const RunOptions *run, const DiskSet *set) : options(run), disks(set) {}
  const RunOptions *options;
  const DiskSet *disks; // names the disk in the question before a write
  FILE *in = stdin;     // answers, read only when it is a terminal
  FILE *out = stdout;   // the result
  FILE *err = stderr;   // the rest
  std::map<int, std::string> fields;
  double sweep_start = 0; // seconds, when Access's sweep began

  Dialog dialog() { return this; }
};
