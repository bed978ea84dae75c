// Whether anything reads the debug output: a debugger attached to this
// process, or a system-wide viewer (it holds the "DBWIN_BUFFER" mapping).
#pragma once

#include <windows.h>

constexpr DWORD kDebugListenerCheckMs = 1000;

// Looked up at most once per kDebugListenerCheckMs, so that traces cost
// nothing measurable while nobody listens.
bool DebugOutputListened();
