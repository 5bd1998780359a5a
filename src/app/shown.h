// Names as bytes: a file name, a device's model, a line of a file under
// --root may hold any byte. Shown gives the form a terminal can take.
#pragma once

#include <cstddef>
#include <string>

// Length of the UTF-8 sequence at p (at most n bytes), 0 when it is not a
// valid one.
size_t Utf8Length(const unsigned char *p, size_t n);

// Whether every byte of TEXT belongs to a valid UTF-8 sequence.
bool IsUtf8(const std::string &text);

// TEXT for a human: valid UTF-8 characters as they are; \e, \n, \t, \r for
// those controls; \xNN for every byte of another control character (C0,
// DEL, C1) and for each byte that is not UTF-8; a backslash as \\. Every
// escape is undone unambiguously.
std::string Shown(const std::string &text);
