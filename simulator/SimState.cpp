#include "SimState.h"

#include "SimPersist.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

struct Attachment {
    char instance[64] = "";
    HANDLE mapping = nullptr;
    HANDLE mutex = nullptr;
    SharedState* state = nullptr;
};

Attachment g_attachment;
INIT_ONCE g_defaultOnce = INIT_ONCE_STATIC_INIT;

void Detach(Attachment& a) {
    if (a.state) UnmapViewOfFile(a.state);
    if (a.mapping) CloseHandle(a.mapping);
    if (a.mutex) CloseHandle(a.mutex);
    a = Attachment();
}

bool AttachTo(const char* instance, Attachment& a) {
    char name[128];
    snprintf(name, sizeof(name), "VelmorR5R6Sim_%s_lock", instance);
    a.mutex = CreateMutexA(nullptr, FALSE, name);
    if (!a.mutex) return false;
    snprintf(name, sizeof(name), "VelmorR5R6Sim_%s", instance);
    WaitForSingleObject(a.mutex, INFINITE);
    a.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedState), name);
    bool created = a.mapping && GetLastError() != ERROR_ALREADY_EXISTS;
    if (a.mapping) {
        a.state = static_cast<SharedState*>(MapViewOfFile(a.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    if (a.state && (created || a.state->magic != kStateMagic)) {
        std::memset(a.state, 0, sizeof(SharedState));
        a.state->version = kStateVersion;
        a.state->size = sizeof(SharedState);
        a.state->present = 1;
        a.state->config = DefaultConfig();
        LoadPersisted(instance, *a.state);
        a.state->magic = kStateMagic;
    }
    ReleaseMutex(a.mutex);
    if (!a.state || a.state->size != sizeof(SharedState)) {
        Detach(a);
        return false;
    }
    snprintf(a.instance, sizeof(a.instance), "%s", instance);
    return true;
}

BOOL CALLBACK AttachDefault(PINIT_ONCE, PVOID, PVOID*) {
    if (g_attachment.state) return TRUE;
    char instance[64] = "default";
    DWORD got = GetEnvironmentVariableA("VELMOR_SIM_INSTANCE", instance, sizeof(instance));
    if (got == 0 || got >= sizeof(instance)) std::strcpy(instance, "default");
    AttachTo(instance, g_attachment);
    return TRUE;
}

}  // namespace

Config DefaultConfig() {
    Config c = {};
    c.model = kModelR6;
    c.renderChannels = 2;
    c.maxBits = 32;
    c.vendorReplyLength = kDefaultVendorReplyLength;
    c.hidOutputLength = kDefaultHidOutputLength;
    return c;
}

SharedState* State() {
    InitOnceExecuteOnce(&g_defaultOnce, AttachDefault, nullptr, nullptr);
    return g_attachment.state;
}

bool Attach(const char* instance) {
    if (!instance || !*instance || std::strlen(instance) >= sizeof(g_attachment.instance)) return false;
    InitOnceExecuteOnce(&g_defaultOnce, AttachDefault, nullptr, nullptr);
    if (g_attachment.state && std::strcmp(g_attachment.instance, instance) == 0) return true;
    Attachment next;
    if (!AttachTo(instance, next)) return false;
    // The old view stays mapped: other threads may still read through it.
    g_attachment = next;
    return true;
}

const char* InstanceName() {
    State();
    return g_attachment.instance;
}

StateLock::StateLock() {
    State();
    if (g_attachment.mutex) WaitForSingleObject(g_attachment.mutex, INFINITE);
}

StateLock::~StateLock() {
    if (g_attachment.mutex) ReleaseMutex(g_attachment.mutex);
}

uint64_t NowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool ProcessAlive(uint32_t pid) {
    if (pid == GetCurrentProcessId()) return true;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

}  // namespace sim
