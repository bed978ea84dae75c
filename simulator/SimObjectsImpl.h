// Iteration over the handle table; included by SimObjects.h.
#pragma once

#include <map>

namespace sim {

std::map<HANDLE, Object*>& ObjectTable();

template <typename F>
void ForEachPin(F f) {
    for (auto& entry : ObjectTable()) {
        if (entry.second->kind == Kind::Pin) f(*entry.second);
    }
}

}  // namespace sim
