// The terminal front end's voice: results on standard output, everything
// else (questions, progress, failures) on standard error, questions asked
// on the terminal or answered by option.
#pragma once

#include <cstdio>
#include <string>

#include "app/asker.h"
#include "posix/disk.h"

class Terminal : public Asker {
public:
  explicit Terminal(const RunOptions *run) : options(run) {}

  // A line on standard error, always shown: a failure, a refusal, a
  // warning that stands before a question.
  void Say(const std::string &text);
  // A line on standard error that --quiet leaves out: progress, paths.
  void Tell(const std::string &text);
  // A line of the result on standard output.
  void Result(const std::string &text);

  bool Ask(const Question &question) override;
  // A question only the terminal answers (not --yes or --no).
  bool AskOnTerminal(const std::string &text);

  // Access's sweep: a bar while it runs (on a terminal), then one line.
  void Progress(int done, int total);

  // Flushes TO; the first error of standard output is kept in output_error.
  void Flush(FILE *to);
  // A line on TO (standard output or error, as --json leaves them), flushed.
  void Line(FILE *to, const std::string &text);

  const RunOptions *options;
  int output_error = 0;
  FILE *in = stdin;
  FILE *out = stdout;
  FILE *err = stderr;

private:
  bool Answer(const std::string &text, bool warning);
  bool ReadAnswer();
  double sweep_start_ = 0;
};

// printf of one of texts.h's texts in the user's language.
std::string Text(const char *format, ...) __attribute__((format(printf, 1, 2)));
