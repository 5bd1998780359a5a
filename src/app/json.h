// A JSON document built in memory: objects, arrays, strings, numbers and
// booleans, for the Linux program's --json output. Strings are UTF-8;
// bytes that are not valid UTF-8 become U+FFFD, so the document always
// parses; Name keeps a name's bytes beside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
public:
  JsonWriter &BeginObject();
  JsonWriter &EndObject();
  JsonWriter &BeginArray();
  JsonWriter &EndArray();
  // The next member's name, inside an object.
  JsonWriter &Key(const char *name);
  JsonWriter &String(const std::string &value);
  // Member KEY with a name's text and, when the name is not valid UTF-8,
  // member KEY_bytes with its bytes in hexadecimal: a U+FFFD in the name
  // and a byte that is not UTF-8 stay apart.
  JsonWriter &Name(const char *key, const std::string &value);
  JsonWriter &Number(uint64_t value);
  JsonWriter &Bool(bool value);
  JsonWriter &Null();
  // The document, indented two blanks a level, with a final line feed.
  std::string Text() const { return out_ + "\n"; }

private:
  void Value();
  void Open(char bracket);
  void Close(char bracket);
  void Newline();
  std::string out_;
  std::vector<bool> first_; // per open level: no member written yet
  bool after_key_ = false;
};

// "0x56fc78de": a signature as the JSON output gives it.
std::string JsonSignature(uint32_t signature);
