// The device connection service: pairing a desktop, and serving the remote
// API to paired desktops, for the device root of this process.
#pragma once

#include <string>

#include "RapiChannel.h"
#include "Status.h"

namespace tbm::devicelink {

inline constexpr const char* kProgram = "tbm-devicelink";

// Makes SIGTERM and SIGINT end PairOnce and RunService cleanly. Call once,
// before either.
void InstallStopSignals();

// Listens at address, shows a pairing code and waits up to seconds for one
// desktop to pair with it (Partnership.h). Fails in words when the time
// passes, the code was wrong kPairingTries times, or a stop signal came.
Status PairOnce(const rapi::Endpoint& address, int seconds);

// Serves paired desktops at address until a stop signal; prints a ready line
// with the port and logs to the device root's log folder. Connections are
// served side by side, each on its own thread.
Status RunService(const rapi::Endpoint& address);

// Copies the handheld's synchronisation pieces (TBDevSync, TBMSYNBKCE and the
// engine they load) from beside this program into "\Windows" of the device
// root and registers the provider and the handheld program (programPath;
// empty: "Tabulon Mobile" beside this program) in the handheld's registry.
Status InstallHandheldPieces(const std::string& programPath);

}  // namespace tbm::devicelink
