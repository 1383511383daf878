// "Tabulon Pro run": the host at work. It opens the databases, loads and
// starts the plug-in, and runs Qt's event loop, into which it hooks the
// main thread's window-message queue (MessagePump.h), so that what other
// programs send the plug-in (its DDE conversations) is answered on the main
// thread, and SIGTERM, SIGINT and SIGHUP, which end it cleanly: the plug-in
// is stopped (call code 4) and the databases closed.
//
// One host runs per desktop machine: a second one says which process runs
// already. When it is ready it prints one line on standard output:
//   Tabulon Pro is running with 2 databases (plug-in TBBridge started)
// and what it does goes to its log, <desktop root>/log/TabulonPro.log.
#pragma once

#include <string>
#include <vector>

namespace tbm::tabulonpro {

struct RunOptions {
  // Names or paths; empty: every database in the database folder.
  std::vector<std::string> databases;
  // No window (also without a display).
  bool headless = false;
  // The plug-in to load; empty: TBBridge.tbx beside the program.
  std::string plugin;
  // Once running, show the plug-in's information dialog, or the settings
  // dialog of this database (which becomes the current one). Both need a
  // display: headless, or without one, the host refuses to start.
  bool about = false;
  std::string settingsOf;
};

// Runs until a signal or the window's Quit. Returns the exit status: 0
// after a clean stop, 1 when it could not start, 2 when the options ask
// for a dialog without a display (the reason on standard error).
int RunHost(const RunOptions& options, const char* programPath);

}  // namespace tbm::tabulonpro
