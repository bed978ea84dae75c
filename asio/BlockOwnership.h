// Ownership of the shared status block by one driver object. Claiming and
// giving back are serialised across processes, so two objects claiming at
// once can neither both win nor leave a mix of their identities behind.
#pragma once

#include "device/StatusBlock.h"

#include <windows.h>

// The named mutex every process's claims and give-backs take.
constexpr char kClaimMutexName[] = "VelmorR5R6_20130107_owner";

// A new identity for one driver object: never the class identity, which every
// object of one registration shares.
GUID NewOwnerIdentity(REFCLSID clsid);

// True when the identity owns the block afterwards.
bool ClaimBlock(CStatusBlock& block, const GUID& identity);
// Owner only: state UNLOAD, owner cleared, changed set.
bool GiveBackBlock(CStatusBlock& block, const GUID& identity);
