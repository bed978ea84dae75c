// The support log: off unless the user created "VelmorR5R6ASIO.log" in their
// user folder (USERPROFILE); the driver then appends to it. Every thread may
// write, the streaming thread included: a record is copied into a fixed ring
// without waiting or allocating, and a low-priority thread of the log turns
// the records into lines (time, process, thread, text) and appends them.
// Records that find the ring full are counted and the count is logged. The
// file never grows past kLogMaxBytes: it is then renamed "VelmorR5R6ASIO.log.1"
// (replacing an older one) and a new one begun. A log that cannot be written,
// or whose file the user removed, switches itself off; the driver never
// fails for it.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace driverlog {

constexpr const char* kLogFileName = "VelmorR5R6ASIO.log";
constexpr uint64_t kLogMaxBytes = 4u * 1024 * 1024;
constexpr uint32_t kRingRecords = 1024;
constexpr uint32_t kTextBytes = 112;

// Takes the log into use for one driver object (counted: the first one of
// a process looks for the file and starts the writer; the last one's End
// writes what is left and stops it). path: the file to use instead of the
// one in the user folder (tests).
void Begin(const char* path = nullptr);
void End();

// True while the log is on: callers skip building what would not be written.
bool On();

// A line of text (printf-style, cut at kTextBytes). Formats on the caller's
// thread: not for the streaming thread, which uses Event.
void Line(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// What the streaming thread logs: a fixed text with up to four numbers,
// formatted later by the writer. The text must outlive the process's log
// (a string literal).
void Event(const char* format, int64_t a = 0, int64_t b = 0, int64_t c = 0, int64_t d = 0);

// Writes what the ring holds now and waits until it is in the file (tests,
// and End). False when the log is off.
bool Flush();

// Records lost to a full ring since the log began.
uint64_t Lost();

}  // namespace driverlog
