#include "platform/portable/registry_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace portable::registry_text {

namespace {

std::string Hex2(unsigned v) {
  static const char digits[] = "0123456789abcdef";
  return std::string{digits[(v >> 4) & 15], digits[v & 15]};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace

std::string QuoteString(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += Hex2(c);
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

bool UnquoteString(const std::string &line, size_t &pos, std::string *out) {
  if (pos >= line.size() || line[pos] != '"')
    return false;
  ++pos;
  out->clear();
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == '"')
      return true;
    if (c != '\\') {
      out->push_back(c);
    } else {
      if (pos >= line.size())
        return false;
      const char e = line[pos++];
      if (e == 'x') {
        if (pos + 2 > line.size())
          return false;
        const int hi = HexValue(line[pos]), lo = HexValue(line[pos + 1]);
        if (hi < 0 || lo < 0)
          return false;
        out->push_back(char(hi * 16 + lo));
        pos += 2;
      } else {
        out->push_back(e);
      }
    }
    if (out->size() > kMaxValueBytes)
      return false;
  }
  return false;
}

std::string EscapeComponent(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F || c == '%' || c == '\\' || c == '[' ||
        c == ']') {
      out += '%';
      out += Hex2(c);
    } else {
      out += char(c);
    }
  }
  return out;
}

bool UnescapeComponent(const std::string &s, std::string *out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out->push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size())
      return false;
    const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
    if (hi < 0 || lo < 0)
      return false;
    out->push_back(char(hi * 16 + lo));
    i += 2;
  }
  return !out->empty() && out->size() <= kMaxNameBytes;
}

std::string ValueLine(const std::string &name, const Value &value) {
  std::string out = QuoteString(name) + "=";
  if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t v;
    std::memcpy(&v, value.data.data(), 4);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    out += buffer;
  } else if (value.type == REG_SZ) {
    std::string s = value.data;
    if (!s.empty() && s.back() == '\0')
      s.pop_back();
    out += QuoteString(s);
  } else {
    out += "hex(" + std::to_string(value.type) + "):";
    for (size_t i = 0; i < value.data.size(); ++i)
      out += (i ? "," : "") + Hex2(static_cast<unsigned char>(value.data[i]));
  }
  return out;
}

std::string KeyHeader(const std::vector<std::string> &path) {
  std::string out = "[HKEY_CURRENT_USER";
  for (const std::string &component : path)
    out += "\\" + EscapeComponent(component);
  return out + "]";
}

bool ParseValueLine(const std::string &line, std::string *nameOut,
                    Value *valueOut) {
  size_t pos = 0;
  std::string name;
  if (!UnquoteString(line, pos, &name) || name.size() > kMaxNameBytes ||
      pos >= line.size() || line[pos] != '=')
    return false;
  ++pos;
  Value value;
  const std::string rest = line.substr(pos);
  if (rest.rfind("dword:", 0) == 0) {
    const std::string digits = rest.substr(6);
    if (digits.size() != 8)
      return false;
    uint32_t v = 0;
    for (char c : digits) {
      const int h = HexValue(c);
      if (h < 0)
        return false;
      v = v * 16 + uint32_t(h);
    }
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<const char *>(&v), 4);
  } else if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    std::string s;
    if (!UnquoteString(rest, p, &s) || p != rest.size())
      return false;
    value.type = REG_SZ;
    value.data = s + '\0';
  } else if (rest.rfind("hex(", 0) == 0) {
    const size_t close = rest.find("):");
    if (close == std::string::npos || close <= 4 || close > 14)
      return false;
    char *end = nullptr;
    const std::string typeText = rest.substr(4, close - 4);
    const unsigned long type = std::strtoul(typeText.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || type > 0xFFFFFFFFul)
      return false;
    value.type = DWORD(type);
    const std::string bytes = rest.substr(close + 2);
    for (size_t i = 0; i < bytes.size();) {
      if (i + 2 > bytes.size())
        return false;
      const int hi = HexValue(bytes[i]), lo = HexValue(bytes[i + 1]);
      if (hi < 0 || lo < 0)
        return false;
      value.data.push_back(char(hi * 16 + lo));
      i += 2;
      if (i < bytes.size()) {
        if (bytes[i] != ',')
          return false;
        ++i;
      }
      if (value.data.size() > kMaxValueBytes)
        return false;
    }
  } else {
    return false;
  }
  *nameOut = std::move(name);
  *valueOut = std::move(value);
  return true;
}

bool SameKey(const std::vector<std::string> &a,
             const std::vector<std::string> &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (NoCase()(a[i], b[i]) || NoCase()(b[i], a[i]))
      return false;
  return true;
}

std::vector<Line> ReadLines(const std::string &text) {
  std::vector<Line> lines;
  int current = -1;
  // A file saved by an editor that marks UTF-8 starts with a byte order
  // mark: it is not part of the first line.
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    Line l;
    l.begin = start;
    if (end == std::string::npos) {
      end = text.size();
    } else {
      l.ending = "\n";
    }
    l.end = end;
    if (!l.ending.empty() && l.end > l.begin && text[l.end - 1] == '\r') {
      --l.end;
      l.ending = "\r\n";
    }
    start = end + 1;
    const int index = int(lines.size());
    if (l.end - l.begin > kMaxLineBytes) {
      lines.push_back(std::move(l));
      continue;
    }
    std::string line = text.substr(l.begin, l.end - l.begin);
    while (!line.empty() &&
           (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    size_t lead = 0;
    while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t'))
      ++lead;
    line.erase(0, lead);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
      lines.push_back(std::move(l));
      continue;
    }
    if (line[0] == '[') {
      l.kind = Line::kHeader;
      current = -1;
      const std::string prefix = "HKEY_CURRENT_USER";
      const std::string path =
          line.back() == ']' ? line.substr(1, line.size() - 2) : "";
      bool ok =
          line.back() == ']' && path.compare(0, prefix.size(), prefix) == 0;
      size_t p = prefix.size();
      while (ok && p < path.size()) {
        if (path[p] != '\\') {
          ok = false;
          break;
        }
        const size_t next = path.find('\\', p + 1);
        const std::string raw = path.substr(
            p + 1, (next == std::string::npos ? path.size() : next) - p - 1);
        std::string component;
        ok = UnescapeComponent(raw, &component);
        l.path.push_back(component);
        p = next == std::string::npos ? path.size() : next;
      }
      if (ok && l.path.size() <= kMaxDepth) {
        current = index;
        l.key = index;
      }
      lines.push_back(std::move(l));
      continue;
    }
    if (current >= 0 && ParseValueLine(line, &l.name, &l.value)) {
      l.kind = Line::kValue;
      l.key = current;
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

} // namespace portable::registry_text
