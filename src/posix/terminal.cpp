#include "posix/terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "app/shown.h"
#include "ui/surface.h"
#include "ui/texts.h"

std::string Text(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = nullptr;
  int n = vasprintf(&text, SurfaceText(format), args);
  va_end(args);
  std::string s = n >= 0 ? std::string(text, (size_t)n) : std::string();
  free(text);
  return s;
}

void Terminal::Flush(FILE *to) {
  if ((fflush(to) != 0 || ferror(to)) && to == out && !output_error)
    output_error = errno ? errno : EIO;
}

void Terminal::Line(FILE *to, const std::string &text) {
  fprintf(to, "%s\n", text.c_str());
  Flush(to);
}

void Terminal::Say(const std::string &text) {
  Line(err, text);
}

void Terminal::Tell(const std::string &text) {
  if (!options->quiet) Line(err, text);
}

void Terminal::Result(const std::string &text) {
  Line(out, text);
}

static bool IsYes(const std::string &answer) {
  size_t begin = answer.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  size_t end = answer.find_first_of(" \t\r\n", begin);
  std::string word = answer.substr(begin, end == std::string::npos ? end : end - begin);
  return word == "y" || word == "Y" || word == "yes" || word == "YES" || word == "Yes" ||
         word == SurfaceText(TXT_LINUX_YES);
}

// Prints the question, then takes the answer from the option or the
// terminal; without either the answer is No: nothing blocks. A warning is
// shown under --quiet too.
bool Terminal::Answer(const std::string &text, bool warning) {
  if (options->quiet && options->answers != ANSWERS_ASK && !warning)
    return options->answers == ANSWERS_YES;
  fprintf(err, "%s\n%s", text.c_str(), SurfaceText(TXT_LINUX_ASK_PROMPT));
  bool yes = false;
  if (options->answers == ANSWERS_YES) {
    fprintf(err, "%s\n", SurfaceText(TXT_LINUX_YES));
    yes = true;
  } else if (options->answers == ANSWERS_NO) {
    fprintf(err, "%s\n", SurfaceText(TXT_LINUX_NO));
  } else if (!isatty(fileno(in)) && options->dry_run) {
    // Nothing is written: every check and question is gone through.
    fprintf(err, "%s\n", SurfaceText(TXT_LINUX_DRY_RUN_YES));
    yes = true;
  } else if (!isatty(fileno(in))) {
    fprintf(err, "%s\n", SurfaceText(TXT_LINUX_NO_TERMINAL));
  } else {
    yes = ReadAnswer();
  }
  fflush(err);
  return yes;
}

// One whole line typed after the question.
bool Terminal::ReadAnswer() {
  fflush(err);
  // What was typed before the question is no answer to it.
  tcflush(fileno(in), TCIFLUSH);
  char *line = nullptr;
  size_t size = 0;
  bool yes = false;
  if (getline(&line, &size, in) < 0)
    fputc('\n', err);
  else
    yes = IsYes(line);
  free(line);
  return yes;
}

bool Terminal::AskOnTerminal(const std::string &text) {
  fprintf(err, "%s\n%s", text.c_str(), SurfaceText(TXT_LINUX_ASK_PROMPT));
  bool yes = ReadAnswer();
  fflush(err);
  return yes;
}

static std::string Which(const QuestionDisk &disk) {
  return disk.which.empty() ? "-" : Shown(disk.which);
}

bool Terminal::Ask(const Question &q) {
  switch (q.kind) {
  case QUESTION_NOTICE:
    return Answer(SurfaceText(TXT_NOTICE), false);
  case QUESTION_PARTITION:
    return Answer(Text(q.mount_point ? TXT_LINUX_MOUNT_POINT_ASK : TXT_LINUX_PARTITION_ASK,
                       Shown(q.named).c_str(), q.disk.number, Shown(q.disk.path).c_str()),
                  false);
  case QUESTION_COLLISION: {
    std::string list;
    for (const QuestionDisk &d : q.holders)
      list += Text(TXT_LINUX_COLLISION_ITEM, d.number, Shown(d.path).c_str());
    return Answer(Text(TXT_LINUX_COLLISION_ASK, (unsigned)q.new_signature, list.c_str()), true);
  }
  case QUESTION_REWRITE:
    return Answer(Text(TXT_WRITE_CONFIRM_LINUX, q.disk.number, (unsigned)q.old_signature,
                       (unsigned long)q.new_signature, Shown(q.disk.path).c_str(),
                       Which(q.disk).c_str()),
                  false);
  }
  return false;
}

static double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + t.tv_nsec / 1e9;
}

void Terminal::Progress(int done, int total) {
  if (done == 0) sweep_start_ = Now();
  if (isatty(fileno(err)) && !options->quiet) {
    // The bar within the terminal's width: "[", "]" and " 100%" beside it,
    // the last column left free (a full line wraps on some terminals).
    enum { WIDTH = 40, BESIDE = 8 };
    winsize size = {};
    int width = WIDTH;
    if (ioctl(fileno(err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
      width = std::max(0, std::min((int)WIDTH, (int)size.ws_col - BESIDE));
    int filled = total > 0 ? done * width / total : width;
    fprintf(err, "\r[%.*s%*s] %3d%%", filled, "########################################",
            width - filled, "", total > 0 ? done * 100 / total : 100);
    if (done == total) fputs("\r\033[K", err);
    fflush(err);
  }
  if (done == total) Say(Text(TXT_LINUX_ACCESS_DONE, done, Now() - sweep_start_));
}
