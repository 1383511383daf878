// "tbm-desktoplink run": the service at work. It loads the registered
// providers, publishes its window for "sync", and runs Qt's event loop, into
// which it hooks the main thread's window-message queue (MessagePump.h), the
// poll timer that watches the handheld, and SIGTERM, SIGINT and SIGHUP,
// which end it cleanly: every store is released (status 6, then Release)
// and the connection closed.
//
// One service runs per desktop root: a second one says which process runs
// already. When it is ready it prints one line on standard output
// (ConnectionService::ReadyLine); it logs to
// <desktop root>/log/tbm-desktoplink.log and prints
// "tbm-desktoplink has stopped." at its end.
#pragma once

#include <chrono>

namespace tbm::desktoplink {

struct RunOptions {
  // No window (also without a display).
  bool headless = false;
  // How often the handheld is looked at.
  std::chrono::milliseconds pollInterval{2000};
};

// Whether Qt can show windows here: DISPLAY or WAYLAND_DISPLAY set, or a
// platform other than "offscreen" asked for.

// Runs until a signal or the window's Quit. Returns the exit status: 0
// after a clean stop, 1 when it could not start.
int RunService(const RunOptions& options, const char* programPath);

}  // namespace tbm::desktoplink
