// A dialog surface that answers from a script and records every message.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/surface.h"

struct ShownMessage {
  std::string text;
  std::string caption;
  unsigned style;
};

struct ScriptedSurface {
  std::map<int, std::string> fields;
  std::deque<int> answers; // taken in order; Yes/No boxes default to No, OK boxes to OK
  std::vector<ShownMessage> messages;
  std::vector<std::pair<int, std::string>> field_writes; // every SetText/SetInt
  std::function<void()> on_question;                     // runs when a Yes/No message is shown

  Dialog dialog() { return this; }
};

// Every shutdown request (the Windows dialog's, after Yes to the success
// message), in order.
extern std::vector<uint32_t> g_shutdowns;
