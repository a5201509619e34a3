// Writes the Windows resources from the descriptions every host shares: the
// resource script with the context menu (resource 102), the version and the
// manifest, and the icon file (resource 101: 32 x 32 and 16 x 16 in 16
// colours, and 16 to 256 pixels in 32-bit colour, which Windows prefers
// where it can show them).
//
// usage: make_resources OUT_DIR VERSION   (VERSION: MAJOR.MINOR.PATCH)
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/resources/context_menu.h"
#include "platform/resources/icon.h"
#include "platform/resources/resource_ids.h"

namespace {

// The 16-colour palette of the icon, in the usual order.
const uint32_t kPalette[16] = {0x000000, 0x800000, 0x008000, 0x808000,
                               0x000080, 0x800080, 0x008080, 0xC0C0C0,
                               0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                               0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

int PaletteIndex(uint32_t rgb) {
  for (int i = 0; i < 16; ++i)
    if (kPalette[i] == rgb)
      return i;
  return 0;
}

void Put16(std::vector<uint8_t> &out, unsigned v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(uint8_t(v >> (8 * i)));
}

// An icon image's BITMAPINFOHEADER: twice the height (the colour rows and
// then the 1-bit mask rows, bottom-up), `bits` a pixel.
std::vector<uint8_t> IconHeader(int size, int bits) {
  const int colourStride = ((bits * size + 31) / 32) * 4;
  const int maskStride = ((size + 31) / 32) * 4;
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, uint32_t(size));
  Put32(out, uint32_t(size * 2));
  Put16(out, 1);
  Put16(out, uint16_t(bits));
  Put32(out, 0);
  Put32(out, uint32_t((colourStride + maskStride) * size));
  for (int i = 0; i < 4; ++i)
    Put32(out, 0);
  return out;
}

// One 16-colour icon image: the header, the palette, the 4-bit colour rows
// and the mask rows.
std::vector<uint8_t> IconImage(int size) {
  const std::vector<uint32_t> px = icon::Draw(size);
  const int colourStride = ((4 * size + 31) / 32) * 4;
  const int maskStride = ((size + 31) / 32) * 4;
  std::vector<uint8_t> out = IconHeader(size, 4);
  for (uint32_t c : kPalette)
    Put32(out, c); // blue, green, red, 0 as a little-endian 0x00RRGGBB
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(size_t(colourStride), 0);
    for (int x = 0; x < size; ++x) {
      const int index = PaletteIndex(px[size_t(y) * size + x]);
      row[size_t(x / 2)] |= uint8_t(x % 2 == 0 ? index << 4 : index);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = 0; y < size; ++y) // every pixel opaque
    for (int i = 0; i < maskStride; ++i)
      out.push_back(0);
  return out;
}

// A 32-bit image: blue, green, red and alpha (all opaque), then the mask.
std::vector<uint8_t> TrueColourImage(int size) {
  const std::vector<uint32_t> px = icon::Draw(size);
  const int maskStride = ((size + 31) / 32) * 4;
  std::vector<uint8_t> out = IconHeader(size, 32);
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x)
      Put32(out, 0xFF000000u | px[size_t(y) * size + x]);
  for (int y = 0; y < size; ++y)
    for (int i = 0; i < maskStride; ++i)
      out.push_back(0);
  return out;
}

bool WriteIcon(const std::string &path) {
  struct Entry {
    int size, bits;
  };
  const Entry entries[] = {{32, 4},  {16, 4},  {16, 32},  {24, 32}, {32, 32},
                           {48, 32}, {64, 32}, {128, 32}, {256, 32}};
  std::vector<std::vector<uint8_t>> images;
  for (const Entry &e : entries)
    images.push_back(e.bits == 4 ? IconImage(e.size) : TrueColourImage(e.size));
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1); // icon
  Put16(out, uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back(uint8_t(entries[i].size)); // 256 is written as 0
    out.push_back(uint8_t(entries[i].size));
    out.push_back(entries[i].bits == 4 ? 16 : 0); // colours
    out.push_back(0);
    Put16(out, 1);
    Put16(out, uint16_t(entries[i].bits));
    Put32(out, uint32_t(images[i].size()));
    Put32(out, offset);
    offset += uint32_t(images[i].size());
  }
  for (const auto &image : images)
    out.insert(out.end(), image.begin(), image.end());
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

// A wide string literal of the Shift-JIS text: characters beyond ASCII as
// \x escapes of their UTF-16 code units, so that no code page is involved.
std::string WideLiteral(const char *text) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  std::string utf16(std::strlen(text) * 4 + 4, '\0');
  char *in = const_cast<char *>(text);
  size_t inLeft = std::strlen(text);
  char *out = &utf16[0];
  size_t outLeft = utf16.size();
  iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  utf16.resize(utf16.size() - outLeft);
  std::string literal = "L\"";
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const unsigned c = uint8_t(utf16[i]) | (uint8_t(utf16[i + 1]) << 8);
    char buffer[16];
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
      std::snprintf(buffer, sizeof buffer, "%c", char(c));
    else
      std::snprintf(buffer, sizeof buffer, "\\x%04x", c);
    literal += buffer;
  }
  return literal + "\"";
}

// The application manifest: never stretched by Windows (it follows each
// monitor's DPI itself), the common controls of version 6, the user's own
// rights.
bool WriteManifest(const std::string &path, const std::string &version) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  std::fprintf(
      f,
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
      "manifestVersion=\"1.0\">\n"
      "  <assemblyIdentity type=\"win32\" name=\"Flinto\" "
      "version=\"%s.0\" processorArchitecture=\"amd64\"/>\n"
      "  <description>Flinto on-screen keyboard</description>\n"
      "  <dependency>\n    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" "
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
      "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
      "language=\"*\"/>\n"
      "    </dependentAssembly>\n  </dependency>\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
      "    <security>\n      <requestedPrivileges>\n"
      "        <requestedExecutionLevel level=\"asInvoker\" "
      "uiAccess=\"false\"/>\n"
      "      </requestedPrivileges>\n    </security>\n  </trustInfo>\n"
      "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
      "    <windowsSettings>\n"
      "      <dpiAware "
      "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
      "true/pm</dpiAware>\n"
      "      <dpiAwareness "
      "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
      "PerMonitorV2</dpiAwareness>\n"
      "    </windowsSettings>\n  </application>\n"
      "  <compatibility "
      "xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\n"
      "    <application>\n"
      "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\n"
      "    </application>\n  </compatibility>\n"
      "</assembly>\n",
      version.c_str());
  return std::fclose(f) == 0;
}

bool WriteScript(const std::string &path, const std::string &version) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch);
  std::fprintf(f, "// Generated by make_resources: the icon, the context "
                  "menu, the version and the manifest of Flinto.\n\n");
  std::fprintf(f, "%d ICON \"flinto.ico\"\n\n", IDI_FLINTO);
  std::fprintf(f, "1 24 \"flinto.manifest\"\n\n");
  std::fprintf(
      f,
      "1 VERSIONINFO\nFILEVERSION %u,%u,%u,0\nPRODUCTVERSION %u,%u,%u,0\n"
      "FILEFLAGSMASK 0x3F\nFILEFLAGS 0\nFILEOS 0x40004\nFILETYPE 1\n"
      "FILESUBTYPE 0\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n"
      "    BLOCK \"040904B0\"\n    BEGIN\n"
      "      VALUE \"CompanyName\", \"The Flinto authors\"\n"
      "      VALUE \"FileDescription\", \"Flinto on-screen keyboard\"\n"
      "      VALUE \"FileVersion\", \"%s\"\n"
      "      VALUE \"InternalName\", \"flinto\"\n"
      "      VALUE \"LegalCopyright\", \"Copyright (c) 2026 The Flinto "
      "authors, MIT licence\"\n"
      "      VALUE \"OriginalFilename\", \"flinto.exe\"\n"
      "      VALUE \"ProductName\", \"Flinto\"\n"
      "      VALUE \"ProductVersion\", \"%s\"\n"
      "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n"
      "    VALUE \"Translation\", 0x409, 1200\n  END\nEND\n\n",
      major, minor, patch, major, minor, patch, version.c_str(),
      version.c_str());
  std::fprintf(f, "%d MENU\nBEGIN\n  POPUP \"\"\n  BEGIN\n", IDR_CONTEXT_MENU);
  for (const ContextMenuItem &item : kContextMenuItems) {
    if (item.text == nullptr)
      std::fprintf(f, "    MENUITEM SEPARATOR\n");
    else
      std::fprintf(f, "    MENUITEM %s, %u\n", WideLiteral(item.text).c_str(),
                   item.id);
  }
  std::fprintf(f, "  END\nEND\n");
  return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_resources OUT_DIR VERSION\n");
    return 2;
  }
  const std::string dir = argv[1], version = argv[2];
  if (!WriteIcon(dir + "/flinto.ico") ||
      !WriteManifest(dir + "/flinto.manifest", version) ||
      !WriteScript(dir + "/flinto.rc", version)) {
    std::fprintf(stderr, "make_resources: cannot write to %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
