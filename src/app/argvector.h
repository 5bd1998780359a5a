// The process's argument vector, split from the command line on first use:
// only spaces separate, '"' or '\'' may enclose an argument, no escapes.
#pragma once

enum { MAX_ARGS = 512, MODULE_PATH_SIZE = 1024 };

// Where the vector comes from; supplied by the platform (or a test).
const char *ArgSourceCommandLine();
// Writes the executable's path; returns its length, 0 on failure.
unsigned ArgSourceModulePath(char *buffer, unsigned size);

// Splits text in place into table; returns the count (at most MAX_ARGS).
int SplitArguments(char *text, char **table);

int GetArgCount();
char **GetArgVector();
// Index (1 or more) of the first argument beginning with option, ASCII
// letters compared without case; 0 if none.
int FindOption(const char *option);

// Forgets the vector, so that the next call builds it again.
void ResetArgVector();
