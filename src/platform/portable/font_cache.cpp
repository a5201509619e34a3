// The file: a first line "flinto-fonts 1 FINGERPRINT", then one line for
// each answer, "BOLD<TAB>FAMILY<TAB>FILE<TAB>INDEX<TAB>MTIME<TAB>SIZE" (the
// font file's modification time in nanoseconds and its size when the
// answer was given). A file that says another fingerprint, a line that
// does not read, and a file larger than 64 KiB are not used.
#include "platform/portable/font_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/portable/file_read.h"

namespace portable {

namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;
constexpr size_t kMaxEntries = 32;
const char kHeader[] = "flinto-fonts 1 ";

bool cacheFileSet = false;
std::string cacheFile;
std::string fingerprint; // worked out once a run (or a file set)

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  const std::string home = Env("HOME");
  return home.empty() ? "." : home;
}

// An XDG base folder: the variable when it is an absolute path, else the
// default under the home folder.
std::string XdgDir(const char *variable, const char *fallback) {
  const std::string value = Env(variable);
  if (!value.empty() && value[0] == '/')
    return value;
  return HomeDir() + "/" + fallback;
}

struct Fnv {
  uint64_t h = 1469598103934665603ull;
  void Add(const void *data, size_t size) {
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i) {
      h ^= p[i];
      h *= 1099511628211ull;
    }
  }
  void Add(const std::string &s) { Add(s.data(), s.size() + 1); }
  void Add(int64_t v) { Add(&v, sizeof v); }
};

int64_t MtimeNs(const struct stat &st) {
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The path's state: whether it is there, what it is and when it changed.
void AddPath(Fnv &fnv, const std::string &path) {
  fnv.Add(path);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fnv.Add(int64_t(-1));
    return;
  }
  fnv.Add(int64_t(st.st_mode));
  fnv.Add(int64_t(st.st_ino));
  fnv.Add(MtimeNs(st));
  fnv.Add(int64_t(st.st_size));
}

// A folder and the folders in it, `depth` levels down (a font package
// adds a folder, or files to one: either changes a folder's time).
void AddFolder(Fnv &fnv, const std::string &path, int depth) {
  AddPath(fnv, path);
  if (depth == 0)
    return;
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr)
    return;
  std::vector<std::string> children;
  while (dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN ||
        entry->d_type == DT_LNK)
      children.push_back(path + "/" + name);
    if (children.size() > 4096)
      break;
  }
  closedir(dir);
  std::sort(children.begin(), children.end());
  for (const std::string &child : children) {
    struct stat st;
    if (stat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      AddFolder(fnv, child, depth - 1);
  }
}

struct Entry {
  bool bold = false;
  std::string family, file;
  int index = 0;
  int64_t mtime = 0, size = 0;
};

bool ReadEntries(const std::string &fingerprint, std::vector<Entry> *entries) {
  if (cacheFile.empty())
    return false;
  std::string text;
  if (ReadFileUpTo(cacheFile, kMaxFileBytes + 1, &text) != FileRead::kRead ||
      text.size() > kMaxFileBytes)
    return false;
  // Lines as getline gives them (no empty line after the last newline),
  // fields split at tabs (none after a last tab).
  auto split = [](const std::string &from, char at) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < from.size()) {
      size_t end = from.find(at, start);
      if (end == std::string::npos)
        end = from.size();
      parts.push_back(from.substr(start, end - start));
      start = end + 1;
    }
    return parts;
  };
  const std::vector<std::string> lines = split(text, '\n');
  if (lines.empty() || lines[0] != kHeader + fingerprint)
    return false;
  for (size_t n = 1; n < lines.size() && entries->size() < kMaxEntries; ++n) {
    const std::vector<std::string> fields = split(lines[n], '\t');
    if (fields.size() != 6 || (fields[0] != "0" && fields[0] != "1") ||
        fields[2].empty() || fields[2][0] != '/')
      continue;
    Entry e;
    e.bold = fields[0] == "1";
    e.family = fields[1];
    e.file = fields[2];
    char *end = nullptr;
    errno = 0;
    const long index = std::strtol(fields[3].c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || index < 0 || index > 0xFFFF)
      continue;
    e.index = int(index);
    const long long mtime = std::strtoll(fields[4].c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
      continue;
    const long long size = std::strtoll(fields[5].c_str(), &end, 10);
    if (*end != '\0' || errno != 0)
      continue;
    e.mtime = mtime;
    e.size = size;
    entries->push_back(e);
  }
  return true;
}

// Makes the folders of the path that are missing (for the user alone).
void MakeFolders(const std::string &path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
}

} // namespace

std::string DefaultFontCacheFile() {
  return XdgDir("XDG_CACHE_HOME", ".cache") + "/flinto/fonts";
}

void SetFontCacheFile(const std::string &path) {
  cacheFile = path;
  cacheFileSet = true;
  fingerprint.clear();
}

namespace {

const std::string &Fingerprint() {
  if (fingerprint.empty())
    fingerprint = FontSetupFingerprint();
  return fingerprint;
}

} // namespace

std::string FontSetupFingerprint() {
  Fnv fnv;
  for (const char *variable :
       {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
        "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
    fnv.Add(Env(variable));
  const std::string home = HomeDir();
  const std::string config = XdgDir("XDG_CONFIG_HOME", ".config");
  std::vector<std::string> configs = {
      "/etc/fonts/fonts.conf", "/etc/fonts/local.conf",
      config + "/fontconfig/fonts.conf", home + "/.fonts.conf"};
  if (!Env("FONTCONFIG_FILE").empty())
    configs.push_back(Env("FONTCONFIG_FILE"));
  for (const std::string &path : configs)
    AddPath(fnv, path);
  for (const std::string &folder :
       {std::string("/etc/fonts/conf.d"), config + "/fontconfig/conf.d",
        config + "/fontconfig", home + "/.fonts.conf.d",
        Env("FONTCONFIG_PATH")})
    if (!folder.empty())
      AddFolder(fnv, folder, 0);
  for (const std::string &folder :
       {std::string("/usr/share/fonts"), std::string("/usr/local/share/fonts"),
        XdgDir("XDG_DATA_HOME", ".local/share") + "/fonts", home + "/.fonts"})
    AddFolder(fnv, folder, 2);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(fnv.h));
  return text;
}

bool RecallFontChoice(const std::string &family, bool bold,
                      FontChoice *choice) {
  if (!cacheFileSet)
    SetFontCacheFile(DefaultFontCacheFile());
  std::vector<Entry> entries;
  if (!ReadEntries(Fingerprint(), &entries))
    return false;
  for (const Entry &e : entries) {
    if (e.bold != bold || e.family != family)
      continue;
    struct stat st;
    if (stat(e.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        MtimeNs(st) != e.mtime || int64_t(st.st_size) != e.size)
      return false;
    choice->file = e.file;
    choice->index = e.index;
    return true;
  }
  return false;
}

void RememberFontChoice(const std::string &family, bool bold,
                        const FontChoice &choice) {
  if (!cacheFileSet)
    SetFontCacheFile(DefaultFontCacheFile());
  if (cacheFile.empty() || family.find_first_of("\t\n") != std::string::npos ||
      choice.file.find_first_of("\t\n") != std::string::npos ||
      choice.file.empty() || choice.file[0] != '/')
    return;
  struct stat st;
  if (stat(choice.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return;
  std::vector<Entry> entries;
  ReadEntries(Fingerprint(), &entries);
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const Entry &e) {
                                 return e.bold == bold && e.family == family;
                               }),
                entries.end());
  if (entries.size() >= kMaxEntries)
    entries.erase(entries.begin());
  Entry added;
  added.bold = bold;
  added.family = family;
  added.file = choice.file;
  added.index = choice.index;
  added.mtime = MtimeNs(st);
  added.size = int64_t(st.st_size);
  entries.push_back(added);
  std::string text = kHeader + Fingerprint() + "\n";
  for (const Entry &e : entries)
    text += std::string(e.bold ? "1" : "0") + "\t" + e.family + "\t" + e.file +
            "\t" + std::to_string(e.index) + "\t" + std::to_string(e.mtime) +
            "\t" + std::to_string(e.size) + "\n";
  // Written whole beside it and put in its place: a reader sees the old
  // file or the new one, and a link at the path is replaced, not followed.
  MakeFolders(cacheFile);
  std::string temp = cacheFile + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0)
    return;
  const bool written =
      write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (close(fd) != 0 || !written ||
      rename(temp.c_str(), cacheFile.c_str()) != 0)
    unlink(temp.c_str());
}

} // namespace portable
