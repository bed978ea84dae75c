#include "BlockOwnership.h"

#include <objbase.h>

namespace {

constexpr DWORD kClaimWaitMs = 5000;

// Holds the claim mutex for one claim or give-back; not held when the wait failed.
class ClaimLock {
public:
    ClaimLock() : m_mutex(CreateMutexA(nullptr, FALSE, kClaimMutexName)) {
        if (!m_mutex) return;
        DWORD wait = WaitForSingleObject(m_mutex, kClaimWaitMs);
        m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~ClaimLock() {
        if (m_held) ReleaseMutex(m_mutex);
        if (m_mutex) CloseHandle(m_mutex);
    }
    ClaimLock(const ClaimLock&) = delete;
    ClaimLock& operator=(const ClaimLock&) = delete;
    bool Held() const { return m_held; }

private:
    HANDLE m_mutex;
    bool m_held = false;
};

}  // namespace

GUID NewOwnerIdentity(REFCLSID clsid) {
    GUID identity = {};
    if (SUCCEEDED(CoCreateGuid(&identity)) && !IsEqualGUID(identity, clsid)) return identity;
    // Without the GUID service: the class identity marked with process, time and a counter.
    static volatile LONG counter = 0;
    identity = clsid;
    identity.Data1 ^= GetCurrentProcessId();
    identity.Data2 ^= static_cast<unsigned short>(InterlockedIncrement(&counter));
    identity.Data3 ^= static_cast<unsigned short>(GetTickCount() | 1);
    return identity;
}

bool ClaimBlock(CStatusBlock& block, const GUID& identity) {
    ClaimLock lock;
    return lock.Held() && block.Claim(identity);
}

bool GiveBackBlock(CStatusBlock& block, const GUID& identity) {
    ClaimLock lock;
    // A give-back that cannot wait still clears only its own identity.
    return block.GiveBack(identity);
}
