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

} // namespace

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
  const bool ok = RegSetValueExA(key, name, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE *>(&data),
                                 sizeof data) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

void LoadSettings() {
  g_face = RegReadDword(kSettingsPath, "Face", 2);
  if (g_face < 0)
    g_face = 0;
  if (g_face >= FaceCount)
    g_face = FaceCount - 1;
  g_unit = RegReadDword(kSettingsPath, "Unit", 3);
  if (g_unit < 2)
    g_unit = 2;
  if (g_unit > 6)
    g_unit = 6;
  g_x = RegReadDword(kSettingsPath, "X", kUnsetPosition);
  g_y = RegReadDword(kSettingsPath, "Y", kUnsetPosition);
  g_winKey = RegReadDword(kSettingsPath, "WinKey", 0);
  g_transparent = RegReadDword(kSettingsPath, "Transparent", 0);
}

bool SaveSettings() {
  bool ok = false;
  for (const SettingSlot &slot : kSettings)
    ok = RegWriteDword(kSettingsPath, slot.name, *slot.value);
  if (g_settingsSavedHook != nullptr)
    g_settingsSavedHook(ok);
  return ok;
}
