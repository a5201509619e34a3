#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sim/scenario.h"

struct ScenarioResult {
  int status;
  std::string out;
  std::string err;
};

inline ScenarioResult RunScript(const std::string &script,
                                const std::string &settings = "") {
  std::istringstream in(script);
  std::ostringstream out, err;
  const int status = sim::RunScenario(in, out, err, settings);
  return {status, out.str(), err.str()};
}

inline bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// A fresh directory under the test's temporary directory.
inline std::filesystem::path FreshDir(const std::string &name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("flinto-test-" + name + "-" +
                    std::to_string(static_cast<long>(::getpid())));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path &path,
                      const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}
