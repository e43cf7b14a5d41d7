#pragma once
// Termination of the seam's own threads, emulated at the seam's waits. Each thread started through
// StartThread has a manual-reset cancel event; TerminateThread sets it, and every wait of the seam
// in that thread (events, sleeps, joins, socket waits and blocking reads) also watches it and, once
// it is set, throws ThreadCancellation so the stack unwinds and destructors run. It is thrown once:
// the waits of the unwinding itself (a destructor stopping a thread of its own) wait normally.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// After the three above, which it needs.
#include <mswsock.h>
#include <objbase.h>
// The seam's own names must not be renamed to the system's A/W variants.
#undef CreateEvent

#include <cstdint>

namespace norvale::platform::cancellation {

// The cancel event a wait of the calling thread must watch; null in a thread the seam did not start,
// and once the thread's termination is under way.
HANDLE WatchedEvent();
// Unwinds the calling thread: its wait saw WatchedEvent() set.
[[noreturn]] void Deliver();
// Unwinds the calling thread if it was told to end.
void ThrowIfRequested();
// True when the calling thread was told to end and has not yet been unwound.
bool Requested();

}  // namespace norvale::platform::cancellation
