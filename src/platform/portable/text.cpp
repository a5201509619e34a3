// Fonts and text: fontconfig finds the face, FreeType draws its glyphs, iconv
// turns Shift-JIS (code page 932) bytes into characters. fontconfig is
// loaded only when it is asked: a start that finds its fonts where they
// were remembered (font_cache.h) loads neither it nor its XML parser.
#include <ft2build.h>
// clang-format off
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
// clang-format on
#include <dlfcn.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "platform/portable/font_cache.h"
#include "platform/portable/internal.h"
#include "platform/portable/testing.h"
#include "platform/portable/text.h"

namespace portable {

// One character drawn in one-bit pixels, kept once drawn.
struct CachedGlyph {
  int advance = 0;
  int left = 0; // from the pen position to the first column
  int top = 0;  // from the baseline up to the first row
  int width = 0;
  int rows = 0;
  std::vector<uint8_t> on; // width * rows, 1 where the glyph is inked
};

// A font file mapped once for every face made from it (a regular and a bold
// face mapping it each would have its pages counted twice). Read only: its
// pages can be given back whenever and come again from the file.
struct FontFile {
  std::string path;
  const uint8_t *bytes = nullptr;
  size_t size = 0;
  bool used = false; // read since its pages were last given back
  ~FontFile() {
    if (bytes != nullptr)
      munmap(const_cast<uint8_t *>(bytes), size);
  }
};

struct FontFace {
  std::shared_ptr<FontFile> file; // outlives `face`, which reads it
  FT_Face face = nullptr;
  int cellHeight = 0; // pixels, internal leading included
  int ascent = 0;     // pixels from the cell top to the baseline
  bool bold = false;
  std::unordered_map<char32_t, CachedGlyph> glyphs;
  ~FontFace() {
    if (face != nullptr)
      FT_Done_Face(face);
  }
};

namespace {

FT_Library library = nullptr;
bool fontsEnabled = true;

// The mapped font files, while a face uses them.
std::vector<std::weak_ptr<FontFile>> fontFiles;

std::shared_ptr<FontFile> MapFontFile(const std::string &path) {
  for (auto it = fontFiles.begin(); it != fontFiles.end();) {
    std::shared_ptr<FontFile> f = it->lock();
    if (f == nullptr) {
      it = fontFiles.erase(it);
      continue;
    }
    if (f->path == path) {
      f->used = true;
      return f;
    }
    ++it;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  struct stat st = {};
  void *bytes = MAP_FAILED;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    bytes = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (bytes == MAP_FAILED)
    return nullptr;
  auto f = std::make_shared<FontFile>();
  f->path = path;
  f->bytes = static_cast<const uint8_t *>(bytes);
  f->size = size_t(st.st_size);
  f->used = true;
  fontFiles.push_back(f);
  return f;
}

// A face of a mapped file, or null.
FT_Face OpenFace(const FontFile &file, int index) {
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(library, file.bytes, FT_Long(file.size), index,
                         &face) != 0)
    return nullptr;
  return face;
}

struct MatchKey {
  std::string family;
  bool bold;
  bool operator<(const MatchKey &o) const {
    return std::tie(family, bold) < std::tie(o.family, o.bold);
  }
};
struct MatchResult {
  std::string file;
  int index = 0;
  bool found = false;
};
std::map<MatchKey, MatchResult> matchCache;
int fontconfigQueries = 0;

// The converter from code page 932, opened once (opening one looks the
// conversion up again each time: a twentieth of a click's work). To
// UCS-4LE, which the C library has built in, rather than UTF-32LE, a
// module of its own to load at start: the same code points, since code
// page 932 has none beyond the first plane.
iconv_t Cp932ToUtf32() {
  static const iconv_t cd = iconv_open("UCS-4LE", "CP932");
  return cd;
}

std::u32string Decode(const char *text, size_t count) {
  std::u32string out;
  iconv_t cd = Cp932ToUtf32();
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (size_t i = 0; i < count; ++i)
      out.push_back(static_cast<unsigned char>(text[i]));
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr); // the initial state
  char *in = const_cast<char *>(text);
  size_t inLeft = count;
  while (inLeft > 0) {
    char32_t buffer[64];
    char *outPtr = reinterpret_cast<char *>(buffer);
    size_t outLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const size_t produced = (sizeof buffer - outLeft) / sizeof(char32_t);
    out.append(buffer, produced);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: show one replacement and go on.
      out.push_back(U'?');
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string FamilyUtf8(const char *faceName) {
  return Cp932ToUtf8(std::string(faceName, strnlen(faceName, LF_FACESIZE)));
}

// The fontconfig functions Match asks, loaded at the first miss; null
// when the library cannot be loaded (no font is found then, as when
// fontconfig finds none).
struct Fontconfig {
  decltype(&FcInit) init;
  decltype(&FcPatternCreate) patternCreate;
  decltype(&FcPatternAddString) patternAddString;
  decltype(&FcPatternAddInteger) patternAddInteger;
  decltype(&FcPatternAddBool) patternAddBool;
  decltype(&FcConfigSubstitute) configSubstitute;
  decltype(&FcDefaultSubstitute) defaultSubstitute;
  decltype(&FcFontMatch) fontMatch;
  decltype(&FcPatternGetLangSet) patternGetLangSet;
  decltype(&FcLangSetHasLang) langSetHasLang;
  decltype(&FcPatternGetString) patternGetString;
  decltype(&FcPatternGetInteger) patternGetInteger;
  decltype(&FcPatternDestroy) patternDestroy;
};

template <typename Function>
bool Bind(void *library, const char *name, Function *function) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  return *function != nullptr;
}

const Fontconfig *LoadFontconfig() {
  static Fontconfig fc;
  static int loaded = 0; // 1 loaded, -1 cannot be
  if (loaded != 0)
    return loaded > 0 ? &fc : nullptr;
  loaded = -1;
  void *library = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr)
    return nullptr;
  if (Bind(library, "FcInit", &fc.init) &&
      Bind(library, "FcPatternCreate", &fc.patternCreate) &&
      Bind(library, "FcPatternAddString", &fc.patternAddString) &&
      Bind(library, "FcPatternAddInteger", &fc.patternAddInteger) &&
      Bind(library, "FcPatternAddBool", &fc.patternAddBool) &&
      Bind(library, "FcConfigSubstitute", &fc.configSubstitute) &&
      Bind(library, "FcDefaultSubstitute", &fc.defaultSubstitute) &&
      Bind(library, "FcFontMatch", &fc.fontMatch) &&
      Bind(library, "FcPatternGetLangSet", &fc.patternGetLangSet) &&
      Bind(library, "FcLangSetHasLang", &fc.langSetHasLang) &&
      Bind(library, "FcPatternGetString", &fc.patternGetString) &&
      Bind(library, "FcPatternGetInteger", &fc.patternGetInteger) &&
      Bind(library, "FcPatternDestroy", &fc.patternDestroy)) {
    loaded = 1;
    return &fc;
  }
  dlclose(library);
  return nullptr;
}

MatchResult Match(const std::string &family, bool bold) {
  MatchKey key{family, bold};
  auto cached = matchCache.find(key);
  if (cached != matchCache.end())
    return cached->second;
  MatchResult result;
  FontChoice kept;
  if (RecallFontChoice(family, bold, &kept)) {
    result.file = kept.file;
    result.index = kept.index;
    result.found = true;
  } else if (const Fontconfig *fc = LoadFontconfig(); fc && fc->init()) {
    FcPattern *pattern = fc->patternCreate();
    fc->patternAddString(pattern, FC_FAMILY,
                         reinterpret_cast<const FcChar8 *>(family.c_str()));
    fc->patternAddString(pattern, FC_LANG,
                         reinterpret_cast<const FcChar8 *>("ja"));
    fc->patternAddInteger(pattern, FC_WEIGHT,
                          bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    fc->patternAddBool(pattern, FC_SCALABLE, FcTrue);
    fc->configSubstitute(nullptr, pattern, FcMatchPattern);
    fc->defaultSubstitute(pattern);
    FcResult status = FcResultNoMatch;
    ++fontconfigQueries;
    FcPattern *match = fc->fontMatch(nullptr, pattern, &status);
    if (match != nullptr) {
      FcChar8 *file = nullptr;
      int index = 0;
      FcLangSet *langs = nullptr;
      const bool japanese =
          fc->patternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
          fc->langSetHasLang(langs, reinterpret_cast<const FcChar8 *>("ja")) ==
              FcLangEqual;
      if (japanese &&
          fc->patternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        fc->patternGetInteger(match, FC_INDEX, 0, &index);
        result.file = reinterpret_cast<const char *>(file);
        result.index = index;
        result.found = true;
        RememberFontChoice(family, bold, {result.file, result.index});
      }
      fc->patternDestroy(match);
    }
    fc->patternDestroy(pattern);
  }
  matchCache[key] = result;
  return result;
}

const CachedGlyph &GlyphOf(FontFace &font, char32_t c) {
  auto cached = font.glyphs.find(c);
  if (cached != font.glyphs.end())
    return cached->second;
  CachedGlyph glyph;
  font.file->used = true;
  const FT_UInt index = FT_Get_Char_Index(font.face, c);
  if (FT_Load_Glyph(font.face, index, FT_LOAD_TARGET_MONO) == 0) {
    if (font.bold)
      FT_GlyphSlot_Embolden(font.face->glyph);
    const FT_GlyphSlot slot = font.face->glyph;
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) == 0) {
      const FT_Bitmap &bm = slot->bitmap;
      glyph.left = slot->bitmap_left;
      glyph.top = slot->bitmap_top;
      glyph.width = int(bm.width);
      glyph.rows = int(bm.rows);
      glyph.on.resize(size_t(bm.width) * bm.rows);
      for (unsigned row = 0; row < bm.rows; ++row) {
        const unsigned char *line = bm.buffer + ptrdiff_t(row) * bm.pitch;
        for (unsigned col = 0; col < bm.width; ++col)
          glyph.on[size_t(row) * bm.width + col] =
              bm.pixel_mode == FT_PIXEL_MODE_MONO
                  ? (line[col >> 3] >> (7 - (col & 7))) & 1
                  : line[col] >= 128;
      }
    }
  }
  return font.glyphs.emplace(c, std::move(glyph)).first->second;
}

int Advance(FontFace &font, char32_t c) { return GlyphOf(font, c).advance; }

int LineWidth(FontFace &font, const std::u32string &chars, size_t from,
              size_t to) {
  int width = 0;
  for (size_t i = from; i < to; ++i)
    width += Advance(font, chars[i]);
  return width;
}

struct Clip {
  LONG left, top, right, bottom;
};

void DrawLine(Bitmap &target, const Clip &clip, FontFace &font,
              const std::u32string &chars, size_t from, size_t to, int x, int y,
              uint32_t rgb) {
  for (size_t i = from; i < to; ++i) {
    const CachedGlyph &glyph = GlyphOf(font, chars[i]);
    const int ox = x + glyph.left;
    const int oy = y + font.ascent - glyph.top;
    for (int row = 0; row < glyph.rows; ++row) {
      const int py = oy + row;
      if (py < clip.top || py >= clip.bottom || py < 0 || py >= target.height)
        continue;
      for (int col = 0; col < glyph.width; ++col) {
        const int px = ox + col;
        if (!glyph.on[size_t(row) * glyph.width + col] || px < clip.left ||
            px >= clip.right || px < 0 || px >= target.width)
          continue;
        target.Set(px, py, rgb);
      }
    }
    x += glyph.advance;
  }
}

void FillBox(Bitmap &target, const Clip &clip, int x0, int y0, int x1, int y1,
             uint32_t rgb) {
  for (int y = std::max<int>(y0, clip.top); y < std::min<int>(y1, clip.bottom);
       ++y)
    for (int x = std::max<int>(x0, clip.left);
         x < std::min<int>(x1, clip.right); ++x)
      if (target.Contains(x, y))
        target.Set(x, y, rgb);
}

} // namespace

void SetFontsEnabled(bool enabled) { fontsEnabled = enabled; }

std::function<void(const RECT &)> textBoxObserver;

std::string Cp932ToUtf8(const std::string &text) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return text;
  std::string out(text.size() * 4 + 4, '\0');
  char *in = const_cast<char *>(text.data());
  size_t inLeft = text.size();
  char *o = &out[0];
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
      if (errno == E2BIG || outLeft == 0)
        break;
      ++in; // skip what cannot be converted
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

int MeasureText(FontFace &font, const std::string &text) {
  const std::u32string chars = Decode(text.data(), text.size());
  return LineWidth(font, chars, 0, chars.size());
}

namespace {

// What sizing needs of a font file, read once per file.
struct FileMetrics {
  bool ok = false;
  long unitsPerEm = 0;
  long ascent = 0; // the Windows ascent and descent, in font units
  long descent = 0;
  long halfAdvance = 0; // the advance of "0", the average character
  bool boldFace = false;
};
std::map<std::pair<std::string, int>, FileMetrics> metricsCache;

// Reading them maps the file: `mapped` keeps it for the face made next,
// which then reads the pages already in.
const FileMetrics &MetricsOf(const MatchResult &match,
                             std::shared_ptr<FontFile> &mapped) {
  auto key = std::make_pair(match.file, match.index);
  auto it = metricsCache.find(key);
  if (it != metricsCache.end())
    return it->second;
  FileMetrics m;
  mapped = MapFontFile(match.file);
  if (FT_Face face =
          mapped != nullptr ? OpenFace(*mapped, match.index) : nullptr) {
    if (FT_IS_SCALABLE(face) && face->units_per_EM != 0) {
      m.ok = true;
      m.unitsPerEm = face->units_per_EM;
      m.ascent = face->ascender;
      m.descent = -face->descender;
      if (auto *os2 =
              static_cast<TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
          os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
        m.ascent = os2->usWinAscent;
        m.descent = os2->usWinDescent;
      }
      m.halfAdvance = face->units_per_EM / 2;
      if (FT_Load_Char(face, '0', FT_LOAD_NO_SCALE) == 0 &&
          face->glyph->advance.x > 0)
        m.halfAdvance = face->glyph->advance.x;
      m.boldFace = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    }
    FT_Done_Face(face);
  }
  return metricsCache.emplace(key, m).first->second;
}

// Recently made faces, so that a rebuild at the same size reuses their
// drawn glyphs.
struct FaceKey {
  std::string file;
  int index;
  long emX, emY, cell;
  bool bold;
  bool operator==(const FaceKey &o) const {
    return file == o.file && index == o.index && emX == o.emX && emY == o.emY &&
           cell == o.cell && bold == o.bold;
  }
};
std::vector<std::pair<FaceKey, std::shared_ptr<FontFace>>> recentFaces;
constexpr size_t kRecentFaces = 6;

} // namespace

int FontconfigQueries() { return fontconfigQueries; }

void GiveBackFontPages() {
  for (const std::weak_ptr<FontFile> &weak : fontFiles)
    if (std::shared_ptr<FontFile> f = weak.lock(); f != nullptr && f->used) {
      madvise(const_cast<uint8_t *>(f->bytes), f->size, MADV_DONTNEED);
      f->used = false;
    }
}
void ForgetFontMatches() { matchCache.clear(); }

std::shared_ptr<FontFace> OpenFontFace(const LOGFONTA &lf) {
  if (!fontsEnabled)
    return nullptr;
  if (library == nullptr && FT_Init_FreeType(&library) != 0) {
    library = nullptr;
    return nullptr;
  }
  const bool bold = lf.lfWeight >= 600;
  const MatchResult match = Match(FamilyUtf8(lf.lfFaceName), bold);
  if (!match.found)
    return nullptr;
  std::shared_ptr<FontFile> mapped;
  const FileMetrics &m = MetricsOf(match, mapped);
  if (!m.ok)
    return nullptr;
  // A positive height is the cell height (internal leading included): the
  // em is scaled so that the font's Windows ascent plus descent fill it.
  const long totalUnits = std::max(1L, m.ascent + m.descent);
  long cell = lf.lfHeight;
  if (cell == 0)
    cell = 16;
  if (cell < 0) // a negative height is the em itself
    cell = (std::min<long>(-cell, 1024) * totalUnits + m.unitsPerEm / 2) /
           m.unitsPerEm;
  cell = std::clamp(cell, 1L, 1024L);
  const long emY =
      std::max(1L, (cell * m.unitsPerEm + totalUnits / 2) / totalUnits);
  long emX = emY;
  if (lf.lfWidth > 0) // the width is the average (half-width) character's
    emX = std::max(1L, (std::min<long>(lf.lfWidth, 1024) * m.unitsPerEm +
                        m.halfAdvance / 2) /
                           std::max(1L, m.halfAdvance));
  const FaceKey key{match.file, match.index, emX, emY, cell, bold};
  for (auto it = recentFaces.begin(); it != recentFaces.end(); ++it)
    if (it->first == key) {
      auto found = it->second;
      recentFaces.erase(it);
      recentFaces.emplace_back(key, found);
      return found;
    }
  auto font = std::make_shared<FontFace>();
  font->file = mapped != nullptr ? mapped : MapFontFile(match.file);
  if (font->file == nullptr)
    return nullptr;
  font->face = OpenFace(*font->file, match.index);
  if (font->face == nullptr)
    return nullptr;
  if (FT_Set_Pixel_Sizes(font->face, FT_UInt(emX), FT_UInt(emY)) != 0)
    return nullptr;
  font->cellHeight = int(cell);
  font->ascent = int((m.ascent * cell + totalUnits / 2) / totalUnits);
  font->bold = bold && !m.boldFace;
  recentFaces.emplace_back(key, font);
  if (recentFaces.size() > kRecentFaces)
    recentFaces.erase(recentFaces.begin());
  return font;
}

int DrawTextOn(Bitmap &target, const RECT *clipRect, FontFace &font,
               const char *text, int count, RECT *rect, UINT format,
               COLORREF colour, int bkMode, COLORREF bkColour) {
  const std::u32string chars = Decode(text, size_t(count));
  const uint32_t rgb = ColorrefToRgb(colour);
  const uint32_t bk = ColorrefToRgb(bkColour);
  Clip clip = {rect->left, rect->top, rect->right, rect->bottom};
  if (clipRect != nullptr)
    clip = {clipRect->left, clipRect->top, clipRect->right, clipRect->bottom};
  const int rectWidth = rect->right - rect->left;

  // Break into lines: every LF (a CR before it is dropped) in multi-line
  // mode, and at word breaks where a line would not fit.
  struct Span {
    size_t from, to;
  };
  std::vector<Span> lines;
  if (format & DT_SINGLELINE) {
    lines.push_back({0, chars.size()});
  } else {
    size_t start = 0;
    for (size_t i = 0; i <= chars.size(); ++i) {
      if (i < chars.size() && chars[i] != U'\n')
        continue;
      size_t end = i;
      if (end > start && chars[end - 1] == U'\r')
        --end;
      if (format & DT_WORDBREAK) {
        size_t lineStart = start;
        while (lineStart < end &&
               LineWidth(font, chars, lineStart, end) > rectWidth) {
          // Take as many words as fit; at least one word.
          size_t cut = lineStart, lastBreak = lineStart;
          int width = 0;
          for (size_t k = lineStart; k < end; ++k) {
            width += Advance(font, chars[k]);
            if (chars[k] == U' ')
              lastBreak = k;
            if (width > rectWidth) {
              cut = lastBreak > lineStart ? lastBreak : k;
              break;
            }
          }
          if (cut <= lineStart) {
            // A single word wider than the rectangle stays whole.
            size_t k = lineStart;
            while (k < end && chars[k] != U' ')
              ++k;
            cut = k;
          }
          lines.push_back({lineStart, cut});
          lineStart = cut;
          while (lineStart < end && chars[lineStart] == U' ')
            ++lineStart;
        }
        if (lineStart < end || lineStart == start)
          lines.push_back({lineStart, end});
      } else {
        lines.push_back({start, end});
      }
      start = i + 1;
    }
  }

  // Centring as Wine places the text (the documentation gives no
  // rounding): the cell's top at top + h / 2 - cell / 2, and the line's
  // left at (left + right - width) / 2, each division truncating.
  const int lineHeight = font.cellHeight;
  int y = rect->top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
    y = rect->top + (rect->bottom - rect->top) / 2 - lineHeight / 2;
  for (const Span &line : lines) {
    const int width = LineWidth(font, chars, line.from, line.to);
    int x = rect->left;
    if (format & DT_CENTER)
      x = (rect->left + rect->right - width) / 2;
    if (bkMode == OPAQUE)
      FillBox(target, clip, x, y, x + width, y + lineHeight, bk);
    if (textBoxObserver) {
      // A bold face made from a regular one is as wide again as GDI's
      // overhang: one pixel more per character.
      const int overhang = font.bold ? int(line.to - line.from) : 0;
      const RECT box = {std::max<LONG>(x, clip.left),
                        std::max<LONG>(y, clip.top),
                        std::min<LONG>(x + width + overhang, clip.right),
                        std::min<LONG>(y + lineHeight, clip.bottom)};
      if (box.left < box.right && box.top < box.bottom)
        textBoxObserver(box);
    }
    DrawLine(target, clip, font, chars, line.from, line.to, x, y, rgb);
    y += lineHeight;
  }
  return int(lines.size()) * lineHeight;
}

} // namespace portable
