// The one header through which Flinto's own code reaches its host: the Win32
// interface itself on Windows, the portable implementation of the same subset
// elsewhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// After <windows.h>, which it needs.
#include <shellapi.h>

// See the portable subset: a window's coordinates are its pixels here.
inline UINT WindowPixelScale(HWND) { return 1; }
#else
#include "platform/portable/win32_subset.h"
#endif
