#include "StatusBlock.h"

#include <cstring>

namespace {

HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

const GUID kNoOwner = {};

// The owner identity is compared as two 64-bit halves.
void IdentityHalves(const void* identity, uint64_t halves[2]) {
    std::memcpy(halves, identity, 2 * sizeof(uint64_t));
}

}  // namespace

CStatusBlock::~CStatusBlock() { Close(); }

HRESULT CStatusBlock::Open(const char* name) {
    Close();
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    bool created = false;
    if (!mapping) {
        SetLastError(ERROR_SUCCESS);
        mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kStatusBlockSize, name);
        if (!mapping) return LastErrorResult();
        // Lost a race with another creator: the block is theirs to initialise.
        created = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    return MapView(mapping, created);
}

HRESULT CStatusBlock::OpenExisting(const char* name) {
    Close();
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return LastErrorResult();
    return MapView(mapping, false);
}

HRESULT CStatusBlock::MapView(HANDLE mapping, bool created) {
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) {
        HRESULT hr = LastErrorResult();
        CloseHandle(mapping);
        return hr;
    }
    m_mapping = mapping;
    m_view = static_cast<volatile StatusBlockLayout*>(view);
    m_created = created;
    if (created) {
        for (uint32_t i = 0; i < kStatusBlockSize / sizeof(uint32_t); ++i) {
            reinterpret_cast<volatile uint32_t*>(m_view)[i] = 0;
        }
        m_view->magic = kStatusBlockMagic;
    }
    return S_OK;
}

void CStatusBlock::Close() {
    if (m_view) UnmapViewOfFile(const_cast<StatusBlockLayout*>(m_view));
    if (m_mapping) CloseHandle(m_mapping);
    m_view = nullptr;
    m_mapping = nullptr;
    m_created = false;
}

bool CStatusBlock::IsValid() const { return m_view && m_view->magic == kStatusBlockMagic; }

bool CStatusBlock::Read(Field field, uint32_t* value) const {
    if (!IsValid() || !value) return false;
    *value = m_view->*field;
    return true;
}

uint32_t CStatusBlock::ReadOr(Field field, uint32_t fallback) const {
    uint32_t value = 0;
    return Read(field, &value) ? value : fallback;
}

bool CStatusBlock::Write(Field field, uint32_t value) {
    if (!IsValid()) return false;
    m_view->*field = value;
    return true;
}

bool CStatusBlock::IsOwnedBy(const GUID& identity) const {
    if (!IsValid()) return false;
    uint64_t owner[2];
    uint64_t mine[2];
    IdentityHalves(const_cast<const GUID*>(&m_view->ownerIdentity), owner);
    IdentityHalves(&identity, mine);
    return owner[0] == mine[0] && owner[1] == mine[1];
}

bool CStatusBlock::WriteOwned(const GUID& identity, Field field, uint32_t value) {
    if (!IsOwnedBy(identity)) return false;
    m_view->*field = value;
    return true;
}

bool CStatusBlock::SetDeviceName(const GUID& identity, const char* name) {
    if (!name || !IsOwnedBy(identity)) return false;
    size_t length = strnlen(name, kStatusBlockNameChars - 1);
    for (size_t i = 0; i < length; ++i) m_view->deviceName[i] = name[i];
    m_view->deviceName[length] = '\0';
    return true;
}

void CStatusBlock::StoreOwner(const GUID& identity) {
    uint32_t words[4];
    std::memcpy(words, &identity, sizeof(words));
    volatile uint32_t* owner = reinterpret_cast<volatile uint32_t*>(&m_view->ownerIdentity);
    for (int i = 0; i < 4; ++i) owner[i] = words[i];
}

bool CStatusBlock::Claim(const GUID& identity) {
    if (!IsValid()) return false;
    if (IsOwnedBy(kNoOwner)) StoreOwner(identity);
    return IsOwnedBy(identity);
}

bool CStatusBlock::GiveBack(const GUID& identity) {
    if (!IsOwnedBy(identity)) return false;
    m_view->driverState = 0;
    StoreOwner(kNoOwner);
    m_view->changed = 1;
    return true;
}

bool CStatusBlock::ReadOwner(GUID* identity) const {
    if (!IsValid() || !identity) return false;
    std::memcpy(identity, const_cast<const GUID*>(&m_view->ownerIdentity), sizeof(GUID));
    return true;
}

bool CStatusBlock::ReadDeviceName(char* name, size_t size) const {
    if (!IsValid() || !name || size == 0) return false;
    size_t i = 0;
    for (; i + 1 < size && i < kStatusBlockNameChars; ++i) {
        char c = m_view->deviceName[i];
        if (c == '\0') break;
        name[i] = c;
    }
    name[i] = '\0';
    return true;
}
