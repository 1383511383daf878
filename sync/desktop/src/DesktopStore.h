// The store TBDeskSync offers the desktop connection service for the object
// type "Tabulon Mobile", and its object handler.
//
// The service never gets items from this store: it reports one folder
// without items, and when the service reports status 3 (a docking, or a
// person asking) it runs its own synchronisation (DockedRun.h). The first
// status 3 after the module is loaded runs only when the handheld's setting
// "Update on docking" is 1 (and "Continuously Update" can be read too);
// every later one runs.
//
// The store is single-threaded: the service calls it from one thread, one
// call at a time. No exception leaves a method.
#pragma once

#include "ReplStore.h"

namespace tbm::desksync {

// A new store with one reference.
IReplStore* MakeDesktopStore();

}  // namespace tbm::desksync
