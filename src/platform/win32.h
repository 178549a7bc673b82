// The one place where the cleaner meets its platform: the Windows SDK on
// Windows, the simulated machine everywhere else.
#pragma once

#if defined(_WIN32)
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h must come first.
#include <lm.h>
#include <msi.h>
#include <shellapi.h>
#else
#include "sim/win32/windows.h"
#endif
