#pragma once
// The few OS facilities a supervised daemon needs: waiting for a stop request
// and telling systemd about the service's state.
#include <string>

namespace quarno::platform::daemon {

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread and in every thread
// it creates afterwards, so that only WaitForStopRequest() sees them.
void BlockStopSignals();
// Waits for one of the blocked stop signals; returns its number.
int WaitForStopRequest();

// Sends `state` ("READY=1", "STOPPING=1", "STATUS=...") to the socket named by
// NOTIFY_SOCKET, as systemd's notification protocol says (one datagram; a
// name starting with "@" is an abstract socket). False when NOTIFY_SOCKET is
// unset or the datagram could not be sent.
bool NotifySupervisor(const std::string& state);

// Whether the process has a controlling terminal (started from a shell).
bool HasControllingTerminal();

// Ends the process at once, without running destructors of other threads'
// objects (a boot sequence still under way is cut off with it).
[[noreturn]] void ExitNow(int code);

}  // namespace quarno::platform::daemon
