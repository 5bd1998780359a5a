// The dialog surface on a terminal: fields held as text, questions asked on
// the terminal or answered by option, the command's result on standard
// output and everything else (questions, progress, failures) on standard
// error. What a command showed decides whether it was done.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "ui/surface.h"

enum TermAnswers { TERM_ASK = 0, TERM_ANSWER_YES, TERM_ANSWER_NO };
enum TermCommand { TERM_OTHER = 0, TERM_GET, TERM_ACCESS, TERM_WRITE };

struct TermSurface {
  TermAnswers answers = TERM_ASK;
  TermCommand command = TERM_OTHER;
  FILE *in = stdin;   // answers, read only when it is a terminal
  FILE *out = stdout; // the result
  FILE *err = stderr; // the rest
  std::map<int, std::string> fields;

  // What the running command showed.
  bool result_shown = false;  // Get's report or Write's success
  bool sweep_started = false; // Access began its test reads
  bool declined = false;      // a question was answered No
  bool success_next = false;  // the next message is the rewrite's success

  Dialog dialog() { return this; }
};

// Clears what the last command showed and names the next one.
void TermBegin(TermSurface *surface, TermCommand command);
// 1 when the command did its job: Get showed its report, Access ran its
// sweep, Write showed its success.
int TermDone(const TermSurface *surface);
