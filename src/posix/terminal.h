// The dialog surface on a terminal: fields held as text, questions asked on
// the terminal or answered by option, the command's result (Get's report,
// the rewrite's success) on standard output and everything else
// (questions, progress, failures) on standard error. With --json the
// result is left to the caller, which prints it as JSON.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "posix/disk.h"
#include "posix/survey.h"
#include "ui/surface.h"

// What the question before a write shows beyond the old and the new value:
// the disks the new value would collide with, and the lines of the
// system's configuration that name the old value's PARTUUIDs.
struct WriteContext {
  std::vector<SurveyedDisk> disks; // every disk read for the checks
  std::vector<ConfigFile> files;
};

struct SystemsPlan;

struct TermSurface {
  TermSurface(const RunOptions *run, const DiskSet *set) : options(run), disks(set) {}
  const RunOptions *options;
  const DiskSet *disks;                // names the disk in the question before a write
  const WriteContext *write = nullptr; // set for write and restore
  SystemsPlan *systems = nullptr;      // what changes with the signature
  FILE *in = stdin;                    // answers, read only when it is a terminal
  FILE *out = stdout;                  // the result
  FILE *err = stderr;                  // the rest
  std::map<int, std::string> fields;
  double sweep_start = 0; // seconds, when Access's sweep began

  Dialog dialog() { return this; }
};

// The surveyed disk numbered number in context, or nullptr.
const SurveyedDisk *FindSurveyed(const WriteContext *context, int number);
// Numbers of the disks other than disk that carry signature (never 0).
std::vector<int> CollidingDisks(const WriteContext *context, int disk, uint32_t signature);

// A question only the terminal answers (not --yes or --no).
int AskOnTerminal(TermSurface *s, const char *text);
