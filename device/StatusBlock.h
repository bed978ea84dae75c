// The status block shared by the driver and the control panel: opening,
// checked field access and the driver's ownership rule. No locks: every
// access checks the magic first and writes one aligned 32-bit field at a time.
#pragma once

#include "StatusBlockLayout.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

class CStatusBlock {
public:
    using Field = uint32_t StatusBlockLayout::*;

    CStatusBlock() = default;
    ~CStatusBlock();
    CStatusBlock(const CStatusBlock&) = delete;
    CStatusBlock& operator=(const CStatusBlock&) = delete;

    // Opens the block, creating it when no process holds it; the creator
    // zero-fills it and writes the magic (loading the settings is the
    // caller's part). S_OK: opened or created (see Created); else the failure.
    HRESULT Open(const char* name = kStatusBlockName);
    // Opens an existing block only; never creates one.
    HRESULT OpenExisting(const char* name = kStatusBlockName);
    void Close();

    bool IsMapped() const { return m_view != nullptr; }
    bool Created() const { return m_created; }
    // Mapped and carrying the magic.
    bool IsValid() const;

    // Field access; each returns false and touches nothing without a valid block.
    bool Read(Field field, uint32_t* value) const;
    uint32_t ReadOr(Field field, uint32_t fallback) const;
    bool Write(Field field, uint32_t value);
    bool MarkChanged() { return Write(&StatusBlockLayout::changed, 1); }

    // Owner-guarded writes: only the instance whose identity is the owner's.
    bool IsOwnedBy(const GUID& identity) const;
    bool WriteOwned(const GUID& identity, Field field, uint32_t value);
    bool SetDeviceName(const GUID& identity, const char* name);

    // Claims the block when it has no owner; true when the caller owns it after.
    bool Claim(const GUID& identity);
    // Owner only: state UNLOAD, owner cleared, changed set.
    bool GiveBack(const GUID& identity);

    bool ReadOwner(GUID* identity) const;
    // Copies the device name, always NUL-terminated within size bytes.
    bool ReadDeviceName(char* name, size_t size) const;

private:
    HRESULT MapView(HANDLE mapping, bool created);
    void StoreOwner(const GUID& identity);

    HANDLE m_mapping = nullptr;
    volatile StatusBlockLayout* m_view = nullptr;
    bool m_created = false;
};
