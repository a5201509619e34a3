// Fontconfig's answers kept between runs: used while nothing behind them
// changed, never when something did, and never from a file that does not
// read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/portable/font_cache.h"
#include "platform/portable/testing.h"
#include "platform/portable/text.h"
#include "scenario_helpers.h"

namespace {

using portable::FontChoice;

// A home of its own for each test, so that the folders looked at are the
// test's; what it changed is put back after.
class FontCacheTest : public ::testing::Test {
protected:
  FontCacheTest() : dir(FreshDir("fonts")) {
    for (const char *v : {"HOME", "XDG_DATA_HOME", "FONTCONFIG_FILE"}) {
      const char *value = std::getenv(v);
      saved.emplace_back(v, value != nullptr ? value : "", value != nullptr);
    }
    setenv("HOME", dir.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    cache = (dir / "cache" / "flinto" / "fonts").string();
    portable::SetFontCacheFile(cache);
    font = (dir / "font.ttf").string();
    WriteFile(font, std::string(1000, 'f'));
  }
  ~FontCacheTest() override {
    for (const auto &[name, value, set] : saved)
      set ? setenv(name.c_str(), value.c_str(), 1) : unsetenv(name.c_str());
    portable::SetFontCacheFile(portable::DefaultFontCacheFile());
    portable::ForgetFontMatches();
    std::filesystem::remove_all(dir);
  }
  bool Recall(const std::string &family, bool bold, FontChoice *c) {
    // (Each look works the fingerprint out again, as a new run would.)
    portable::SetFontCacheFile(cache);
    return portable::RecallFontChoice(family, bold, c);
  }

  std::filesystem::path dir;
  std::string cache, font;
  std::vector<std::tuple<std::string, std::string, bool>> saved;
};

TEST_F(FontCacheTest, AnAnswerIsKeptForItsFamilyAndWeight) {
  portable::RememberFontChoice("Gothic", false, {font, 2});
  FontChoice c;
  ASSERT_TRUE(Recall("Gothic", false, &c));
  EXPECT_EQ(c.file, font);
  EXPECT_EQ(c.index, 2);
  EXPECT_FALSE(Recall("Gothic", true, &c));
  EXPECT_FALSE(Recall("Mincho", false, &c));
  // Told again: the new answer replaces the old.
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  EXPECT_EQ(c.index, 0);
  // Only the user can read it.
  struct stat st;
  ASSERT_EQ(stat((dir / "cache" / "flinto").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(FontCacheTest, NotUsedOnceTheFontFileChanged) {
  portable::RememberFontChoice("Gothic", false, {font, 0});
  FontChoice c;
  ASSERT_TRUE(Recall("Gothic", false, &c));
  WriteFile(font, std::string(1001, 'f')); // another size
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  // The same size, another time.
  struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, font.c_str(), times, 0), 0);
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  std::filesystem::remove(font);
  EXPECT_FALSE(Recall("Gothic", false, &c));
}

TEST_F(FontCacheTest, NotUsedOnceTheFontsOrTheirConfigurationChanged) {
  portable::RememberFontChoice("Gothic", false, {font, 0});
  FontChoice c;
  ASSERT_TRUE(Recall("Gothic", false, &c));
  // A font folder of the user's made, then one in it, then a font two
  // levels down: each is a change fontconfig would see.
  std::filesystem::create_directories(dir / ".local/share/fonts");
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  std::filesystem::create_directories(dir / ".local/share/fonts/noto");
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  WriteFile(dir / ".local/share/fonts/noto/new.ttf", "x");
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  // The user's configuration, and another configuration file named.
  std::filesystem::create_directories(dir / ".config/fontconfig");
  EXPECT_FALSE(Recall("Gothic", false, &c));
  portable::RememberFontChoice("Gothic", false, {font, 0});
  ASSERT_TRUE(Recall("Gothic", false, &c));
  setenv("FONTCONFIG_FILE", (dir / "other.conf").c_str(), 1);
  EXPECT_FALSE(Recall("Gothic", false, &c));
}

TEST_F(FontCacheTest, FilesThatDoNotReadAreNotUsed) {
  portable::RememberFontChoice("Gothic", false, {font, 0});
  const std::string good = ReadFile(cache);
  const std::string header = good.substr(0, good.find('\n') + 1);
  FontChoice c;
  const std::string line = "0\tGothic\t" + font + "\t0\t";
  for (const std::string &bad : {
           std::string(""),
           std::string("garbage\n"),
           header + "0\tGothic\n",                           // too few fields
           header + "2\tGothic\t" + font + "\t0\t1\t1000\n", // weight
           header + "0\tGothic\tfont.ttf\t0\t1\t1000\n",     // relative
           header + line + "-1\t1\t1000\n",                  // index
           header + line + "0x\t1\t1000\n",
           header + "0\tGothic\t" + font + "\t0\tlate\t1000\n",
           header + "0\tGothic\t" + font + "\t0\t1\t99999999999999999999\n",
           "flinto-fonts 1 0000000000000000\n" + good.substr(header.size()),
           header + std::string(70000, 'x') + "\n" + good.substr(header.size()),
       }) {
    WriteFile(cache, bad);
    EXPECT_FALSE(Recall("Gothic", false, &c)) << bad.substr(0, 80);
  }
  // A good line after one that does not read is still used.
  WriteFile(cache, header + "junk\n" + good.substr(header.size()));
  EXPECT_TRUE(Recall("Gothic", false, &c));
  // A name or path that would break the lines is not kept.
  portable::RememberFontChoice("Go\tthic", false, {font, 0});
  portable::RememberFontChoice("Mincho", false, {font + "\n", 0});
  EXPECT_FALSE(Recall("Go\tthic", false, &c));
  EXPECT_FALSE(Recall("Mincho", false, &c));
}

TEST_F(FontCacheTest, ASecondRunFindsTheFontWithoutFontconfig) {
  LOGFONTA lf;
  std::memset(&lf, 0, sizeof lf);
  lf.lfHeight = 12;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::strcpy(lf.lfFaceName, "IPAGothic");
  portable::ForgetFontMatches();
  const int before = portable::FontconfigQueries();
  HFONT first = CreateFontIndirectA(&lf);
  if (first == nullptr)
    GTEST_SKIP() << "no Japanese font here";
  DeleteObject(first);
  EXPECT_EQ(portable::FontconfigQueries(), before + 1);
  ASSERT_FALSE(ReadFile(cache).empty());
  portable::ForgetFontMatches(); // a new run
  portable::SetFontCacheFile(cache);
  HFONT second = CreateFontIndirectA(&lf);
  EXPECT_NE(second, nullptr);
  DeleteObject(second);
  EXPECT_EQ(portable::FontconfigQueries(), before + 1);
}

} // namespace
