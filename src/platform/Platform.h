#pragma once
// The operating-system seam. Everything the driver needs from the OS goes through these functions;
// the POSIX backend lives in posix/, the Win32 backend in win32/, code both share in common/.
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// ---- events -------------------------------------------------------------------------------------
struct Event;  // opaque
Event* CreateEvent(bool manualReset);
void DestroyEvent(Event* ev);
void SetEvent(Event* ev);
void ResetEvent(Event* ev);
// True if signalled within ms (an auto-reset event is consumed by the waiter that sees it).
bool WaitEvent(Event* ev, uint32_t ms);
// Index of the first signalled event, -1 on time-out or a bad list.
int WaitAnyEvent(Event* const* events, int count, uint32_t ms);

// ---- threads ------------------------------------------------------------------------------------
struct Thread;  // opaque
using ThreadEntry = void (*)(void* arg);
// Starts a thread running entry(arg); null on failure. *id receives its 32-bit id.
Thread* StartThread(ThreadEntry entry, void* arg, uint32_t* id);
// True when the thread has finished within ms.
bool WaitThread(Thread* t, uint32_t ms);
// Asks the thread to die at its next cancellation point (deferred): its stack unwinds (see Guard.h).
// Returns whether it ended within a short grace time. Where the system can end a thread outright,
// a thread that ignored the request that long is killed where it stands, without unwinding (what
// it held stays held); *killed (optional) tells the caller so.
bool TerminateThread(Thread* t, bool* killed = nullptr);
// Releases the handle: joins a finished thread, detaches one still running.
void CloseThread(Thread* t);
bool IsCurrentThread(const Thread* t);
// Lets a termination that was asked for while the calling thread could not be reached take effect
// now, at a point where its unwinding is safe.
void TestCancel();
uint32_t CurrentThreadId();
void SleepMs(uint32_t ms);

// ---- time ---------------------------------------------------------------------------------------
// Now as a FILETIME: 100-ns units since 1601-01-01 UTC.
uint64_t FileTimeNow();
// Milliseconds from an arbitrary start, monotonic, wrapping at 2^32.
uint32_t TickCount();
// What is left of a limit of ms (kInfinite: none) begun at the tick count start; 0 once spent.
inline uint32_t TimeLeft(uint32_t start, uint32_t ms) {
  if (ms == kInfinite) return ms;
  const uint32_t spent = TickCount() - start;
  return spent < ms ? ms - spent : 0;
}

struct SystemTime {  // the fields of a Win32 SYSTEMTIME
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
SystemTime FileTimeToSystemTime(uint64_t fileTime);
// 0 for a date outside what a FILETIME can hold.
uint64_t SystemTimeToFileTime(const SystemTime& st);

// ---- process and host ---------------------------------------------------------------------------
// Full path of the running executable; empty if it cannot be read or is longer than maxChars.
std::string ExecutablePath(size_t maxChars);
// Full path of the module (shared library, or executable when linked in) holding this code; empty if
// it cannot be told.
std::string ModulePath();
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
struct Version {
  uint16_t major, minor, build, revision;
};
// The host core's product version: on Windows the version resource of the loaded Stavrik.dll, on
// POSIX the environment (STAVRIK_VERSION="major.minor.build.revision").
bool HostCoreVersion(Version* out);
unsigned ProcessorCount();
uint32_t Random32();
void DebugOutput(const char* text);
// Environment variable, empty when unset.
std::string GetEnv(const char* name);

// ---- memory -------------------------------------------------------------------------------------
// Pages straight from the system, outside the C heap: only the pages written to are backed by
// memory, and all of them go back to the system at UnmapMemory. Null on failure.
void* MapMemory(size_t bytes);
void UnmapMemory(void* memory, size_t bytes);

}  // namespace norvale::platform

namespace norvale::platform {
// First IPv4 address of a host name through the system resolver, in network byte order; 0 on failure.
uint32_t ResolveIPv4(const char* host);
}  // namespace norvale::platform
