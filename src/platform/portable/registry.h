// The registry of the portable hosts: a tree of keys kept in one text file.
#pragma once

#include <string>

namespace portable {

// The file that holds the current user's keys; empty keeps them in memory.
// Nothing is read until the first registry call.
void SetRegistryFile(const std::string &path);
// The default file: $XDG_CONFIG_HOME/flinto/registry.txt, or
// ~/.config/flinto/registry.txt.
std::string DefaultRegistryFile();
// Make reads (opening for reading, querying) or writes (creating keys,
// setting values) fail, as a damaged or read-only registry would, or only
// the replacement of the file, as a full disk would.
void SetRegistryFailures(bool failReads, bool failWrites,
                         bool failPersists = false);

// How many times the file has been replaced (each an fsync and a rename).
int RegistryFileWrites();

// Text form of the whole tree, and reading it back (used for the file).
std::string SerializeRegistry();
// Replaces the tree with what can be read from `text`; unreadable lines are
// skipped. Returns the number of values read.
int ParseRegistry(const std::string &text);

} // namespace portable
