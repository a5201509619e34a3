// What the tests and the simulated desktop ask of the portable layer.
#pragma once

#include <cstdint>

#include "platform/portable/win32_subset.h"

namespace portable {

// How many timer messages the program has taken so far, and whether a
// timer runs (what a power monitor sees).
uint64_t TimerMessageCount();
bool TimerRunning(HWND hwnd, UINT_PTR id);
// Whether the program has a low-level keyboard hook set.
bool HasKeyboardHook();

// Drops every window, timer, message and GDI object (between test runs).
void ResetAll();

// How many times fontconfig has been asked for a font, and forgetting the
// answers this run has had (those kept in the font cache file stay).
int FontconfigQueries();
void ForgetFontMatches();

} // namespace portable
