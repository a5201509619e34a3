// The registry file's text form (internal to the registry): quoting,
// key headers, value lines, and reading a file line by line as the store
// reads it. registry.cpp keeps the tree and the file.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/portable/win32_subset.h"

namespace portable::registry_text {

constexpr size_t kMaxLineBytes = 64u << 10;
constexpr size_t kMaxDepth = 32;
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxValueBytes = 1u << 20;

struct NoCase {
  bool operator()(const std::string &a, const std::string &b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
          return std::tolower(static_cast<unsigned char>(x)) <
                 std::tolower(static_cast<unsigned char>(y));
        });
  }
};

struct Value {
  DWORD type = REG_NONE;
  std::string data;
};

std::string QuoteString(const std::string &s);
// Reads a quoted string at `pos`; leaves `pos` after the closing quote.
bool UnquoteString(const std::string &line, size_t &pos, std::string *out);
std::string EscapeComponent(const std::string &s);
bool UnescapeComponent(const std::string &s, std::string *out);
// One value's line, without its end.
std::string ValueLine(const std::string &name, const Value &value);
std::string KeyHeader(const std::vector<std::string> &path);
bool ParseValueLine(const std::string &line, std::string *nameOut,
                    Value *valueOut);
bool SameKey(const std::vector<std::string> &a,
             const std::vector<std::string> &b);

// One line of the text form as it was read.
struct Line {
  size_t begin = 0, end = 0; // its bytes, without the end of line
  std::string ending;        // "\n", "\r\n" or "" (the last line)
  enum Kind { kOther, kHeader, kValue } kind = kOther;
  int key = -1; // a value: the index of its key's header line; a header:
                // its own index when the key could be read
  std::vector<std::string> path; // a header's key
  std::string name;              // a value's name
  Value value;
};

// Reads the text line by line as the store reads it: keys, values of the
// key above them, and everything else (comments, blank lines, lines too
// long or not understood).
std::vector<Line> ReadLines(const std::string &text);

} // namespace portable::registry_text
