#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace sim {

// Runs one scenario script against the program on a fresh simulated desktop.
// Events go to `out`, a script error to `err`. Returns the exit status: 0, or
// 2 for an unknown command or a malformed line. An empty `settingsFile`
// keeps the registry in memory.
int RunScenario(std::istream &script, std::ostream &out, std::ostream &err,
                const std::string &settingsFile);

} // namespace sim
