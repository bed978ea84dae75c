// One node of a filter's topology, as the filter reported it.
#pragma once

#include <windows.h>

struct CKsNode {
    ULONG nodeId;   // index in the topology reply
    char tag[4];    // always "NONE": nodes carry no name of their own
    GUID nodeType;
};
