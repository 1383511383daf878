// The natural peer of a docked synchronisation: the same work on the same
// kind of data, done in this process without the network and DDE. The
// agent's SyncDatabase runs on a thread of its own at the handheld end of
// an in-process stream (LocalStream.h), the plug-in's merge and export run
// on Tabulon Pro's session over the desktop database opened here, and the
// exchange files go from one machine's folder to the other's by plain file
// copies.
//
// The peer has machine roots of its own, and this process stands on them:
// the constructor sets TBM_DEVICE_ROOT and TBM_DESKTOP_ROOT, before any
// thread of the peer runs. The desktop database is made with Tabulon Pro's
// command line as for the docked machines, and brought to the handheld as
// a first synchronisation brings it: the plug-in's export, made into a
// handheld database by the agent.
//
// Failures throw BenchFailure (DockedMachines.h).
#pragma once

#include <filesystem>
#include <memory>

#include "DockedMachines.h"

namespace tbm::bench {

// How long each phase of one local run took, in milliseconds.
struct LocalPhases {
  double handheldExport = 0;  // SyncDatabase until its word that the changes are ready
  double copy = 0;            // the handheld's TBSC.sdb copied to the exchange folder
  double desktopMerge = 0;    // the plug-in's merge, saved
  double desktopExport = 0;   // the plug-in's export to TBSS.sdb
  double copyBack = 0;        // TBSS.sdb copied to the handheld's temporary folder
  double import = 0;          // the agent rebuilding the database from it, until its count
  double Sum() const {
    return handheldExport + copy + desktopMerge + desktopExport + copyBack + import;
  }
};

class LocalSyncPeer {
 public:
  // Sets the peer up under root (an empty folder) with the desktop
  // database of source, which ends up on the handheld too.
  LocalSyncPeer(const std::filesystem::path& root, const DesktopDatabaseSource& source);
  ~LocalSyncPeer();
  LocalSyncPeer(const LocalSyncPeer&) = delete;
  LocalSyncPeer& operator=(const LocalSyncPeer&) = delete;

  // The host path of the handheld's copy of the database.
  std::filesystem::path HandheldDatabase() const;

  // Synchronises the handheld's changes with the desktop, timing each
  // phase into *phases. Throws when a phase fails.
  void Synchronise(LocalPhases* phases);

 private:
  class Desktop;
  void MakeOnHandheld();

  std::filesystem::path device_;
  std::filesystem::path exchange_;
  std::string database_;
  std::unique_ptr<Desktop> desktop_;
};

}  // namespace tbm::bench
