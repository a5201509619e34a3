// flinto-sim [--settings FILE] [SCRIPT]: runs Flinto on the simulated desktop.
#include <fstream>
#include <iostream>
#include <string>

#include "platform/sim/scenario.h"

int main(int argc, char **argv) {
  std::string settings;
  std::string scriptPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--settings" && i + 1 < argc) {
      settings = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: flinto-sim [--settings FILE] [SCRIPT]\n";
      return 0;
    } else if (scriptPath.empty() && (arg.empty() || arg[0] != '-')) {
      scriptPath = arg;
    } else {
      std::cerr << "usage: flinto-sim [--settings FILE] [SCRIPT]\n";
      return 2;
    }
  }
  if (scriptPath.empty())
    return sim::RunScenario(std::cin, std::cout, std::cerr, settings);
  std::ifstream script(scriptPath);
  if (!script) {
    std::cerr << "flinto-sim: cannot read " << scriptPath << "\n";
    return 2;
  }
  return sim::RunScenario(script, std::cout, std::cerr, settings);
}
