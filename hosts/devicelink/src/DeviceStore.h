// The database-volume calls the device connection service answers
// (RapiFrame.h, call numbers 50-79), made on the handheld's own store.
#pragma once

#include <cstdint>
#include <vector>

#include "DeviceCalls.h"

namespace tbm::devicelink {

// The reply payload for a call numbered 50-79 (unknown numbers among them
// get UnknownCall's reply). Volumes the desktop mounted
// and databases it opened are kept in state.open under handle numbers; when
// the connection ends, open databases are closed, batches still open are
// given up and volumes are unmounted, so nothing stays mounted for a desktop
// that went away.
std::vector<std::uint8_t> ServeStoreCall(std::uint16_t call, rapi::PayloadReader& reader,
                                         ConnectionState& state);

}  // namespace tbm::devicelink
