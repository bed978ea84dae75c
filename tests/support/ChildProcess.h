// Runs another test program and collects what it printed.
#pragma once

#include <windows.h>

#include <string>

struct ChildResult {
    bool started = false;
    DWORD exitCode = 0;
    std::string output;  // stdout and stderr together, CR removed
};

// Runs commandLine (program path first, quoted as needed) and waits up to
// timeoutMs; a child still running then is terminated and reported as 259.
ChildResult RunChild(const std::string& commandLine, DWORD timeoutMs = 300000);

// Full path of a program that sits beside this one.
std::string SiblingProgram(const char* fileName);

// Full path of the same-named program of the other architecture's build
// (build/win64 <-> build/win32), or "" when that build has none.
std::string OtherArchProgram(const char* fileName);
