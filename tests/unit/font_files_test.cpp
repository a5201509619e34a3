// The font file behind the faces: mapped once however many faces use it, its
// pages given back to the system as the loop goes to wait, and glyphs drawn
// after that the same as before. And the text's bytes: a sequence cut off
// shows one replacement and leaves the next text as it would be.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/portable/internal.h"
#include "render/render.h"
#include "sim_fixture.h"

namespace {

bool IsFontPath(const std::string &path) {
  for (const char *ext : {".ttf", ".otf", ".ttc"})
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ext) == 0)
      return true;
  return false;
}

// The mappings of font files in this process: how many, of how many files,
// and the KiB of them resident.
struct FontMappings {
  int count = 0;
  std::set<std::string> files;
  long residentKiB = 0;
};

FontMappings ReadFontMappings() {
  FontMappings m;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inFont = false;
  while (std::getline(smaps, line)) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first.find('-') != std::string::npos && first.back() != ':') {
      std::string perms, offset, dev, inode, path;
      fields >> perms >> offset >> dev >> inode >> path;
      inFont = IsFontPath(path);
      if (inFont) {
        ++m.count;
        m.files.insert(path);
      }
    } else if (inFont && first == "Rss:") {
      long kib = 0;
      fields >> kib;
      m.residentKiB += kib;
    }
  }
  return m;
}

class FontFilesTest : public SimTest {
protected:
  FontFilesTest() {
    memory = CreateCompatibleDC(nullptr);
    bitmap = CreateCompatibleBitmap(memory, 300, 60);
    old = SelectObject(memory, bitmap);
  }
  ~FontFilesTest() override {
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  HFONT Font(int height, int weight) {
    LOGFONTA lf = {};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    std::memcpy(lf.lfFaceName, kFontFaceName, sizeof kFontFaceName);
    return CreateFontIndirectA(&lf);
  }
  // The text drawn in black on white, as rows of '#' and '.'.
  std::string Draw(HFONT font, const char *text) {
    portable::Bitmap *b =
        const_cast<portable::Bitmap *>(portable::BitmapOf(bitmap));
    for (int y = 0; y < b->height; ++y)
      for (int x = 0; x < b->width; ++x)
        b->Set(x, y, 0xFFFFFF);
    RECT all = {0, 0, 300, 60};
    HGDIOBJ of = SelectObject(memory, font);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, 0);
    RECT r = all;
    DrawTextA(memory, text, int(std::strlen(text)), &r,
              DT_NOPREFIX | DT_SINGLELINE);
    SelectObject(memory, of);
    std::string rows;
    for (int y = 0; y < b->height; ++y) {
      for (int x = 0; x < b->width; ++x)
        rows += b->Get(x, y) == 0xFFFFFF ? '.' : '#';
      rows += '\n';
    }
    return rows;
  }
  HDC memory = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
};

TEST_F(FontFilesTest, FacesOfOneFileShareOneMapping) {
  HFONT regular = Font(13, FW_NORMAL);
  HFONT bold = Font(21, FW_BOLD);
  ASSERT_NE(Draw(regular, "Shift"), Draw(bold, "Shift"));
  const FontMappings m = ReadFontMappings();
  ASSERT_EQ(m.files.size(), 1u) << "the keyboard's font is one file";
  EXPECT_EQ(m.count, 1);
  DeleteObject(regular);
  DeleteObject(bold);
}

TEST_F(FontFilesTest, PagesGoBackAsTheLoopWaitsAndGlyphsDrawTheSameAfter) {
  // Characters and sizes no other test draws, so their glyphs are new.
  const char *text = "Qj@&%";
  HFONT font = Font(27, FW_NORMAL);
  const std::string before = Draw(font, text);
  ASSERT_NE(before.find('#'), std::string::npos);
  ASSERT_GT(ReadFontMappings().residentKiB, 0);

  // The loop waits (a timer ends the wait): the font's pages go back.
  HWND window = MakeTestWindow("FontFilesWait", "", 0, 0, 10, 10);
  ASSERT_NE(SetTimer(window, 1, 5, nullptr), 0u);
  driver.AdvanceClock(10);
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, UINT(WM_TIMER));
  KillTimer(window, 1);
  DestroyWindow(window);
  EXPECT_EQ(ReadFontMappings().residentKiB, 0);

  // Drawn again by a face made after the pages went back (the size's face
  // pushed out by faces of other sizes): read again from the file, the same.
  DeleteObject(font);
  for (int height = 40; height < 48; ++height) {
    HFONT other = Font(height, FW_NORMAL);
    Draw(other, "x");
    DeleteObject(other);
  }
  portable::GiveBackFontPages();
  ASSERT_EQ(ReadFontMappings().residentKiB, 0);
  font = Font(27, FW_NORMAL);
  EXPECT_EQ(Draw(font, text), before);
  EXPECT_GT(ReadFontMappings().residentKiB, 0);
  DeleteObject(font);
}

TEST_F(FontFilesTest, ACutOffSequenceShowsOneReplacementAndNothingAfter) {
  HFONT font = Font(16, FW_NORMAL);
  const std::string ab = Draw(font, "AB");
  // 0x82 starts a two-byte character; alone it is cut off.
  EXPECT_EQ(Draw(font, "\x82"), Draw(font, "?"));
  EXPECT_EQ(Draw(font, "A\x82"), Draw(font, "A?"));
  // The next text starts afresh, whatever the last one left.
  EXPECT_EQ(Draw(font, "AB"), ab);
  // A whole two-byte character (U+3042) is one glyph, not two replacements,
  // and another (U+3044) is another glyph: the code points are right, not
  // all missing from the face.
  EXPECT_NE(Draw(font, "\x82\xA0"), Draw(font, "??"));
  EXPECT_NE(Draw(font, "\x82\xA0"), Draw(font, "\x82\xA2"));
  // A half-width katakana (one byte, U+FF71) is not its full-width one.
  EXPECT_NE(Draw(font, "\xB1"), Draw(font, "\x83\x41"));
  DeleteObject(font);
}

} // namespace
