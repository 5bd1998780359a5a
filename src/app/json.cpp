#include "app/json.h"

#include <cstdio>

#include "app/shown.h"

void JsonWriter::Newline() {
  out_ += '\n';
  out_.append(first_.size() * 2, ' ');
}

// Separator and indentation before a value or a key.
void JsonWriter::Value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_ += ',';
  first_.back() = false;
  Newline();
}

void JsonWriter::Open(char bracket) {
  Value();
  out_ += bracket;
  first_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  bool empty = first_.back();
  first_.pop_back();
  if (!empty) Newline();
  out_ += bracket;
}

JsonWriter &JsonWriter::BeginObject() {
  Open('{');
  return *this;
}
JsonWriter &JsonWriter::EndObject() {
  Close('}');
  return *this;
}
JsonWriter &JsonWriter::BeginArray() {
  Open('[');
  return *this;
}
JsonWriter &JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter &JsonWriter::Key(const char *name) {
  String(name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

JsonWriter &JsonWriter::String(const std::string &value) {
  Value();
  out_ += '"';
  const unsigned char *p = reinterpret_cast<const unsigned char *>(value.data());
  size_t n = value.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    size_t len = Utf8Length(p + i, n - i);
    if (len == 0) {
      out_ += "\\ufffd";
      i++;
      continue;
    }
    if (c == '"' || c == '\\') {
      out_ += '\\';
      out_ += (char)c;
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out_ += escaped;
    } else {
      out_.append(value, i, len);
    }
    i += len;
  }
  out_ += '"';
  return *this;
}

JsonWriter &JsonWriter::Name(const char *key, const std::string &value) {
  Key(key).String(value);
  if (IsUtf8(value)) return *this;
  std::string hex;
  for (unsigned char c : value) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  return Key((std::string(key) + "_bytes").c_str()).String(hex);
}

JsonWriter &JsonWriter::Number(uint64_t value) {
  Value();
  out_ += std::to_string(value);
  return *this;
}

JsonWriter &JsonWriter::Bool(bool value) {
  Value();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter &JsonWriter::Null() {
  Value();
  out_ += "null";
  return *this;
}

std::string JsonSignature(uint32_t signature) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", (unsigned)signature);
  return text;
}
