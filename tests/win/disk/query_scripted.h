// DiskQuery answered from a script: the test sets the reply and reads back
// what the backend asked.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptedQuery {
  // The answer.
  int ok = 1;
  std::vector<uint8_t> reply; // copied into the caller's buffer
  uint32_t returned = 0;      // reported, whatever the reply's size
  // The question.
  int calls = 0;
  void *handle = nullptr;
  unsigned long code = 0, size = 0;
  bool out_was_zero = false; // the buffer was zero-filled before the query
};
extern ScriptedQuery g_query;
