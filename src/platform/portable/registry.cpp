// The current user's registry: a tree of keys with REG_DWORD, REG_SZ and
// opaque values, kept in one human-readable text file. Changes are written
// when the key they were made through is closed, in one atomic replacement
// of the file (a temporary file renamed over it, or over the file a
// symbolic link points to). A file that exists but cannot be read is never
// replaced.
#include "platform/portable/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/portable/internal.h"

namespace portable {

namespace {

constexpr size_t kMaxFileBytes = 4u << 20;
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

struct Node {
  std::map<std::string, std::unique_ptr<Node>, NoCase> children;
  std::map<std::string, Value, NoCase> values;
};

struct OpenKey {
  std::vector<std::string> path; // components below HKEY_CURRENT_USER
  bool write = false;
};

Node root;
bool loaded = false;
bool loadFailed = false; // the file exists but could not be read
bool dirty = false;      // changes not yet in the file
std::string filePath;
bool failReads = false;
bool failWrites = false;
bool failPersists = false; // the file cannot be replaced (a full disk)
int fileWrites = 0;        // replacements of the file so far
HandleTable<OpenKey> openKeys;

// --- Text form ---------------------------------------------------------

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

// Reads a quoted string at `pos`; leaves `pos` after the closing quote.
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

void SerializeNode(const Node &node, const std::string &path,
                   std::ostringstream &out) {
  if (!node.values.empty()) {
    out << "\n[" << path << "]\n";
    for (const auto &[name, value] : node.values) {
      out << QuoteString(name) << "=";
      if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t v;
        std::memcpy(&v, value.data.data(), 4);
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
        out << buffer;
      } else if (value.type == REG_SZ) {
        std::string s = value.data;
        if (!s.empty() && s.back() == '\0')
          s.pop_back();
        out << QuoteString(s);
      } else {
        out << "hex(" << value.type << "):";
        for (size_t i = 0; i < value.data.size(); ++i)
          out << (i ? "," : "")
              << Hex2(static_cast<unsigned char>(value.data[i]));
      }
      out << "\n";
    }
  } else if (node.children.empty()) {
    out << "\n[" << path << "]\n";
  }
  for (const auto &[name, child] : node.children)
    SerializeNode(*child, path + "\\" + EscapeComponent(name), out);
}

Node *Walk(const std::vector<std::string> &path, bool create) {
  Node *node = &root;
  for (const std::string &component : path) {
    auto it = node->children.find(component);
    if (it == node->children.end()) {
      if (!create)
        return nullptr;
      it = node->children.emplace(component, std::make_unique<Node>()).first;
    }
    node = it->second.get();
  }
  return node;
}

bool ParseValueLine(const std::string &line, Node *node) {
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
  node->values[name] = std::move(value);
  return true;
}

// --- File --------------------------------------------------------------

void EnsureLoaded() {
  if (loaded)
    return;
  loaded = true;
  if (filePath.empty())
    return;
  // Only a regular file is read: a pipe or a device could block forever.
  struct stat st;
  if (stat(filePath.c_str(), &st) != 0) {
    loadFailed = errno != ENOENT; // absent: a first run
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    loadFailed = true;
    return;
  }
  std::ifstream in(filePath, std::ios::binary);
  if (!in) {
    loadFailed = true;
    return;
  }
  std::string text(kMaxFileBytes, '\0');
  in.read(&text[0], static_cast<std::streamsize>(kMaxFileBytes));
  text.resize(static_cast<size_t>(in.gcount()));
  ParseRegistry(text);
}

bool MakeDirectories(const std::string &dir) {
  if (dir.empty())
    return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 &&
      !MakeDirectories(dir.substr(0, slash)))
    return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The file the text goes to: the registry file, or the file a symbolic
// link in its place points to (dotfile managers link it).
std::string WriteTarget() {
  struct stat st;
  if (lstat(filePath.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
    return filePath;
  char *resolved = realpath(filePath.c_str(), nullptr);
  if (resolved != nullptr) {
    std::string target = resolved;
    std::free(resolved);
    return target;
  }
  // A link to a file not made yet: its target, relative to the link.
  std::string link(4096, '\0');
  const ssize_t n = readlink(filePath.c_str(), &link[0], link.size() - 1);
  if (n <= 0)
    return filePath;
  link.resize(size_t(n));
  if (link[0] == '/')
    return link;
  const size_t slash = filePath.find_last_of('/');
  return slash == std::string::npos ? link
                                    : filePath.substr(0, slash + 1) + link;
}

bool Persist() {
  if (filePath.empty()) {
    dirty = false;
    return true;
  }
  if (loadFailed || failPersists)
    return false;
  const std::string target = WriteTarget();
  const size_t slash = target.find_last_of('/');
  const std::string dir =
      slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  if (!MakeDirectories(dir))
    return false;
  std::string temp = target + ".XXXXXX";
  const int fd = mkstemp(&temp[0]);
  if (fd < 0)
    return false;
  struct stat old;
  bool ok = true;
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      fchmod(fd, old.st_mode & 07777) != 0)
    ok = false;
  const std::string text = SerializeRegistry();
  size_t written = 0;
  while (ok && written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n <= 0) {
      if (n < 0 && errno == EINTR)
        continue;
      ok = false;
      break;
    }
    written += size_t(n);
  }
  if (ok && fsync(fd) != 0)
    ok = false;
  if (close(fd) != 0)
    ok = false;
  if (ok && rename(temp.c_str(), target.c_str()) != 0)
    ok = false;
  if (!ok) {
    unlink(temp.c_str());
  } else {
    dirty = false;
    ++fileWrites;
  }
  return ok;
}

// Splits a sub-key path at backslashes, keeping a double-byte character
// whose trail byte is 0x5C whole.
bool SplitPath(const char *subKey, std::vector<std::string> *out) {
  out->clear();
  if (subKey == nullptr || *subKey == '\0')
    return true;
  std::string component;
  for (const char *p = subKey; *p != '\0';) {
    const char *next = CharNextA(p);
    if (next == p + 1 && *p == '\\') {
      if (component.empty())
        return false;
      out->push_back(component);
      component.clear();
    } else {
      component.append(p, next);
    }
    p = next;
  }
  if (!component.empty())
    out->push_back(component);
  for (const std::string &c : *out)
    if (c.size() > kMaxNameBytes)
      return false;
  return out->size() <= kMaxDepth;
}

OpenKey *Resolve(HKEY key) {
  static OpenKey currentUser;
  if (key == HKEY_CURRENT_USER) {
    currentUser = OpenKey{{}, true};
    return &currentUser;
  }
  return openKeys.Get(key);
}

bool WantsWrite(REGSAM sam) { return (sam & 0x0006) != 0; }

} // namespace

void SetRegistryFile(const std::string &path) {
  filePath = path;
  root = Node();
  loaded = false;
  loadFailed = false;
  dirty = false;
}

std::string DefaultRegistryFile() {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char *home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : ".") + "/.config";
  }
  return base + "/flinto/registry.txt";
}

int RegistryFileWrites() { return fileWrites; }

void SetRegistryFailures(bool reads, bool writes, bool persists) {
  failReads = reads;
  failWrites = writes;
  failPersists = persists;
}

std::string SerializeRegistry() {
  std::ostringstream out;
  out << "; Flinto settings of the current user. Values: \"Name\"=dword:"
         "hhhhhhhh, \"Name\"=\"text\".\n";
  for (const auto &[name, child] : root.children)
    SerializeNode(*child, "HKEY_CURRENT_USER\\" + EscapeComponent(name), out);
  return out.str();
}

int ParseRegistry(const std::string &text) {
  root = Node();
  loaded = true;
  int count = 0;
  Node *current = nullptr;
  // A file saved by an editor that marks UTF-8 starts with a byte order
  // mark: it is not part of the first line.
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line =
        text.substr(start, std::min(end - start, kMaxLineBytes + 1));
    start = end + 1;
    if (line.size() > kMaxLineBytes)
      continue;
    while (!line.empty() &&
           (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    size_t lead = 0;
    while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t'))
      ++lead;
    line.erase(0, lead);
    if (line.empty() || line[0] == ';' || line[0] == '#')
      continue;
    if (line[0] == '[') {
      current = nullptr;
      if (line.back() != ']')
        continue;
      const std::string path = line.substr(1, line.size() - 2);
      const std::string prefix = "HKEY_CURRENT_USER";
      if (path.compare(0, prefix.size(), prefix) != 0)
        continue;
      std::vector<std::string> components;
      bool ok = true;
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
        components.push_back(component);
        p = next == std::string::npos ? path.size() : next;
      }
      if (ok && components.size() <= kMaxDepth)
        current = Walk(components, true);
      continue;
    }
    if (current != nullptr && ParseValueLine(line, current))
      ++count;
  }
  return count;
}

void ResetRegistry() {
  root = Node();
  loaded = false;
  loadFailed = false;
  dirty = false;
  filePath.clear();
  failReads = failWrites = failPersists = false;
  openKeys.Clear();
}

} // namespace portable

using namespace portable;

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam,
                      PHKEY result) {
  if (result == nullptr)
    return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey *parent = Resolve(key);
  if (parent == nullptr)
    return ERROR_INVALID_HANDLE;
  if (failReads && !WantsWrite(sam))
    return ERROR_ACCESS_DENIED;
  if (failWrites && WantsWrite(sam))
    return ERROR_ACCESS_DENIED;
  EnsureLoaded();
  if (loadFailed)
    return ERROR_ACCESS_DENIED;
  std::vector<std::string> components;
  if (!SplitPath(subKey, &components))
    return ERROR_FILE_NOT_FOUND;
  auto open = std::make_unique<OpenKey>();
  open->path = parent->path;
  open->path.insert(open->path.end(), components.begin(), components.end());
  open->write = WantsWrite(sam);
  if (open->path.size() > kMaxDepth || Walk(open->path, false) == nullptr) {
    // Keys that have never been written do not exist, except the top ones.
    if (!(open->path.size() == 1 && open->path[0] == "Software"))
      return ERROR_FILE_NOT_FOUND;
  }
  *result = openKeys.Add<HKEY>(std::move(open));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD,
                        REGSAM sam, const LPSECURITY_ATTRIBUTES, PHKEY result,
                        LPDWORD disposition) {
  if (result == nullptr)
    return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey *parent = Resolve(key);
  if (parent == nullptr)
    return ERROR_INVALID_HANDLE;
  if (failWrites)
    return ERROR_ACCESS_DENIED;
  EnsureLoaded();
  if (loadFailed)
    return ERROR_ACCESS_DENIED;
  std::vector<std::string> components;
  if (!SplitPath(subKey, &components))
    return ERROR_INVALID_PARAMETER;
  auto open = std::make_unique<OpenKey>();
  open->path = parent->path;
  open->path.insert(open->path.end(), components.begin(), components.end());
  open->write = WantsWrite(sam);
  if (open->path.size() > kMaxDepth)
    return ERROR_INVALID_PARAMETER;
  const bool existed = Walk(open->path, false) != nullptr;
  if (!existed) {
    Walk(open->path, true);
    dirty = true;
  }
  if (disposition != nullptr)
    *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = openKeys.Add<HKEY>(std::move(open));
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type,
                         LPBYTE data, LPDWORD size) {
  OpenKey *open = openKeys.Get(key);
  if (open == nullptr)
    return ERROR_INVALID_HANDLE;
  if (failReads)
    return ERROR_ACCESS_DENIED;
  Node *node = Walk(open->path, false);
  if (node == nullptr)
    return ERROR_FILE_NOT_FOUND;
  auto it = node->values.find(name != nullptr ? name : "");
  if (it == node->values.end())
    return ERROR_FILE_NOT_FOUND;
  const Value &value = it->second;
  if (type != nullptr)
    *type = value.type;
  if (data != nullptr) {
    if (size == nullptr)
      return ERROR_INVALID_PARAMETER;
    if (*size < value.data.size()) {
      *size = DWORD(value.data.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), value.data.size());
  }
  if (size != nullptr)
    *size = DWORD(value.data.size());
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type,
                       const BYTE *data, DWORD size) {
  OpenKey *open = openKeys.Get(key);
  if (open == nullptr)
    return ERROR_INVALID_HANDLE;
  if (!open->write || failWrites)
    return ERROR_ACCESS_DENIED;
  if ((data == nullptr && size != 0) || size > kMaxValueBytes)
    return ERROR_INVALID_PARAMETER;
  Node *node = Walk(open->path, true);
  Value value;
  value.type = type;
  if (size != 0)
    value.data.assign(reinterpret_cast<const char *>(data), size);
  node->values[name != nullptr ? name : ""] = value;
  dirty = true;
  return ERROR_SUCCESS;
}

// Closing the last key open for writing writes what changed through the
// keys (a path walk that creates its keys, then sets values through the
// last, makes one replacement of the file).
LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER)
    return ERROR_SUCCESS;
  if (!openKeys.Remove(key))
    return ERROR_INVALID_HANDLE;
  for (const auto &[handle, open] : openKeys.items())
    if (open->write)
      return ERROR_SUCCESS; // written when that one closes
  if (dirty && !Persist())
    return ERROR_WRITE_FAULT;
  return ERROR_SUCCESS;
}
