// Text put into the fixed-size fields the host reads (names): cut to fit and
// always terminated.
#pragma once

#include <cstddef>

inline void CopyText(char* to, size_t size, const char* from) {
    if (!size) return;
    size_t n = 0;
    for (; from && from[n] && n + 1 < size; ++n) to[n] = from[n];
    to[n] = '\0';
}
