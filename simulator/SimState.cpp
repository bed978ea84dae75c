#include "SimState.h"

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

// A kept device lives in a file of the temporary folder, so that what one
// program did (setup, counters, report log) is there for the next one.
HANDLE OpenStateFile(const char* instance, bool& fresh) {
    char folder[MAX_PATH];
    DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder)) return INVALID_HANDLE_VALUE;
    char path[MAX_PATH + 96];
    snprintf(path, sizeof(path), "%sVelmorR5R6Sim-%s.state", folder, instance);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LARGE_INTEGER size = {};
    fresh = !GetFileSizeEx(file, &size) || size.QuadPart != static_cast<LONGLONG>(sizeof(SharedState));
    return file;
}

bool AttachTo(const char* instance, bool kept, Attachment& a) {
    char name[128];
    snprintf(name, sizeof(name), "VelmorR5R6Sim_%s_lock", instance);
    a.mutex = CreateMutexA(nullptr, FALSE, name);
    if (!a.mutex) return false;
    snprintf(name, sizeof(name), "VelmorR5R6Sim_%s", instance);
    WaitForSingleObject(a.mutex, INFINITE);
    bool fresh = true;
    HANDLE file = INVALID_HANDLE_VALUE;
    a.mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!a.mapping) {
        if (kept) file = OpenStateFile(instance, fresh);
        a.mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, sizeof(SharedState), name);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);  // the mapping keeps the file
    } else {
        fresh = false;
    }
    bool created = a.mapping && fresh;
    if (a.mapping) {
        a.state = static_cast<SharedState*>(MapViewOfFile(a.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    if (a.state && (created || a.state->magic != kStateMagic)) {
        std::memset(a.state, 0, sizeof(SharedState));
        a.state->version = kStateVersion;
        a.state->size = sizeof(SharedState);
        a.state->present = 1;
        a.state->config = DefaultConfig();
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
    AttachTo(instance, true, g_attachment);
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
    c.leadPackets = kDefaultLeadPackets;
    return c;
}

SharedState* State() {
    InitOnceExecuteOnce(&g_defaultOnce, AttachDefault, nullptr, nullptr);
    return g_attachment.state;
}

bool Attach(const char* instance, bool kept) {
    if (!instance || !*instance || std::strlen(instance) >= sizeof(g_attachment.instance)) return false;
    InitOnceExecuteOnce(&g_defaultOnce, AttachDefault, nullptr, nullptr);
    if (g_attachment.state && std::strcmp(g_attachment.instance, instance) == 0) return true;
    Attachment next;
    if (!AttachTo(instance, kept, next)) return false;
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
