// The simulated desktop's documented commands and what the runner and the
// tests use: every line of every test script is a documented form, and
// every documented form is taken by the runner (so the page cannot drift).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scenario_helpers.h"

namespace {

const std::filesystem::path kSource = FLINTO_SOURCE_DIR;

std::vector<std::string> Words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string w;
  while (in >> w)
    words.push_back(w);
  return words;
}

// The forms of the command tables: the first cell's code, `\|` unescaped.
std::vector<std::string> DocumentedForms() {
  std::ifstream in(kSource / "docs" / "flinto-sim.md");
  std::vector<std::string> forms;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) != 0)
      continue;
    const std::string cell = line.substr(2, line.find(" | ", 2) - 2);
    for (size_t at = cell.find('`'); at != std::string::npos;) {
      const size_t end = cell.find('`', at + 1);
      std::string form = cell.substr(at + 1, end - at - 1);
      for (size_t b; (b = form.find("\\|")) != std::string::npos;)
        form.erase(b, 1);
      forms.push_back(form);
      at = cell.find('`', end + 1);
    }
  }
  return forms;
}

bool IsValue(const std::string &token) {
  for (char c : token)
    if (!(c >= 'A' && c <= 'Z'))
      return false;
  return !token.empty();
}

bool TokenMatches(const std::string &token, const std::string &word) {
  if (IsValue(token))
    return true;
  std::istringstream choices(token);
  std::string choice;
  while (std::getline(choices, choice, '|'))
    if (choice == word || (IsValue(choice) && !word.empty()))
      return true;
  return false;
}

// Whether the script line is an instance of the form.
bool Matches(const std::string &form, const std::vector<std::string> &line) {
  std::vector<std::string> tokens = Words(form);
  std::vector<std::string> required, optional;
  bool inOptional = false;
  for (std::string t : tokens) {
    if (t.front() == '[') {
      inOptional = true;
      t.erase(0, 1);
    }
    const bool closes = t.back() == ']';
    if (closes)
      t.pop_back();
    (inOptional ? optional : required).push_back(t);
    if (closes)
      inOptional = false;
  }
  for (const bool withOptional : {false, true}) {
    std::vector<std::string> all = required;
    if (withOptional)
      all.insert(all.end(), optional.begin(), optional.end());
    const bool text = !all.empty() && all.back() == "TEXT";
    if (line.size() != all.size() && !(text && line.size() > all.size()))
      continue;
    bool ok = true;
    for (size_t i = 0; i < all.size() && ok; ++i)
      ok = TokenMatches(all[i], line[i]);
    if (ok)
      return true;
  }
  return false;
}

TEST(SimDocs, EveryScriptLineOfTheTestsIsADocumentedCommand) {
  const std::vector<std::string> forms = DocumentedForms();
  ASSERT_GT(forms.size(), 40u);
  std::vector<std::filesystem::path> scripts = {kSource / "scripts" /
                                                "demo.sim"};
  for (const auto &e :
       std::filesystem::directory_iterator(kSource / "tests" / "scenarios"))
    if (e.path().extension() == ".sim")
      scripts.push_back(e.path());
  ASSERT_GT(scripts.size(), 40u);
  int lines = 0;
  for (const auto &script : scripts) {
    std::ifstream in(script);
    std::string line;
    while (std::getline(in, line)) {
      const std::string code = line.substr(0, line.find('#'));
      const std::vector<std::string> words = Words(code);
      if (words.empty())
        continue;
      ++lines;
      bool documented = false;
      for (const std::string &form : forms)
        documented = documented || Matches(form, words);
      EXPECT_TRUE(documented) << script.filename() << ": " << code;
    }
  }
  EXPECT_GT(lines, 500);

  // The scripts the shell tests pipe into flinto-sim (a printf of lines
  // that contains "start").
  int piped = 0;
  for (const auto &e :
       std::filesystem::recursive_directory_iterator(kSource / "tests"))
    if (e.path().extension() == ".sh") {
      std::ifstream in(e.path());
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      for (size_t at = text.find("printf '"); at != std::string::npos;
           at = text.find("printf '", at + 1)) {
        const size_t from = at + 8, to = text.find('\'', from);
        std::string body = text.substr(from, to - from);
        if (body.find("start\\n") == std::string::npos)
          continue;
        for (size_t n; (n = body.find("\\n")) != std::string::npos;)
          body.replace(n, 2, "\n");
        std::istringstream lines(body);
        std::string line;
        while (std::getline(lines, line)) {
          if (line == "%s")
            continue; // settings lines given by the caller
          for (size_t f; (f = line.find("%s")) != std::string::npos;)
            line.replace(f, 2, "x");
          const std::vector<std::string> words = Words(line);
          if (words.empty())
            continue;
          ++piped;
          bool documented = false;
          for (const std::string &form : forms)
            documented = documented || Matches(form, words);
          EXPECT_TRUE(documented) << e.path().filename() << ": " << line;
        }
      }
    }
  EXPECT_GT(piped, 10);
}

TEST(SimDocs, EveryDocumentedFormIsTakenByTheRunner) {
  // Each form with sample values, in a script that reaches it.
  auto sample = [](std::string token) -> std::string {
    // Of a choice, a word rather than a value.
    if (token.find('|') != std::string::npos) {
      std::istringstream choices(token);
      std::string choice;
      while (std::getline(choices, choice, '|'))
        if (!IsValue(choice))
          return choice;
      token = token.substr(0, token.find('|'));
    }
    if (token == "ID")
      return "0x41";
    if (token == "NAME")
      return "editor";
    if (token == "FILE")
      return "/dev/null";
    if (IsValue(token))
      return "100";
    return token;
  };
  const std::string before = "screen W H,workarea L T R B,workarea fail,"
                             "setting NAME dword N,setting NAME sz TEXT,"
                             "setting NAME absent,registry fail-read|"
                             "fail-write,registry disk-full,other-instance,"
                             "layered off,tray fail,font missing,hooks off,"
                             "hooks changes,hooks silent,"
                             "dpi N,scale N";
  for (const std::string &form : DocumentedForms()) {
    if (form == "start" || form == "end")
      continue;
    std::string line;
    for (std::string token : Words(form)) {
      if (token.front() == '[')
        break;
      line += (line.empty() ? "" : " ") + sample(token);
    }
    if (form == "scale N")
      line = "scale 2"; // (1 to 8)
    const bool first = before.find(form) != std::string::npos &&
                       form.rfind("screen", 0) != 0 &&
                       form.rfind("workarea L", 0) != 0;
    const std::string script =
        first ? line + "\nstart\n"
              : "app editor\nstart\ntray left\n" + line + "\n";
    const ScenarioResult r = RunScript(script);
    EXPECT_NE(r.status, 2) << form << " as \"" << line << "\": " << r.err;
  }
}

} // namespace
