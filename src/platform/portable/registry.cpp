// The current user's registry: a tree of keys with REG_DWORD, REG_SZ and
// opaque values, kept in one human-readable text file. Changes are written
// when the key they were made through is closed, in one atomic replacement
// of the file (a temporary file renamed over it, or over the file a
// symbolic link points to). The file is read again at each save and only
// the values set since the last one are changed in it: every other line
// (other programs' keys, edits made meanwhile, comments, lines this store
// cannot read) stays byte for byte. A file that cannot be read whole, a
// read-only one, and a link another user could have planted are never
// written; a save then fails and says why on stderr.
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
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/portable/file_read.h"
#include "platform/portable/internal.h"
#include "platform/portable/registry_text.h"

namespace portable {

namespace {

using namespace registry_text;

constexpr size_t kMaxFileBytes = 4u << 20;

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
// What changed since the file was last written: values set (key path,
// name) and keys made.
std::set<std::pair<std::vector<std::string>, std::string>> setValues;
std::set<std::vector<std::string>> madeKeys;
std::string filePath;
bool failReads = false;
bool failWrites = false;
bool failPersists = false; // the file cannot be replaced (a full disk)
int fileWrites = 0;        // replacements of the file so far
HandleTable<OpenKey> openKeys;

// --- Text form ---------------------------------------------------------

void SerializeNode(const Node &node, const std::string &path,
                   std::string &out) {
  if (!node.values.empty()) {
    out += "\n[" + path + "]\n";
    for (const auto &[name, value] : node.values)
      out += ValueLine(name, value) + "\n";
  } else if (node.children.empty()) {
    out += "\n[" + path + "]\n";
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

// The file's text with the values set since the last save put in: a value
// already there is replaced on its line (its last line, the one a reader
// takes), a new one goes after the last value of its key, a new key at the
// end. Nothing else changes.
std::string Merge(const std::string &text) {
  const std::vector<Line> lines = ReadLines(text);
  std::string eol = "\n";
  for (const Line &l : lines)
    if (!l.ending.empty()) {
      eol = l.ending;
      break;
    }
  std::map<size_t, std::string> replaced;
  std::map<size_t, std::vector<std::string>> after;
  std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>
      added; // new keys at the end, with their values
  auto lastHeader = [&](const std::vector<std::string> &path) {
    int found = -1;
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].kind == Line::kHeader && lines[i].key >= 0 &&
          SameKey(lines[i].path, path))
        found = int(i);
    return found;
  };
  auto addedKey =
      [&](const std::vector<std::string> &path) -> std::vector<std::string> & {
    for (auto &[p, values] : added)
      if (SameKey(p, path))
        return values;
    added.push_back({path, {}});
    return added.back().second;
  };
  for (const auto &[path, name] : setValues) {
    const Node *node = Walk(path, false);
    if (node == nullptr)
      continue;
    auto v = node->values.find(name);
    if (v == node->values.end())
      continue;
    const std::string line = ValueLine(v->first, v->second);
    int at = -1;
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].kind == Line::kValue &&
          SameKey(lines[size_t(lines[i].key)].path, path) &&
          !NoCase()(lines[i].name, name) && !NoCase()(name, lines[i].name))
        at = int(i);
    if (at >= 0) {
      replaced[size_t(at)] = line;
      continue;
    }
    const int header = lastHeader(path);
    if (header < 0) {
      addedKey(path).push_back(line);
      continue;
    }
    size_t last = size_t(header);
    for (size_t i = size_t(header) + 1; i < lines.size(); ++i) {
      if (lines[i].kind == Line::kHeader)
        break;
      if (lines[i].kind == Line::kValue)
        last = i;
    }
    after[last].push_back(line);
  }
  // A key made without values is written only where nothing below it is
  // (the keys on a path made to reach a value need no line of their own).
  auto under = [](const std::vector<std::string> &path,
                  const std::vector<std::string> &other) {
    return other.size() >= path.size() &&
           SameKey(path, std::vector<std::string>(
                             other.begin(), other.begin() + long(path.size())));
  };
  for (const std::vector<std::string> &path : madeKeys) {
    bool covered = false;
    for (const Line &l : lines)
      covered = covered ||
                (l.kind == Line::kHeader && l.key >= 0 && under(path, l.path));
    for (const auto &[p, values] : added)
      covered = covered || under(path, p);
    for (const auto &[p, name] : setValues)
      covered = covered || under(path, p);
    if (!covered)
      addedKey(path);
  }

  std::string out =
      text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? "\xEF\xBB\xBF" : "";
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line &l = lines[i];
    auto r = replaced.find(i);
    out +=
        r != replaced.end() ? r->second : text.substr(l.begin, l.end - l.begin);
    auto a = after.find(i);
    if (a == after.end()) {
      out += l.ending;
      continue;
    }
    out += l.ending.empty() ? eol : l.ending;
    for (const std::string &line : a->second)
      out += line + (l.ending.empty() && &line == &a->second.back() ? "" : eol);
  }
  if (!added.empty() && !out.empty() && out.back() != '\n')
    out += eol;
  for (const auto &[path, values] : added) {
    out += eol + KeyHeader(path) + eol;
    for (const std::string &line : values)
      out += line + eol;
  }
  return out;
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
  std::string text;
  if (ReadFileUpTo(filePath, kMaxFileBytes, &text) != FileRead::kRead) {
    loadFailed = true;
    return;
  }
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

void Say(const std::string &what) {
  std::fprintf(stderr, "flinto: %s\n", what.c_str());
  std::fflush(stderr);
}

// Whether `dir` can be changed only by the user and root: owned by one of
// them and writable by no one else (a sticky folder, such as /tmp, lets no
// one else replace what the user put there).
bool OnlyOursOrRoots(const std::string &dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0)
    return false;
  if (st.st_uid != getuid() && st.st_uid != 0)
    return false;
  return (st.st_mode & 0022) == 0 || (st.st_mode & S_ISVTX) != 0;
}

// A symbolic link on the way to the file is followed only when the user
// (or root) made it and no one else could have put it there: else another
// user's link in a shared folder would have the settings written over a
// file of the user's choosing. Says why not in `why`.
bool LinksAreTheUsers(const std::string &path, std::string *why) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    struct stat st;
    if (prefix.empty() || lstat(prefix.c_str(), &st) != 0)
      return true; // the rest does not exist yet: it will be ours
    if (S_ISLNK(st.st_mode)) {
      if (st.st_uid != getuid() && st.st_uid != 0) {
        *why = prefix + " is a symbolic link of another user";
        return false;
      }
      for (size_t slash = prefix.find('/');
           slash != std::string::npos && slash + 1 < prefix.size();
           slash = prefix.find('/', slash + 1)) {
        const std::string dir = slash == 0 ? "/" : prefix.substr(0, slash);
        if (!OnlyOursOrRoots(dir)) {
          *why = prefix + " is a symbolic link in " + dir +
                 ", which other users can change";
          return false;
        }
      }
      if (prefix[0] != '/' && !OnlyOursOrRoots(".")) {
        *why =
            prefix + " is a symbolic link in a folder other users can change";
        return false;
      }
    }
    if (end == std::string::npos)
      return true;
  }
}

// The file's text as it is now; false (with the reason) when it cannot be
// read whole. A file that is not there reads as absent.
bool ReadCurrent(const std::string &path, std::string *text, bool *exists,
                 std::string *why) {
  *exists = false;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *why = path + " cannot be read";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = path + " is not a plain file";
    return false;
  }
  if (size_t(st.st_size) > kMaxFileBytes) {
    *why = path + " is larger than 4 MiB and was left as it is";
    return false;
  }
  if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) {
    *why = path + " is read-only";
    return false;
  }
  const FileRead read = ReadFileUpTo(path, kMaxFileBytes + 1, text);
  if (read == FileRead::kCannotOpen) {
    *why = path + " cannot be read";
    return false;
  }
  if (read != FileRead::kRead || text->size() > kMaxFileBytes) {
    *why = path + " cannot be read whole";
    return false;
  }
  *exists = true;
  return true;
}

bool Persist() {
  if (filePath.empty()) {
    dirty = false;
    setValues.clear();
    madeKeys.clear();
    return true;
  }
  if (loadFailed || failPersists)
    return false;
  std::string why;
  if (!LinksAreTheUsers(filePath, &why)) {
    Say("the settings were not saved: " + why);
    return false;
  }
  const std::string target = WriteTarget();
  std::string current;
  bool exists = false;
  if (!ReadCurrent(target, &current, &exists, &why)) {
    Say("the settings were not saved: " + why);
    return false;
  }
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
  const std::string text = exists ? Merge(current) : SerializeRegistry();
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
    return false;
  }
  // What the file holds now, edits made meanwhile by others included, is
  // what the store holds.
  ParseRegistry(text);
  dirty = false;
  setValues.clear();
  madeKeys.clear();
  ++fileWrites;
  return true;
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

// The key `subKey` names below `parent`, to be opened with `sam` (the store
// read first); `badPath` when the name cannot be a path.
LSTATUS KeyBelow(const OpenKey &parent, LPCSTR subKey, REGSAM sam,
                 LSTATUS badPath, std::unique_ptr<OpenKey> *result) {
  EnsureLoaded();
  if (loadFailed)
    return ERROR_ACCESS_DENIED;
  std::vector<std::string> components;
  if (!SplitPath(subKey, &components))
    return badPath;
  auto open = std::make_unique<OpenKey>();
  open->path = parent.path;
  open->path.insert(open->path.end(), components.begin(), components.end());
  open->write = WantsWrite(sam);
  *result = std::move(open);
  return ERROR_SUCCESS;
}

} // namespace

void SetRegistryFile(const std::string &path) {
  filePath = path;
  root = Node();
  setValues.clear();
  madeKeys.clear();
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
  std::string out = "; Flinto settings of the current user. Values: "
                    "\"Name\"=dword:hhhhhhhh, \"Name\"=\"text\".\n";
  for (const auto &[name, child] : root.children)
    SerializeNode(*child, "HKEY_CURRENT_USER\\" + EscapeComponent(name), out);
  return out;
}

int ParseRegistry(const std::string &text) {
  root = Node();
  loaded = true;
  int count = 0;
  Node *current = nullptr;
  for (Line &l : ReadLines(text)) {
    if (l.kind == Line::kHeader)
      current = l.key >= 0 ? Walk(l.path, true) : nullptr;
    else if (l.kind == Line::kValue && current != nullptr) {
      current->values[l.name] = std::move(l.value);
      ++count;
    }
  }
  return count;
}

void ResetRegistry() {
  root = Node();
  setValues.clear();
  madeKeys.clear();
  loaded = false;
  loadFailed = false;
  dirty = false;
  filePath.clear();
  failReads = failWrites = failPersists = false;
  openKeys.Clear();
}

} // namespace portable

using namespace portable;

// The key a call names its path from, the result cleared; null with the
// status to return when there is none.
OpenKey *Parent(HKEY key, PHKEY result, LSTATUS *status) {
  *status = ERROR_INVALID_PARAMETER;
  if (result == nullptr)
    return nullptr;
  *result = nullptr;
  *status = ERROR_INVALID_HANDLE;
  return Resolve(key);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam,
                      PHKEY result) {
  LSTATUS status;
  OpenKey *parent = Parent(key, result, &status);
  if (parent == nullptr)
    return status;
  if (failReads && !WantsWrite(sam))
    return ERROR_ACCESS_DENIED;
  if (failWrites && WantsWrite(sam))
    return ERROR_ACCESS_DENIED;
  std::unique_ptr<OpenKey> open;
  status = KeyBelow(*parent, subKey, sam, ERROR_FILE_NOT_FOUND, &open);
  if (status != ERROR_SUCCESS)
    return status;
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
  LSTATUS status;
  OpenKey *parent = Parent(key, result, &status);
  if (parent == nullptr)
    return status;
  if (failWrites)
    return ERROR_ACCESS_DENIED;
  std::unique_ptr<OpenKey> open;
  status = KeyBelow(*parent, subKey, sam, ERROR_INVALID_PARAMETER, &open);
  if (status != ERROR_SUCCESS)
    return status;
  if (open->path.size() > kMaxDepth)
    return ERROR_INVALID_PARAMETER;
  const bool existed = Walk(open->path, false) != nullptr;
  if (!existed) {
    Walk(open->path, true);
    madeKeys.insert(open->path);
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
  setValues.insert({open->path, name != nullptr ? name : ""});
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
