#include "DriverLog.h"

#include <windows.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

namespace driverlog {

namespace {

struct Record {
    std::atomic<uint32_t> sequence;
    uint32_t thread;
    uint64_t fileTime;
    const char* format;  // an Event's text; null for a Line
    int64_t args[4];
    char text[kTextBytes];
};

// A bounded queue for many writers and one reader: a writer claims a cell by
// moving the write position on, fills it and publishes it through the cell's
// sequence; a full ring drops the record instead of waiting.
struct Ring {
    Record cells[kRingRecords];
    std::atomic<uint32_t> writePosition{0};
    uint32_t readPosition = 0;
    std::atomic<uint64_t> lost{0};

    Ring() {
        for (uint32_t i = 0; i < kRingRecords; ++i) cells[i].sequence.store(i, std::memory_order_relaxed);
    }

    Record* Claim() {
        uint32_t position = writePosition.load(std::memory_order_relaxed);
        for (;;) {
            Record& cell = cells[position % kRingRecords];
            const uint32_t sequence = cell.sequence.load(std::memory_order_acquire);
            const int32_t ahead = static_cast<int32_t>(sequence - position);
            if (ahead == 0) {
                if (writePosition.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                    return &cell;
                }
            } else if (ahead < 0) {
                lost.fetch_add(1, std::memory_order_relaxed);
                return nullptr;
            } else {
                position = writePosition.load(std::memory_order_relaxed);
            }
        }
    }

    static void Publish(Record& cell, uint32_t position) { cell.sequence.store(position + 1, std::memory_order_release); }

    // The oldest published record, or null.
    Record* Oldest() {
        Record& cell = cells[readPosition % kRingRecords];
        return cell.sequence.load(std::memory_order_acquire) == readPosition + 1 ? &cell : nullptr;
    }

    void Release(Record& cell) {
        cell.sequence.store(readPosition + kRingRecords, std::memory_order_release);
        ++readPosition;
    }
};

constexpr DWORD kDrainIntervalMs = 100;

struct Log {
    CRITICAL_SECTION lock;     // Begin, End and the writer's file; never taken by a record
    int users = 0;
    std::atomic<bool> on{false};
    char path[MAX_PATH] = "";
    HANDLE thread = nullptr;
    HANDLE quit = nullptr;
    HANDLE flushed = nullptr;  // set by the writer after each pass
    uint64_t lostLogged = 0;
    Ring* ring = nullptr;

    Log() { InitializeCriticalSection(&lock); }
};

Log& TheLog() {
    // Never freed (the writer may outlive static destruction), and made
    // without the heap, which may be out of memory when the driver is created.
    alignas(Log) static unsigned char storage[sizeof(Log)];
    static Log* log = new (storage) Log;
    return *log;
}

uint64_t NowFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool UserLogPath(char (&path)[MAX_PATH]) {
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("USERPROFILE", folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder)) return false;
    return snprintf(path, sizeof(path), "%s\\%s", folder, kLogFileName) < static_cast<int>(sizeof(path));
}

int FormatLine(const Record& record, char* out, size_t size) {
    FILETIME utc = {static_cast<DWORD>(record.fileTime), static_cast<DWORD>(record.fileTime >> 32)};
    FILETIME local;
    SYSTEMTIME t = {};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &t);
    char text[kTextBytes + 64];
    if (record.format) {
        snprintf(text, sizeof(text), record.format, record.args[0], record.args[1], record.args[2], record.args[3]);
    } else {
        snprintf(text, sizeof(text), "%s", record.text);
    }
    return snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] %s\r\n", t.wYear, t.wMonth, t.wDay, t.wHour,
                    t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentProcessId(), static_cast<unsigned long>(record.thread),
                    text);
}

void Disable(Log& log) { log.on.store(false, std::memory_order_release); }

// Appends text to the log file, starting a new file when it would pass the
// cap. False (and the log off) when it cannot be written or is gone.
bool Append(Log& log, const char* text, DWORD bytes) {
    HANDLE file = CreateFileA(log.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;  // removed by the user, or not ours to write
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) + bytes > kLogMaxBytes) {
        CloseHandle(file);
        char older[MAX_PATH + 4];
        snprintf(older, sizeof(older), "%s.1", log.path);
        if (!MoveFileExA(log.path, older, MOVEFILE_REPLACE_EXISTING)) return false;
        file = CreateFileA(log.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, text, bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    return ok;
}

// One pass of the writer: every record in the ring, then the count of lost ones.
void Drain(Log& log) {
    static char chunk[16384];
    size_t used = 0;
    bool ok = true;
    auto put = [&](const char* line, int length) {
        if (length <= 0) return;
        if (static_cast<size_t>(length) >= sizeof(chunk)) length = sizeof(chunk) - 1;
        if (used + length > sizeof(chunk)) {
            ok = ok && Append(log, chunk, static_cast<DWORD>(used));
            used = 0;
        }
        std::memcpy(chunk + used, line, length);
        used += length;
    };
    char line[kTextBytes + 128];
    while (Record* record = log.ring->Oldest()) {
        put(line, FormatLine(*record, line, sizeof(line)));
        log.ring->Release(*record);
    }
    const uint64_t lost = log.ring->lost.load(std::memory_order_relaxed);
    if (lost != log.lostLogged) {
        Record note = {};
        note.fileTime = NowFileTime();
        note.thread = GetCurrentThreadId();
        snprintf(note.text, sizeof(note.text), "log: %" PRIu64 " records lost (the log's ring was full)",
                 lost - log.lostLogged);
        log.lostLogged = lost;
        put(line, FormatLine(note, line, sizeof(line)));
    }
    if (used) ok = ok && Append(log, chunk, static_cast<DWORD>(used));
    if (!ok) Disable(log);
}

DWORD WINAPI Writer(void*) {
    Log& log = TheLog();
    for (;;) {
        const bool quit = WaitForSingleObject(log.quit, kDrainIntervalMs) == WAIT_OBJECT_0;
        EnterCriticalSection(&log.lock);
        if (log.on.load(std::memory_order_acquire)) Drain(log);
        LeaveCriticalSection(&log.lock);
        SetEvent(log.flushed);
        if (quit) return 0;
    }
}

void Put(const char* format, const int64_t* args, const char* text) {
    Log& log = TheLog();
    if (!log.on.load(std::memory_order_acquire)) return;
    Ring* ring = log.ring;
    Record* cell = ring->Claim();
    if (!cell) return;
    const uint32_t position = cell->sequence.load(std::memory_order_relaxed);
    cell->thread = GetCurrentThreadId();
    cell->fileTime = NowFileTime();
    cell->format = format;
    if (args) std::memcpy(cell->args, args, sizeof(cell->args));
    if (text) {
        std::strncpy(cell->text, text, sizeof(cell->text) - 1);
        cell->text[sizeof(cell->text) - 1] = '\0';
    }
    Ring::Publish(*cell, position);
}

}  // namespace

void Begin(const char* path) {
    Log& log = TheLog();
    EnterCriticalSection(&log.lock);
    if (log.users++ == 0) {
        char chosen[MAX_PATH] = "";
        bool named = path ? snprintf(chosen, sizeof(chosen), "%s", path) < static_cast<int>(sizeof(chosen))
                          : UserLogPath(chosen);
        if (named && GetFileAttributesA(chosen) != INVALID_FILE_ATTRIBUTES) {
            std::memcpy(log.path, chosen, sizeof(chosen));
            if (!log.ring) log.ring = new (std::nothrow) Ring;
            if (!log.quit) log.quit = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            if (!log.flushed) log.flushed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            log.lostLogged = log.ring ? log.ring->lost.load() : 0;
            if (log.ring && log.quit && log.flushed) {
                log.on.store(true, std::memory_order_release);
                log.thread = CreateThread(nullptr, 0, Writer, nullptr, 0, nullptr);
                if (log.thread) {
                    SetThreadPriority(log.thread, THREAD_PRIORITY_LOWEST);
                } else {
                    Disable(log);
                }
            }
        }
    }
    LeaveCriticalSection(&log.lock);
}

void End() {
    Log& log = TheLog();
    HANDLE thread = nullptr;
    EnterCriticalSection(&log.lock);
    if (log.users > 0 && --log.users == 0) {
        thread = log.thread;
        log.thread = nullptr;
    }
    LeaveCriticalSection(&log.lock);
    if (!thread) return;
    SetEvent(log.quit);  // the writer drains once more, then ends
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    Disable(log);
}

bool On() { return TheLog().on.load(std::memory_order_acquire); }

void Line(const char* format, ...) {
    if (!On()) return;
    char text[kTextBytes];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Put(nullptr, nullptr, text);
}

void Event(const char* format, int64_t a, int64_t b, int64_t c, int64_t d) {
    const int64_t args[4] = {a, b, c, d};
    Put(format, args, nullptr);
}

bool Flush() {
    Log& log = TheLog();
    if (!On() || !log.thread) return false;
    ResetEvent(log.flushed);
    // The writer passes every kDrainIntervalMs; two passes make sure one began after this call.
    for (int pass = 0; pass < 2; ++pass) {
        if (WaitForSingleObject(log.flushed, 5000) != WAIT_OBJECT_0) return false;
    }
    return On();
}

uint64_t Lost() {
    Ring* ring = TheLog().ring;
    return ring ? ring->lost.load(std::memory_order_relaxed) : 0;
}

}  // namespace driverlog
