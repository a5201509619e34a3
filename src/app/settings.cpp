// The six settings and the registry routines behind them.
#include "app/app.h"
#include "model/faces.h"

namespace {

struct SettingSlot {
  const char *name;
  int32_t *value;
};

const SettingSlot kSettings[] = {
    {"Face", &g_face}, {"Unit", &g_unit},     {"X", &g_x},
    {"Y", &g_y},       {"WinKey", &g_winKey}, {"Transparent", &g_transparent},
};

// Reads one value as RegReadDword does, and tells whether the read failed
// with an error (the store could not be read) rather than finding nothing.
int32_t ReadSetting(HKEY key, const char *name, int32_t fallback,
                    bool *failed) {
  *failed = false;
  if (key == nullptr)
    return fallback;
  DWORD type = 0;
  DWORD size = 0;
  const LSTATUS status =
      RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) {
    *failed = status != ERROR_FILE_NOT_FOUND;
    return fallback;
  }
  if (type != REG_DWORD || size != 4)
    return fallback;
  DWORD value = 0;
  size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, &type,
                       reinterpret_cast<LPBYTE>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4) {
    *failed = true;
    return fallback;
  }
  return static_cast<int32_t>(value);
}

} // namespace

namespace {

// What start-up found of each value (see app.h), none at first.
struct SettingsState {
  bool unread[6] = {};
  int32_t loaded[6] = {};
};
SettingsState settings;

} // namespace

bool (&g_settingUnread)[6] = settings.unread;
int32_t (&g_settingLoaded)[6] = settings.loaded;

void ResetSettingsState() { settings = SettingsState(); }

HKEY RegOpenPath(const char *path, bool forWriting) {
  const REGSAM access = forWriting ? (KEY_READ | KEY_WRITE) : KEY_READ;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, access, &key) !=
      ERROR_SUCCESS)
    return nullptr;
  if (path == nullptr || *path == '\0')
    return key;

  const char *p = path;
  char component[256];
  while (true) {
    // A component runs up to the next backslash; CharNextA keeps a double-byte
    // character whose trail byte is 0x5C in one piece.
    size_t length = 0;
    const char *q = p;
    while (*q != '\0' && *q != '\\') {
      const char *next = CharNextA(q);
      while (q < next) {
        if (length + 1 >= sizeof component) {
          RegCloseKey(key);
          return nullptr;
        }
        component[length++] = *q++;
      }
    }
    component[length] = '\0';
    if (length == 0) { // leading backslash or two in a row
      RegCloseKey(key);
      return nullptr;
    }
    HKEY child = nullptr;
    LSTATUS status;
    if (forWriting)
      status =
          RegCreateKeyExA(key, component, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          access, nullptr, &child, nullptr);
    else
      status = RegOpenKeyExA(key, component, 0, access, &child);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
      return nullptr;
    key = child;
    if (*q == '\0')
      return key;
    p = q + 1; // skip the backslash
  }
}

int32_t RegReadDword(const char *path, const char *name, int32_t fallback) {
  HKEY key = RegOpenPath(path, false);
  if (key == nullptr)
    return fallback;
  int32_t result = fallback;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD && size == 4) {
    DWORD value = 0;
    size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type,
                         reinterpret_cast<LPBYTE>(&value),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == 4)
      result = static_cast<int32_t>(value);
  }
  RegCloseKey(key);
  return result;
}

bool RegWriteDword(const char *path, const char *name, int32_t value) {
  HKEY key = RegOpenPath(path, true);
  if (key == nullptr)
    return false;
  const DWORD data = static_cast<DWORD>(value);
  bool ok = RegSetValueExA(key, name, 0, REG_DWORD,
                           reinterpret_cast<const BYTE *>(&data),
                           sizeof data) == ERROR_SUCCESS;
  if (RegCloseKey(key) != ERROR_SUCCESS)
    ok = false;
  return ok;
}

int32_t UnitForDpi(int dpi) {
  if (dpi <= 0)
    return 3;
  const int64_t unit = (3 * int64_t(dpi) + 47) / 96;
  return int32_t(unit < 2 ? 2 : unit > 6 ? 6 : unit);
}

void LoadSettings() {
  // Whether the path itself could not be opened for a reason other than
  // its absence (first run): then no value was read.
  bool pathUnreadable = false;
  HKEY key = RegOpenPath(kSettingsPath, false);
  if (key == nullptr) {
    HKEY software = nullptr;
    const LSTATUS status =
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software);
    if (status == ERROR_SUCCESS)
      RegCloseKey(software);
    pathUnreadable = status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND;
  }
  // A first run draws the keyboard at the size of everything else on a
  // screen the desktop scales.
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  if (screen != nullptr)
    ReleaseDC(nullptr, screen);
  const int32_t defaults[6] = {
      2, UnitForDpi(dpi), kUnsetPosition, kUnsetPosition, 0, 0};
  for (int i = 0; i < 6; ++i) {
    bool failed = false;
    *kSettings[i].value =
        ReadSetting(key, kSettings[i].name, defaults[i], &failed);
    g_settingUnread[i] = failed || pathUnreadable;
  }
  if (key != nullptr)
    RegCloseKey(key);
  if (g_face < 0)
    g_face = 0;
  if (g_face >= FaceCount)
    g_face = FaceCount - 1;
  if (g_unit < 2)
    g_unit = 2;
  if (g_unit > 6)
    g_unit = 6;
  NoteSettingsInUse();
}

void NoteSettingsInUse() {
  for (int i = 0; i < 6; ++i)
    g_settingLoaded[i] = *kSettings[i].value;
}

// One save stores the six values in one change of the store; a value that
// could not be read at start-up and was not changed since is left as it is
// stored. Fails when any value was not stored.
bool SaveSettings() {
  bool ok = false;
  HKEY key = RegOpenPath(kSettingsPath, true);
  if (key != nullptr) {
    ok = true;
    for (int i = 0; i < 6; ++i) {
      const SettingSlot &slot = kSettings[i];
      if (g_settingUnread[i] && *slot.value == g_settingLoaded[i])
        continue;
      const DWORD data = static_cast<DWORD>(*slot.value);
      if (RegSetValueExA(key, slot.name, 0, REG_DWORD,
                         reinterpret_cast<const BYTE *>(&data),
                         sizeof data) != ERROR_SUCCESS)
        ok = false;
    }
    if (RegCloseKey(key) != ERROR_SUCCESS)
      ok = false;
  }
  if (g_settingsSavedHook != nullptr)
    g_settingsSavedHook(ok);
  return ok;
}
