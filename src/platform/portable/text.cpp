// Fonts and text: fontconfig finds the face, FreeType draws its glyphs, iconv
// turns Shift-JIS (code page 932) bytes into characters.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <tuple>

#include "platform/portable/internal.h"
#include "platform/portable/text.h"

namespace portable {

struct FontFace {
  FT_Face face = nullptr;
  int cellHeight = 0; // pixels, internal leading included
  int ascent = 0;     // pixels from the cell top to the baseline
  bool bold = false;
  ~FontFace() {
    if (face != nullptr)
      FT_Done_Face(face);
  }
};

namespace {

FT_Library library = nullptr;
bool fontsEnabled = true;

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

std::u32string Decode(const char *text, size_t count) {
  std::u32string out;
  iconv_t cd = iconv_open("UTF-32LE", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (size_t i = 0; i < count; ++i)
      out.push_back(static_cast<unsigned char>(text[i]));
    return out;
  }
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
  iconv_close(cd);
  return out;
}

std::string FamilyUtf8(const char *faceName) {
  size_t n = strnlen(faceName, LF_FACESIZE);
  std::u32string chars = Decode(faceName, n);
  std::string utf8;
  for (char32_t c : chars) {
    if (c < 0x80) {
      utf8 += char(c);
    } else if (c < 0x800) {
      utf8 += char(0xC0 | (c >> 6));
      utf8 += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += char(0xE0 | (c >> 12));
      utf8 += char(0x80 | ((c >> 6) & 0x3F));
      utf8 += char(0x80 | (c & 0x3F));
    } else {
      utf8 += char(0xF0 | (c >> 18));
      utf8 += char(0x80 | ((c >> 12) & 0x3F));
      utf8 += char(0x80 | ((c >> 6) & 0x3F));
      utf8 += char(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

MatchResult Match(const std::string &family, bool bold) {
  MatchKey key{family, bold};
  auto cached = matchCache.find(key);
  if (cached != matchCache.end())
    return cached->second;
  MatchResult result;
  if (FcInit()) {
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY,
                       reinterpret_cast<const FcChar8 *>(family.c_str()));
    FcPatternAddString(pattern, FC_LANG,
                       reinterpret_cast<const FcChar8 *>("ja"));
    FcPatternAddInteger(pattern, FC_WEIGHT,
                        bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult status = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, pattern, &status);
    if (match != nullptr) {
      FcChar8 *file = nullptr;
      int index = 0;
      FcLangSet *langs = nullptr;
      const bool japanese =
          FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
          FcLangSetHasLang(langs, reinterpret_cast<const FcChar8 *>("ja")) ==
              FcLangEqual;
      if (japanese &&
          FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        result.file = reinterpret_cast<const char *>(file);
        result.index = index;
        result.found = true;
      }
      FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
  }
  matchCache[key] = result;
  return result;
}

struct Glyph {
  int advance = 0;
};

// Loads (and for drawing renders) one character in one-bit pixels.
bool LoadGlyph(const FontFace &font, char32_t c, bool render) {
  FT_UInt index = FT_Get_Char_Index(font.face, c);
  if (FT_Load_Glyph(font.face, index, FT_LOAD_TARGET_MONO) != 0)
    return false;
  if (font.bold)
    FT_GlyphSlot_Embolden(font.face->glyph);
  if (render &&
      FT_Render_Glyph(font.face->glyph, FT_RENDER_MODE_MONO) != 0)
    return false;
  return true;
}

int Advance(const FontFace &font, char32_t c) {
  if (!LoadGlyph(font, c, false))
    return 0;
  return static_cast<int>((font.face->glyph->advance.x + 32) >> 6);
}

int LineWidth(const FontFace &font, const std::u32string &chars, size_t from,
              size_t to) {
  int width = 0;
  for (size_t i = from; i < to; ++i)
    width += Advance(font, chars[i]);
  return width;
}

struct Clip {
  LONG left, top, right, bottom;
};

void DrawLine(Bitmap &target, const Clip &clip, const FontFace &font,
              const std::u32string &chars, size_t from, size_t to, int x,
              int y, uint32_t rgb) {
  for (size_t i = from; i < to; ++i) {
    if (!LoadGlyph(font, chars[i], true))
      continue;
    const FT_GlyphSlot slot = font.face->glyph;
    const FT_Bitmap &bm = slot->bitmap;
    const int ox = x + slot->bitmap_left;
    const int oy = y + font.ascent - slot->bitmap_top;
    for (unsigned row = 0; row < bm.rows; ++row) {
      const unsigned char *line = bm.buffer + ptrdiff_t(row) * bm.pitch;
      for (unsigned col = 0; col < bm.width; ++col) {
        bool on;
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
          on = (line[col >> 3] & (0x80 >> (col & 7))) != 0;
        else
          on = line[col] >= 128;
        if (!on)
          continue;
        const int px = ox + int(col), py = oy + int(row);
        if (px < clip.left || px >= clip.right || py < clip.top ||
            py >= clip.bottom || !target.Contains(px, py))
          continue;
        target.Set(px, py, rgb);
      }
    }
    x += static_cast<int>((slot->advance.x + 32) >> 6);
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
  auto font = std::make_shared<FontFace>();
  if (FT_New_Face(library, match.file.c_str(), match.index, &font->face) != 0) {
    font->face = nullptr;
    return nullptr;
  }
  FT_Face face = font->face;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
    return nullptr;
  // A positive height is the cell height (internal leading included): the
  // em is scaled so that the font's Windows ascent plus descent fill it.
  long ascentUnits = face->ascender, descentUnits = -face->descender;
  if (auto *os2 = static_cast<TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    ascentUnits = os2->usWinAscent;
    descentUnits = os2->usWinDescent;
  }
  const long totalUnits = std::max(1L, ascentUnits + descentUnits);
  int cell = lf.lfHeight;
  if (cell == 0)
    cell = 16;
  if (cell < 0) // a negative height is the em itself
    cell = int((long(-cell) * totalUnits + face->units_per_EM / 2) /
               face->units_per_EM);
  cell = std::min(cell, 1024);
  const long emY =
      std::max(1L, (long(cell) * face->units_per_EM + totalUnits / 2) /
                       totalUnits);
  long emX = emY;
  if (lf.lfWidth > 0) {
    // The width is the average (half-width) character width.
    long halfAdvance = face->units_per_EM / 2;
    if (FT_Load_Char(face, '0', FT_LOAD_NO_SCALE) == 0 &&
        face->glyph->advance.x > 0)
      halfAdvance = face->glyph->advance.x;
    emX = std::max(1L, (long(std::min<LONG>(lf.lfWidth, 1024)) *
                            face->units_per_EM +
                        halfAdvance / 2) /
                           halfAdvance);
  }
  if (FT_Set_Pixel_Sizes(face, FT_UInt(emX), FT_UInt(emY)) != 0)
    return nullptr;
  font->cellHeight = cell;
  font->ascent = int((ascentUnits * cell + totalUnits / 2) / totalUnits);
  font->bold = bold && !(face->style_flags & FT_STYLE_FLAG_BOLD);
  return font;
}

int DrawTextOn(Bitmap &target, const RECT *clipRect, const FontFace &font,
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

  const int lineHeight = font.cellHeight;
  int y = rect->top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
    y = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
  for (const Span &line : lines) {
    const int width = LineWidth(font, chars, line.from, line.to);
    int x = rect->left;
    if (format & DT_CENTER)
      x = rect->left + (rectWidth - width) / 2;
    if (bkMode == OPAQUE)
      FillBox(target, clip, x, y, x + width, y + lineHeight, bk);
    DrawLine(target, clip, font, chars, line.from, line.to, x, y, rgb);
    y += lineHeight;
  }
  return int(lines.size()) * lineHeight;
}

} // namespace portable
