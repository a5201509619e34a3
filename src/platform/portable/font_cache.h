// Fontconfig's answers kept between runs: reading its configuration costs
// more than everything else a start does, and its answer rarely changes.
// An answer is used again only while the font configuration, the font
// folders and the font file are as they were when it was given.
#pragma once

#include <string>

namespace portable {

struct FontChoice {
  std::string file;
  int index = 0;
};

// $XDG_CACHE_HOME/flinto/fonts, else ~/.cache/flinto/fonts.
std::string DefaultFontCacheFile();
// Another file (tests); an empty path keeps nothing.
void SetFontCacheFile(const std::string &path);

// What stands behind fontconfig's answers: the environment variables that
// choose its configuration, and the modification times of its
// configuration files and of the font folders two levels down.
std::string FontSetupFingerprint();

// The file and face kept for the family, or false.
bool RecallFontChoice(const std::string &family, bool bold, FontChoice *choice);
void RememberFontChoice(const std::string &family, bool bold,
                        const FontChoice &choice);

} // namespace portable
